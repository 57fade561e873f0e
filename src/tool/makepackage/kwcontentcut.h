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

inline constexpr int32_t kMinPiece = 64 * 1024;
inline constexpr int32_t kAvgPiece = 256 * 1024;
inline constexpr int32_t kMaxPiece = 3200000;

// Length of the first piece of `data` (`size` bytes, at most kMaxPiece).
// Returns `size` when no boundary lies inside: the caller passes a full
// kMaxPiece buffer unless these are a file's last bytes.
int32_t CutPoint(const uint8_t* data, int32_t size);

}  // namespace kwcut
