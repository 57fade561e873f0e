#include "platform/kwatomicfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/kwtempfile.h"

int32_t KwReadWholeFile(const std::string& path, std::string* bytes) {
  bytes->clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -errno;
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof(chunk));
    if (n < 0) {
      if (errno == EINTR) continue;
      int err = errno;
      ::close(fd);
      return -err;
    }
    if (n == 0) break;
    bytes->append(chunk, static_cast<size_t>(n));
  }
  ::close(fd);
  return 0;
}

int32_t KwReplaceFileAtomic(const std::string& path, const std::string& bytes, uint32_t mode) {
  // A new file gets `mode` within the umask; an existing regular file passes
  // its mode on, less write access for others.  lstat: a link's target says
  // nothing about the file that replaces the link.
  mode_t final = KwMaskedMode(static_cast<mode_t>(mode));
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    final = KwInheritableMode(st.st_mode);
  }
  std::string temp;
  int fd = KwCreateTempBeside(path, &temp);
  if (fd < 0) return fd;
  const char* data = bytes.data();
  size_t left = bytes.size();
  int err = 0;
  while (left > 0) {
    ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      break;
    }
    data += n;
    left -= static_cast<size_t>(n);
  }
  if (err == 0 && ::fchmod(fd, final) != 0) err = errno;
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(temp.c_str(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(temp.c_str());
    return -err;
  }
  return 0;
}

KwFileLock::KwFileLock(const std::string& lockPath) {
  fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) {
    status_ = -errno;
    return;
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      status_ = -errno;
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

KwFileLock::~KwFileLock() {
  if (fd_ >= 0) ::close(fd_);  // Closing releases the lock.
}
