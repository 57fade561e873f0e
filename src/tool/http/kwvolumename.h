// The local file name of a downloaded volume: "%s_%03d.tmp" of the version
// and the volume's position in the server's list.  The installer forms it
// itself; the key the server sends is only used to ask for the bytes, so a
// server cannot name a file of the install folder (or the home folder, when
// that is the install folder) and have it overwritten or deleted, and two
// volumes can never share a file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "tool/http/kwpackageentry.h"

// Largest version text whose volume names fit PackageEntry::name.
inline constexpr size_t kKwVersionNameMax = sizeof(PackageEntry{}.name) - 1 - 8;

// Largest install folder for which "%s/%s" of the folder and the longest
// volume name fits PackageEntry::localPath: longer folders are refused
// before anything is fetched.
inline constexpr size_t kKwInstallFolderMax =
    sizeof(PackageEntry{}.localPath) - 1 - 1 - (sizeof(PackageEntry{}.name) - 1);

inline std::string KwLocalVolumeName(const std::string& version, size_t index) {
  char number[32];
  std::snprintf(number, sizeof(number), "_%03zu.tmp", index);
  return version + number;
}
