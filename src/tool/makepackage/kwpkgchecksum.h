// The volume checksum: eight byte-wide lane sums over a whole volume file,
// header included, printed as sixteen upper-case hexadecimal digits
// ("abc" gives 6162630000000000).  A lane sum, not a digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Running state, so a volume can be summed while it is read or written in
// pieces of any size; the stream offset keeps each byte in its lane.
class KwVolumeChecksum {
 public:
  void Update(const void* data, size_t size);
  std::string Hex() const;  // 16 upper-case hex digits.
  uint64_t offset() const { return offset_; }

 private:
  uint8_t acc_[8] = {};
  uint64_t offset_ = 0;
};

// Checksum of the file at `path`; the empty string when it cannot be opened.
std::string KwVolumeChecksumOfFile(const char* path);

// The checksum and the lower-case SHA-256 of the file at `path`, both from
// one read of it; false (both empty) when it cannot be read.
bool KwVolumeDigestsOfFile(const char* path, std::string* checksum, std::string* sha256);
