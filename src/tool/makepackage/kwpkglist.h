// The file list list.json: one entry per volume with its name, length and
// checksum, written byte for byte as the installer and the server expect
// (CR LF line ends, the length as a JSON string, names not escaped).
// Shared by the maker, the make-package window's "LIST JSON" button, kwpack
// and the reference server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KwVolumeEntry {
  std::string path;      // Full path of the volume file.
  std::string name;      // File name only, for example P_000.kwk.
  std::string checksum;  // 16 upper-case hex digits; empty when unreadable.
  int64_t size = 0;      // Bytes.
  std::string sha256;    // 64 lower-case hex digits; empty when unreadable.
};

// The exact text of list.json for `entries`, in order.
std::string KwBuildListJson(const std::vector<KwVolumeEntry>& entries);

// Creates (truncating) "%s/list.json" in `folder` and writes the list.
// Returns 0, or -1 when the file cannot be created or fully written.
int32_t KwWriteListJson(const std::string& folder, const std::vector<KwVolumeEntry>& entries);

// The part of `path` after its last "/" or "\": the name list.json carries.
std::string KwVolumeFileName(const std::string& path);

// Fills an entry for the volume file at `path`: size, checksum and SHA-256
// (from one read) and the part of the path after its last "/" or "\".
// Returns false when it cannot be read.
bool KwDescribeVolume(const std::string& path, KwVolumeEntry* entry);

// Collects the volumes "%s/%s_%03d.<extension>" of `package` in `folder` for
// k = 0, 1, ... up to 999, stopping at the first one that is missing or empty.
std::vector<KwVolumeEntry> KwFindVolumes(const std::string& folder, const std::string& package,
                                         const char* extension);

// The "LIST JSON" action of the make-package window: lists the volumes of
// `package` in `folder` (the maker's ".kwk" ones, else ".tmp" ones) and
// writes list.json there, and release.json beside it (see kwrelease.h) with
// `package` as the version, naming the release manifest read from the
// volumes (kwmanifestscan.h; none when they cannot be read whole).  Returns the number of entries written, 0 when
// no volume is there (then nothing is written: an empty list would make a
// package that still holds its lists look like one of no volumes), or -1
// when list.json cannot be written.
int32_t KwMakeVolumeListJson(const std::string& folder, const std::string& package);
