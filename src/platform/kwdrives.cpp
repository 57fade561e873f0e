#include "platform/kwdrives.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/kwknownfolders.h"

namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// Entries of `folder` that are folders, as full paths with a trailing "/".
std::vector<std::string> SubFolders(const std::string& folder) {
  std::vector<std::string> out;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return out;
  while (struct dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    std::string path = folder + "/" + entry->d_name;
    if (IsFolder(path)) out.push_back(path + "/");
  }
  ::closedir(dir);
  std::sort(out.begin(), out.end());
  return out;
}

// A mount point below /media/<user>/ or /run/media/<user>/ (or directly
// below /media, as older systems mount there).
bool IsMountPoint(const std::string& path) {
  struct stat self;
  struct stat parent;
  if (::stat(path.c_str(), &self) != 0) return false;
  if (::stat((path + "..").c_str(), &parent) != 0) return false;
  return self.st_dev != parent.st_dev;
}

class SystemDiskSpace : public KwDiskSpace {
 public:
  int32_t Query(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) override {
    if (path == nullptr || *path == '\0') return -EINVAL;
    std::string probe(path);
    for (char& c : probe) {
      if (c == '\\') c = '/';
    }
    for (;;) {
      struct statvfs fs;
      if (::statvfs(probe.c_str(), &fs) == 0) {
        if (freeBytes != nullptr) *freeBytes = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
        if (totalBytes != nullptr) *totalBytes = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
        return 0;
      }
      if (errno != ENOENT && errno != ENOTDIR) return -errno;
      // Not there yet: measure the folder it would be made in.
      while (probe.size() > 1 && probe.back() == '/') probe.pop_back();
      size_t cut = probe.find_last_of('/');
      if (cut == std::string::npos) {
        probe = ".";
      } else if (cut == 0) {
        probe = "/";
      } else {
        probe.resize(cut);
      }
    }
  }
};

}  // namespace

std::vector<KwDrive> KwListDrives() {
  std::vector<KwDrive> drives;
  char home[1024];
  if (KwGetKnownFolder(KwKnownFolder::Home, home, sizeof(home)) == 0 && IsFolder(home)) {
    drives.push_back({WithSlash(home), KwDriveType::Fixed});
  }
  std::vector<std::string> candidates;
  for (const char* base : {"/media", "/run/media"}) {
    for (const auto& first : SubFolders(base)) {
      if (IsMountPoint(first)) {
        candidates.push_back(first);
        continue;
      }
      for (const auto& second : SubFolders(first.substr(0, first.size() - 1))) {
        if (IsMountPoint(second)) candidates.push_back(second);
      }
    }
  }
  for (const auto& path : candidates) drives.push_back({path, KwDriveType::Removable});
  return drives;
}

KwDriveType KwGetDriveType(const char* root) {
  if (root == nullptr || *root == '\0') return KwDriveType::NoRootDir;
  std::string path = WithSlash(root);
  if (!IsFolder(path)) return KwDriveType::NoRootDir;
  if (StartsWith(path, "/media/") || StartsWith(path, "/run/media/")) {
    return KwDriveType::Removable;
  }
  return KwDriveType::Fixed;
}

KwDiskSpace& KwSystemDiskSpace() {
  static SystemDiskSpace* system = new SystemDiskSpace();
  return *system;
}

int32_t KwGetDiskSpace(const char* path, uint64_t* freeBytes, uint64_t* totalBytes) {
  return KwSystemDiskSpace().Query(path, freeBytes, totalBytes);
}
