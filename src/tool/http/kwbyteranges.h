// A set of byte ranges of one file, kept sorted and merged: which parts of a
// volume are on disk.  The engine's writer adds each segment it has written,
// the verify pass follows the covered prefix, and the volume journal saves
// and restores the set so a later run fetches only what is missing.  Plain
// data; the owner locks it when threads share it.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

class KwByteRanges {
 public:
  using Range = std::pair<int64_t, int64_t>;  // [first, end)

  void Clear() { ranges_.clear(); }
  // Adds [offset, offset + length); empty or negative ranges are ignored.
  void Add(int64_t offset, int64_t length);
  // Bytes covered in all.
  int64_t Covered() const;
  // End of the covered run that starts at byte 0 (0 when byte 0 is missing).
  int64_t PrefixEnd() const;
  // True when [offset, offset + length) is covered completely.
  bool Contains(int64_t offset, int64_t length) const;
  // The parts of [0, size) not covered, in order.
  std::vector<Range> Missing(int64_t size) const { return Missing(0, size); }
  // The parts of [from, to) not covered, in order.
  std::vector<Range> Missing(int64_t from, int64_t to) const;
  const std::vector<Range>& ranges() const { return ranges_; }

 private:
  std::vector<Range> ranges_;
};
