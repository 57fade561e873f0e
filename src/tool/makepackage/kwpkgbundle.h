// The self-contained installer: one installer executable with a whole
// package appended behind the 32-byte marker (eight bytes 0x01, eight 0x02,
// eight 0x03, the 8-byte NUL-padded version name).  Used by the developer
// bundling step and by kwpack's bundle command, so both write the same file.
//
// Only a package that lies whole in one volume can be carried: an installer
// that held the first of several volumes would install half a product, so
// such a volume is refused before anything is written.
#pragma once

#include <cstdint>
#include <string>

enum KwBundleResult : int32_t {
  kKwBundleOk = 0,
  kKwBundleCannotOpen = -1,    // an input cannot be opened; nothing written
  kKwBundleCannotCreate = -2,  // the output cannot be created, or is an input
  kKwBundleWriteFailed = -3,   // reading or writing failed midway; nothing left
  kKwBundleNotWhole = -4,      // the volume is not a whole package by itself
  kKwBundleBadVersion = -5,    // the version name is empty or longer than 8 bytes
};

// Walks the records of the volume at `path` without unpacking them.  True
// when it is volume 0 and every file that begins in it also ends in it;
// otherwise false with a one-line English reason in `why` (may be null).
bool KwIsWholePackageVolume(const char* path, std::string* why);

// The package name of a volume file: its file name up to the last "_"
// ("v201" for ".../v201_000.kwk"); the whole file name without one.
std::string KwVolumePackageName(const std::string& volumePath);

// Writes `output` as the installer's bytes, the marker with `version` and
// the volume's bytes.  The file appears whole or not at all (written beside
// under a temporary name, then renamed) and gets the run bits.  On failure
// `why` (may be null) receives a one-line English reason.
int32_t KwBundlePackage(const char* installerPath, const char* volumePath, const char* outputPath,
                        const std::string& version, std::string* why);
