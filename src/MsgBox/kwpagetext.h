// Texts that the install page paints from the engine's counters: sizes,
// speeds, the progress line and the disk-space line.  Plain functions, no
// window: the page looks up the language texts and passes them in.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// 1023 -> "1023 B", 1024 -> "1.00 KB", 1048576 -> "1.00 MB", 2^30 -> "1.00 GB".
// Negative counts (a counter not yet known) are shown as "0 B".
std::string KwSizeText(int64_t bytes);

// "<label>: 1.50 MB/S" with the same thresholds as KwSizeText.
std::string KwSpeedText(const std::string& label, int64_t bytesPerSecond);

// The warning of the disk-space line shows below 40 GiB free.
inline constexpr int64_t kKwDiskWarningBytes = int64_t{40} << 30;
bool KwDiskSpaceLow(int64_t freeBytes);

// Fills the "%s" and "%d" places of a language text with `values` in order
// (a "%%" stays one "%").  Unlike printf it cannot be led astray by a
// language file's text: places without a value stay empty, extra values
// are dropped.
std::string KwFormatText(const std::string& pattern, std::initializer_list<std::string> values);
template <typename... T>
std::string KwFormatText(const std::string& pattern, const T&... values) {
  return KwFormatText(pattern, {std::string(values)...});
}

// Whether a folder with `freeBytes` free holds what the release needs.
bool KwDiskSpaceLow(int64_t freeBytes, int64_t neededBytes);

// The language texts the progress line is made of.
struct KwProgressTexts {
  std::string preparing;      // "Preparing"
  std::string downloading;    // "ondownload"
  std::string installing;     // "oninstalling"
  std::string alreadyLoaded;  // "alreadydonwloaded"
  std::string paused;         // "paused"
};

// The counters the progress line reads.
struct KwProgressCounters {
  int32_t installStage = 0;  // 0 idle, 1 downloading, 2 installing
  int64_t totalBytes = 0;    // 0 while the package list is not known
  int64_t doneBytes = 0;
  int64_t diskFree = 0;
  int64_t diskTotal = 0;
  bool paused = false;    // the download is held: its line says so
  bool finished = false;  // the run has installed everything: no line
};

// "Preparing ..." until the total is known; "<downloading> 12.50 %" while
// downloading, the same with the installing text while installing, and the
// disk summary "<already>: <free> / <total>" otherwise.  The percentage is
// kept within 0..100 so a counter that runs ahead never shows more.
std::string KwProgressLine(const KwProgressTexts& texts, const KwProgressCounters& counters);

// Done share of the run in 0..1; 0 while the total is unknown.
double KwDoneFraction(int64_t doneBytes, int64_t totalBytes);
