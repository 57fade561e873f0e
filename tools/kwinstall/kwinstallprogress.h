// Progress lines of kwinstall: one line redrawn in place on a terminal,
// plain lines (at most one every few seconds) otherwise.  Pure text
// formatting, so the wording can be tested without a run.
#pragma once

#include <cstdint>
#include <string>

// "1.50 GB", "12.00 MB", "3.00 KB", "17 B" (1024-based, as the install page).
std::string KwInstallSizeText(int64_t bytes);
// "1:02:03" or "4:05" for seconds; "--:--" when unknown (negative).
std::string KwInstallTimeText(int64_t seconds);
// Seconds left at `speed` bytes/s for the rest of `total`; -1 when unknown.
int64_t KwInstallSecondsLeft(int64_t done, int64_t total, int64_t speed);

// The progress line: phase, percent, bytes, and on download the rate and time left.
std::string KwInstallProgressLine(const char* phase, int64_t done, int64_t total, int64_t speed,
                                  bool showRate);

// What the install phase is doing beside a download: " | unpack  12.5%  NAME",
// the file name cut from the left to at most `nameWidth` characters ("..."
// first) so the line keeps its length.  Empty before unpacking started.
std::string KwInstallUnpackPart(int64_t done, int64_t total, const std::string& file,
                                size_t nameWidth);
