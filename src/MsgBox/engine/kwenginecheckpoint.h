// How far the install phase of a download run got: the volumes it unpacked
// into the staging folder and then removed, and the file the next volume
// continues.  Saved in the staging folder after every volume, so a run that
// stops (a full disk, a kill, the user) is continued by the next one without
// fetching those volumes again; taken up only for the same release (each
// volume's listed checksum and SHA-256 must match).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/http/kwpackageentry.h"

struct KwUnpackCheckpoint {
  std::string version;
  int volumeCount = 0;
  // "CHECKSUM SHA256" of each volume unpacked, in order ("-" for no SHA-256).
  std::vector<std::string> done;
  // The stream stands inside this file when the next volume begins.
  bool insideFile = false;
  std::string fileName;
  int64_t fileSize = 0;
  int64_t fileWritten = 0;

  // "CHECKSUM SHA256" of a listed volume.
  static std::string DigestOf(const PackageEntry& e);
  std::string Format() const;
  // False for anything that is not a whole checkpoint.
  static bool Parse(const std::string& text, KwUnpackCheckpoint* out);
  // True when the unpacked volumes are the first ones of `entries` of
  // `version`.
  bool Fits(const std::string& version, const std::vector<PackageEntry>& entries) const;
};
