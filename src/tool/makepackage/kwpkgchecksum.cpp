#include "tool/makepackage/kwpkgchecksum.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "baseutil/kwsha256.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Byte additions wrap modulo 256 in hardware, which is exactly the lane rule:
// a 16-byte vector whose first byte sits at a stream offset divisible by 8
// holds lane i in bytes i and i + 8, so whole vectors are summed with byte
// adds and folded into the eight accumulators once per call.
void KwVolumeChecksum::Update(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t i = 0;
  // Bring the stream offset to a multiple of 8 so vector lanes line up.
  while (i < size && ((offset_ + i) & 7) != 0) {
    acc_[(offset_ + i) & 7] += p[i];
    ++i;
  }
#if defined(__SSE2__)
  if (size - i >= 64) {
    __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0;
    for (; size - i >= 64; i += 64) {
      s0 = _mm_add_epi8(s0, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
      s1 = _mm_add_epi8(s1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16)));
      s2 = _mm_add_epi8(s2, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32)));
      s3 = _mm_add_epi8(s3, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48)));
    }
    const __m128i s = _mm_add_epi8(_mm_add_epi8(s0, s1), _mm_add_epi8(s2, s3));
    alignas(16) uint8_t lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), s);
    for (int k = 0; k < 8; ++k) acc_[k] += static_cast<uint8_t>(lanes[k] + lanes[k + 8]);
  }
#else
  if (size - i >= 8) {
    // Portable fallback: eight lanes per 64-bit word, summed bytewise.
    uint8_t lanes[8] = {};
    for (; size - i >= 8; i += 8)
      for (int k = 0; k < 8; ++k) lanes[k] += p[i + k];
    for (int k = 0; k < 8; ++k) acc_[k] += lanes[k];
  }
#endif
  for (; i < size; ++i) acc_[(offset_ + i) & 7] += p[i];
  offset_ += size;
}

std::string KwVolumeChecksum::Hex() const {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out(16, '0');
  for (int i = 0; i < 8; ++i) {
    out[2 * i] = kDigits[acc_[i] >> 4];
    out[2 * i + 1] = kDigits[acc_[i] & 15];
  }
  return out;
}

namespace {

// Reads the whole file once, handing every piece to `sum` and, when given, to
// `sha`.  False when it cannot be opened or read.
bool DigestFile(const char* path, KwVolumeChecksum* sum, KwSha256* sha) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  // A buffer that stays in the second-level cache lets the sums run at memory
  // speed right behind the read.
  constexpr size_t kBuf = 256 * 1024;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kBuf]);
  for (;;) {
    const ssize_t n = ::read(fd, buf.get(), kBuf);
    if (n > 0) {
      sum->Update(buf.get(), static_cast<size_t>(n));
      if (sha != nullptr) sha->Update(buf.get(), static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      ::close(fd);
      return false;
    }
  }
  ::close(fd);
  return true;
}

}  // namespace

std::string KwVolumeChecksumOfFile(const char* path) {
  KwVolumeChecksum sum;
  return DigestFile(path, &sum, nullptr) ? sum.Hex() : std::string();
}

bool KwVolumeDigestsOfFile(const char* path, std::string* checksum, std::string* sha256) {
  KwVolumeChecksum sum;
  KwSha256 sha;
  checksum->clear();
  sha256->clear();
  if (!DigestFile(path, &sum, &sha)) return false;
  *sha256 = sha.FinalHex();
  if (sha256->empty()) return false;
  *checksum = sum.Hex();
  return true;
}
