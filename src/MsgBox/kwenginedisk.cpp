#include "MsgBox/kwenginedisk.h"

#include "platform/kwdrives.h"

namespace {

// Hands the question to the platform's figures for the folder's drive.
class KwPlatformEngineDisk : public IKWEngineDisk {
 public:
  bool Measure(const char* folder, int64_t* total, int64_t* free) override {
    uint64_t freeBytes = 0;
    uint64_t totalBytes = 0;
    if (folder == nullptr || folder[0] == '\0') return false;
    if (KwSystemDiskSpace().Query(folder, &freeBytes, &totalBytes) != 0) return false;
    *total = static_cast<int64_t>(totalBytes);
    *free = static_cast<int64_t>(freeBytes);
    return true;
  }
};

}  // namespace

IKWEngineDisk* KwDefaultEngineDisk() {
  static KwPlatformEngineDisk disk;
  return &disk;
}
