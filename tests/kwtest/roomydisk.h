// A disk interface for tests that reports plenty of room (400 GiB free of
// 500 GiB), so runs never depend on the free space of the machine's disk.
#pragma once

#include <cstdint>

#include "MsgBox/engine/kwenginedisk.h"

namespace kwtest {

class RoomyDisk : public IKWEngineDisk {
 public:
  bool Measure(const char*, int64_t* total, int64_t* free) override {
    *total = int64_t{500} << 30;
    *free = int64_t{400} << 30;
    return true;
  }
};

}  // namespace kwtest
