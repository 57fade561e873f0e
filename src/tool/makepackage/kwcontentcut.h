// Content-defined cutting of a file into pieces: a gear rolling hash with
// normalised cut masks.  A boundary depends only on the 64 bytes before it,
// so inserting or removing bytes in a large file moves the boundaries near
// the change and leaves every other piece, and its SHA-256, as it was; an
// update then fetches only the pieces around the change.
//
// Pieces are at least kMinPiece bytes (except a file's last), cut after
// about kAvgPiece bytes on average, and never longer than the format's
// 3,200,000 bytes.  Pure functions of the bytes: the same file always cuts
// the same way, whatever the reads or threads.
#pragma once

#include <cstdint>

namespace kwcut {

// Measured on a release pair of 100 MB (files rewritten, an overwrite and
// an insertion): fetched bytes with the manifest were 3.33 MB at an average
// of 64 KiB, 3.46 MB at 128 KiB, 4.05 MB at 256 KiB and 4.3 to 4.8 MB at
// 512 KiB and 1 MiB.  128 KiB keeps most of the gain while the manifest of a
// 40 GB product stays near 18 MB (half of what 64 KiB would need).
inline constexpr int32_t kMinPiece = 32 * 1024;
inline constexpr int32_t kAvgPiece = 128 * 1024;
inline constexpr int32_t kMaxPiece = 3200000;

// Length of the first piece of `data` (`size` bytes, at most kMaxPiece).
// Returns `size` when no boundary lies inside: the caller passes a full
// kMaxPiece buffer unless these are a file's last bytes.
int32_t CutPoint(const uint8_t* data, int32_t size);

}  // namespace kwcut
