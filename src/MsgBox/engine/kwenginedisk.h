// Where the install engine learns the size and free space of the drive that
// holds a folder.  The default asks the platform; tests hand the engine a fake
// so the free-space boundary can be checked without a real disk of that size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class IKWEngineDisk {
 public:
  virtual ~IKWEngineDisk() = default;
  // Fills the total and free bytes of the drive holding `folder` (or its
  // nearest existing parent).  Returns false when nothing could be measured.
  virtual bool Measure(const char* folder, int64_t* total, int64_t* free) = 0;
};

// The platform's measure; one process-wide object, never destroyed.
IKWEngineDisk* KwDefaultEngineDisk();

// Bytes the volume files `names` already hold in `folder`: the blocks really
// written, at most each file's length, so a file sized up front but not yet
// filled counts only what arrived.  A continued download needs no new room
// for them.  Links and missing files count nothing.
int64_t KwVolumeBytesOnDisk(const std::string& folder, const std::vector<std::string>& names);
