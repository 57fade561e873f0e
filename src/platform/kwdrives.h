// Drives and disk space.  The installer chooses among "drives"; here the
// user's home folder (with a trailing "/") is the one fixed drive and the
// mounts under /media and /run/media are removable drives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The system's drive-type numbers, so callers compare as they always have.
enum class KwDriveType : int32_t {
  Unknown = 0,
  NoRootDir = 1,
  Removable = 2,
  Fixed = 3,
  Remote = 4,
  CdRom = 5,
  RamDisk = 6,
};

struct KwDrive {
  std::string root;  // Always ends in "/".
  KwDriveType type = KwDriveType::Unknown;
};

// The home folder first, then removable mounts sorted by path.
std::vector<KwDrive> KwListDrives();

// Type of the drive whose root is `root`: Fixed for the home folder,
// Removable below /media or /run/media, NoRootDir when it does not exist,
// and Fixed for any other existing folder.
KwDriveType KwGetDriveType(const char* root);

// Disk space seen from `path`, measured at the nearest existing folder on
// the path (so a target folder that does not exist yet still gets a
// figure).  `freeBytes` is the space this user may use.  0 or -errno.
class KwDiskSpace {
 public:
  virtual ~KwDiskSpace() = default;
  virtual int32_t Query(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) = 0;
};

// The real file system's figures; a process-wide object that is never freed.
KwDiskSpace& KwSystemDiskSpace();

// Shorthand for KwSystemDiskSpace().Query.
int32_t KwGetDiskSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes);
