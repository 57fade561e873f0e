// Where the install engine learns the size and free space of the drive that
// holds a folder.  The default asks the platform; tests hand the engine a fake
// so the free-space boundary can be checked without a real disk of that size.
#pragma once

#include <cstdint>

class IKWEngineDisk {
 public:
  virtual ~IKWEngineDisk() = default;
  // Fills the total and free bytes of the drive holding `folder` (or its
  // nearest existing parent).  Returns false when nothing could be measured.
  virtual bool Measure(const char* folder, int64_t* total, int64_t* free) = 0;
};

// The platform's measure; one process-wide object, never destroyed.
IKWEngineDisk* KwDefaultEngineDisk();
