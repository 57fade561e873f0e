#include "MsgBox/engine/kwenginedisk.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

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

int64_t KwVolumeBytesOnDisk(const std::string& folder, const std::vector<std::string>& names) {
  int64_t bytes = 0;
  std::set<std::string> counted;
  for (const std::string& name : names) {
    if (name.empty() || !counted.insert(name).second) continue;
    struct stat st;
    if (::lstat((folder + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    bytes += std::min<int64_t>(st.st_size, static_cast<int64_t>(st.st_blocks) * 512);
  }
  return bytes;
}
