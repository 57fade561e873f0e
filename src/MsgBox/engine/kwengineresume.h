// The resume table the online page fills when it finds an earlier download
// and the install engine reads for volumes it streams from the server.
//
// The online page owns the table (kKwResumeEntries entries); the engine only
// reads it during a run and keeps no copy of the pointer beyond the page's
// life.  An entry with an empty name ends the table.
#pragma once

#include <cstdint>

inline constexpr int kKwResumeEntries = 1024;
inline constexpr int32_t kKwResumeInstalled = 2;  // the volume needs no reading

struct KwResumeEntry {
  char name[80];   // compared with the volume's name
  int32_t status;  // kKwResumeInstalled: skip the volume
  int64_t reserved;
  int64_t offset;  // byte offset from which to continue reading
};
static_assert(sizeof(KwResumeEntry) == 104, "resume entries are 104 bytes");
