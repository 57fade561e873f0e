#include "tool/makepackage/kwpkgchecksum.h"

#include <cstdio>
#include <vector>

void KwVolumeChecksum::Update(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) acc_[(offset_ + i) & 7] += p[i];
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

std::string KwVolumeChecksumOfFile(const char* path) {
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return std::string();
  KwVolumeChecksum sum;
  std::vector<char> buf(1 << 20);
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) sum.Update(buf.data(), n);
  std::fclose(f);
  return sum.Hex();
}
