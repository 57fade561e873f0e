// KwByteRanges; see kwbyteranges.h.
#include "tool/http/kwbyteranges.h"

#include <algorithm>

void KwByteRanges::Add(int64_t offset, int64_t length) {
  if (length <= 0 || offset < 0) return;
  Range r(offset, offset + length);
  // Ranges that touch or overlap the new one fold into it.
  auto first = std::lower_bound(ranges_.begin(), ranges_.end(), r.first,
                                [](const Range& x, int64_t at) { return x.second < at; });
  auto last = first;
  while (last != ranges_.end() && last->first <= r.second) {
    r.first = std::min(r.first, last->first);
    r.second = std::max(r.second, last->second);
    ++last;
  }
  first = ranges_.erase(first, last);
  ranges_.insert(first, r);
}

int64_t KwByteRanges::Covered() const {
  int64_t sum = 0;
  for (const Range& r : ranges_) sum += r.second - r.first;
  return sum;
}

int64_t KwByteRanges::PrefixEnd() const {
  return !ranges_.empty() && ranges_.front().first == 0 ? ranges_.front().second : 0;
}

bool KwByteRanges::Contains(int64_t offset, int64_t length) const {
  if (length <= 0) return true;
  for (const Range& r : ranges_) {
    if (r.first <= offset && offset + length <= r.second) return true;
  }
  return false;
}

std::vector<KwByteRanges::Range> KwByteRanges::Missing(int64_t from, int64_t to) const {
  std::vector<Range> out;
  int64_t at = from;
  for (const Range& r : ranges_) {
    if (r.first >= to) break;
    if (r.first > at) out.emplace_back(at, r.first);
    at = std::max(at, r.second);
  }
  if (at < to) out.emplace_back(at, to);
  return out;
}
