// Test helper: package folders for the network tests.  A volume here is the
// 24-byte volume header followed by pseudo-random bytes: the network layer
// moves and checks volumes as opaque bytes, so no records are needed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "kwtest/tempdir.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace kwtest {

inline std::string VolumeBytes(int64_t size, uint32_t number, uint32_t seed) {
  std::string bytes(static_cast<size_t>(size), '\0');
  const unsigned char header[24] = {
      'K', 'W', 'P', 'K', 1, 0, 0, 0, static_cast<unsigned char>(number)};
  for (int64_t i = 0; i < size && i < 24; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<char>(header[i]);
  uint32_t x = seed * 2654435761u + 1;
  for (int64_t i = 24; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[static_cast<size_t>(i)] = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline std::string ChecksumOf(const std::string& bytes) {
  KwVolumeChecksum sum;
  sum.Update(bytes.data(), bytes.size());
  return sum.Hex();
}

// Writes volumes "P_000.kwk"... of the given sizes and their list.json into
// `folder`; returns the volumes' bytes.
inline std::vector<std::string> WritePackage(const std::string& folder, const std::string& name,
                                             const std::vector<int64_t>& sizes) {
  std::vector<std::string> volumes;
  std::string list = "[\r\n";
  for (size_t i = 0; i < sizes.size(); ++i) {
    std::string bytes =
        VolumeBytes(sizes[i], static_cast<uint32_t>(i), static_cast<uint32_t>(i + 7));
    char file[300];
    std::snprintf(file, sizeof(file), "%s_%03d.kwk", name.c_str(), static_cast<int>(i));
    WriteFile(folder + "/" + file, bytes);
    char entry[600];
    std::snprintf(entry, sizeof(entry),
                  "{ \"name\":\"%s\", \"length\":\"%lld\", \"checksum\":\"%s\" }", file,
                  static_cast<long long>(sizes[i]), ChecksumOf(bytes).c_str());
    if (i > 0) list += ",\r\n";
    list += entry;
    volumes.push_back(bytes);
  }
  list += "]\r\n";
  WriteFile(folder + "/list.json", list);
  return volumes;
}

}  // namespace kwtest
