// The gear hash cutter; see kwcontentcut.h.
#include "tool/makepackage/kwcontentcut.h"

#include <array>

namespace {

// 256 fixed pseudo-random words (splitmix64 from a fixed seed).  They are
// part of the package's cutting rule: changing them re-cuts every file.
std::array<uint64_t, 256> MakeGear() {
  std::array<uint64_t, 256> gear{};
  uint64_t x = 0x5457524E5749434BULL;  // any fixed seed
  for (uint64_t& g : gear) {
    x += 0x9E3779B97F4A7C15ULL;
    uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    g = z ^ (z >> 31);
  }
  return gear;
}

const std::array<uint64_t, 256> kGear = MakeGear();

// log2 of the average piece; the masks test the hash's top bits, which the
// shift-and-add mixes from the last 64 bytes.  Before the average a harder
// mask (two bits more), after it an easier one (two bits fewer): the
// normalisation that keeps pieces close to the average.
constexpr int kAvgBits = 17;
static_assert((1 << kAvgBits) == kwcut::kAvgPiece, "average is a power of two");
constexpr uint64_t TopBits(int n) {
  return ~uint64_t(0) << (64 - n);
}
constexpr uint64_t kMaskHard = TopBits(kAvgBits + 2);
constexpr uint64_t kMaskEasy = TopBits(kAvgBits - 2);

}  // namespace

int32_t kwcut::CutPoint(const uint8_t* data, int32_t size) {
  if (size > kMaxPiece) size = kMaxPiece;
  if (size <= kMinPiece) return size;
  const int32_t normal = size < kAvgPiece ? size : kAvgPiece;
  uint64_t h = 0;
  int32_t i = kMinPiece;
  for (; i < normal; ++i) {
    h = (h << 1) + kGear[data[i]];
    if ((h & kMaskHard) == 0) return i + 1;
  }
  for (; i < size; ++i) {
    h = (h << 1) + kGear[data[i]];
    if ((h & kMaskEasy) == 0) return i + 1;
  }
  return size;
}
