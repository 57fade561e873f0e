// KwStaging; see kwenginestaging.h.
#include "MsgBox/engine/kwenginestaging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"

namespace {

// Inside the staging folder; names starting with "." never come from a
// package, so it cannot meet a product file.
constexpr const char* kCheckpointName = "/.kwcheckpoint";

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Swaps two folders in one step; false with errno when the file system
// cannot.
bool Exchange(const std::string& a, const std::string& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

}  // namespace

namespace {

int ClearLeftovers(const std::string& installPath, const std::string& keep) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(installPath.c_str())) {
    while (struct dirent* e = ::readdir(dir)) {
      if (KwIsStagingFolderName(e->d_name) && keep != e->d_name) names.push_back(e->d_name);
    }
    ::closedir(dir);
  }
  int cleared = 0;
  const std::string retiredEnd = ".retired";
  for (const std::string& name : names) {
    const std::string path = installPath + "/" + name;
    if (!IsFolder(path)) continue;
    const bool retired =
        name.size() > retiredEnd.size() &&
        name.compare(name.size() - retiredEnd.size(), retiredEnd.size(), retiredEnd) == 0;
    if (retired) {
      // Killed between setting the old version aside and putting the new
      // one in its place: the old one goes back.
      const std::string version = name.substr(1, name.size() - 1 - retiredEnd.size());
      const std::string target = installPath + "/" + version;
      if (!Exists(target) && std::rename(path.c_str(), target.c_str()) == 0) {
        KW_LOG(4, "CKWinstaller::staging", "put back %s", target.c_str());
        ++cleared;
        continue;
      }
    }
    if (DeleteFolderTree(path.c_str()) == 0) {
      KW_LOG(4, "CKWinstaller::staging", "removed leftover %s", path.c_str());
      ++cleared;
    }
  }
  return cleared;
}

}  // namespace

int KwClearStagingLeftovers(const std::string& installPath) {
  return ClearLeftovers(installPath, "");
}

bool KwStaging::Reopen(const std::string& installPath, const std::string& version,
                       std::string* checkpoint) {
  const std::string staging = installPath + "/" + KwStagingFolderName(version);
  std::string text;
  int fd = ::open((staging + kCheckpointName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof(buffer))) > 0 && text.size() < (1u << 20)) {
    text.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  if (n < 0 || !IsFolder(staging)) return false;
  ClearLeftovers(installPath, KwStagingFolderName(version));
  installPath_ = installPath;
  version_ = version;
  staging_ = staging;
  target_ = installPath + "/" + version;
  open_ = true;
  *checkpoint = text;
  return true;
}

bool KwStaging::SaveCheckpoint(const std::string& text) {
  if (!open_) return false;
  const std::string path = staging_ + kCheckpointName;
  const std::string temporary = path + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool written = ::close(fd) == 0 && done == text.size();
  if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

int KwStaging::Begin(const std::string& installPath, const std::string& version) {
  installPath_ = installPath;
  version_ = version;
  staging_ = installPath + "/" + KwStagingFolderName(version);
  target_ = installPath + "/" + version;
  open_ = false;
  KwClearStagingLeftovers(installPath);
  if (::mkdir(staging_.c_str(), 0755) != 0) {
    const int error = errno;
    KW_LOG(4, "CKWinstaller::staging", "cannot create %s (%d)", staging_.c_str(), error);
    return -error;
  }
  open_ = true;
  return 0;
}

int KwStaging::Commit() {
  if (!open_) return -EINVAL;
  ::unlink((staging_ + kCheckpointName).c_str());
  if (!Exists(target_)) {
    if (std::rename(staging_.c_str(), target_.c_str()) != 0) return -errno;
    open_ = false;
    return 0;
  }
  if (Exchange(staging_, target_)) {
    // The staging name now holds the version installed before.
    open_ = false;
    DeleteFolderTree(staging_.c_str());
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return -errno;
  // No swap on this file system: the old folder steps aside under a name
  // the next run recognises, so a kill in between loses neither.
  const std::string retired = installPath_ + "/" + KwRetiredFolderName(version_);
  if (Exists(retired) && DeleteFolderTree(retired.c_str()) != 0) return -EEXIST;
  if (std::rename(target_.c_str(), retired.c_str()) != 0) return -errno;
  if (std::rename(staging_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    std::rename(retired.c_str(), target_.c_str());
    return -error;
  }
  open_ = false;
  DeleteFolderTree(retired.c_str());
  return 0;
}

void KwStaging::Abandon() {
  if (!open_) return;
  open_ = false;
  if (IsFolder(staging_)) DeleteFolderTree(staging_.c_str());
}

bool KwStagingHasCheckpoint(const std::string& installPath, const std::string& version) {
  struct stat st;
  const std::string path = installPath + "/" + KwStagingFolderName(version) + kCheckpointName;
  return !version.empty() && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
