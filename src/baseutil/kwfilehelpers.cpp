// File helpers shared by the unpacker, the install engine and the uninstaller.
#include "baseutil/kwfilehelpers.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

// Deletes everything inside the open folder `dirFd` without ever following a
// symbolic link: entries are examined with lstat semantics and subfolders are
// opened with O_NOFOLLOW relative to their parent, so a link (or a folder
// swapped for a link meanwhile) is unlinked as a link.  Returns the result of
// the last removal (0 or -errno); `dirFd` is consumed.
int DeleteContents(int dirFd) {
  DIR* dir = ::fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return -1;
  }
  int result = 0;
  while (struct dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat st;
    if (::fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      result = -errno;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      int child = ::openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child >= 0) DeleteContents(child);
      result = ::unlinkat(dirfd(dir), name, AT_REMOVEDIR) == 0 ? 0 : -errno;
    } else {
      result = ::unlinkat(dirfd(dir), name, 0) == 0 ? 0 : -errno;
    }
  }
  ::closedir(dir);
  return result;
}

}  // namespace

void CreateFoldersForPath(const char* filePath) {
  if (filePath == nullptr) return;
  std::string path(filePath);
  size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos) return;
  // On this system "\" is an ordinary file-name byte, so folders named with
  // either separator are created as real nested folders.
  std::string folder = path.substr(0, cut);
  for (char& c : folder) {
    if (c == '\\') c = '/';
  }
  // There is no drive prefix here: every missing component from the root on is
  // created, so a short top-level folder ("/tw" of "/tw/inst") is made too.
  for (size_t i = 1; i < folder.size(); ++i) {
    if (IsSeparator(folder[i])) ::mkdir(folder.substr(0, i).c_str(), 0755);
  }
  if (!folder.empty()) ::mkdir(folder.c_str(), 0755);
}

int OpenVolumeForWrite(const char* path, bool create) {
  const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT | O_TRUNC : 0);
  // One retry is enough for a link found at the name; a link planted again
  // between the removal and the retry fails the open instead of being followed.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int fd = ::open(path, flags, 0644);
    if (fd >= 0 || errno != ELOOP) return fd;
    struct stat st;
    if (::lstat(path, &st) != 0 || !S_ISLNK(st.st_mode) || ::unlink(path) != 0) return -1;
    if (!create) {
      errno = ENOENT;
      return -1;
    }
  }
  errno = ELOOP;
  return -1;
}

int DeleteFolderTree(const char* path) {
  if (path == nullptr || *path == '\0') return -EINVAL;
  struct stat st;
  if (::lstat(path, &st) != 0) return -errno;
  // A link given as the tree itself is removed as a link: its target is
  // outside the tree the caller meant.
  if (S_ISLNK(st.st_mode)) return ::unlink(path) == 0 ? 0 : -errno;
  int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -errno;  // Cannot be listed: nothing is done.
  DeleteContents(fd);
  return ::rmdir(path) == 0 ? 0 : -errno;
}

bool KwReadFullyAt(int fd, int64_t offset, uint8_t* buf, size_t n) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, buf + got, n - got, offset + static_cast<int64_t>(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    got += static_cast<size_t>(r);
  }
  return true;
}
