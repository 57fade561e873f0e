#include "MsgBox/desktop/kwinstancelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

KwInstanceLock* g_processLock = nullptr;

// The user's runtime folder, else the temporary folder.
std::string RuntimeFolder() {
  for (const char* name : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
    const char* value = std::getenv(name);
    struct stat st;
    if (value != nullptr && value[0] == '/' && ::stat(value, &st) == 0 && S_ISDIR(st.st_mode)) {
      return value;
    }
  }
  return "/tmp";
}

// Folders written with and without a trailing separator are the same folder.
std::string Canonical(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

KwInstanceLock::~KwInstanceLock() {
  Release();
}

std::string KwInstanceLock::LockPathFor(const std::string& installFolder) {
  // FNV-1a of the folder: a fixed-length name whatever the folder holds.
  uint64_t hash = 1469598103934665603ull;
  for (unsigned char c : Canonical(installFolder)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "/tarnwick-installer-%u-%016llx.lock",
                static_cast<unsigned>(::getuid()), static_cast<unsigned long long>(hash));
  return RuntimeFolder() + name;
}

bool KwInstanceLock::Acquire(const std::string& installFolder) {
  Release();
  path_ = LockPathFor(installFolder);
  int fd = -1;
  // A holder removes the file as it lets go, so the file locked here may
  // have left its name in the meantime: the lock counts only while the
  // name still leads to the file locked, else it is taken again.
  for (int attempt = 0;; ++attempt) {
    fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      // Ask the holder to come to the front.
      int raise =
          ::open((path_ + ".raise").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (raise >= 0) ::close(raise);
      return false;
    }
    struct stat held, named;
    if (attempt >= 100 || (::fstat(fd, &held) == 0 && ::stat(path_.c_str(), &named) == 0 &&
                           held.st_dev == named.st_dev && held.st_ino == named.st_ino)) {
      break;
    }
    ::close(fd);
  }
  fd_ = fd;
  // A request left from before this installer started is no request to it.
  ::unlink((path_ + ".raise").c_str());
  return true;
}

bool KwInstanceLock::WaitUntilRaised(const std::string& installFolder, int ms) {
  const std::string request = LockPathFor(installFolder) + ".raise";
  for (int waited = 0;; waited += 50) {
    struct stat st;
    if (::stat(request.c_str(), &st) != 0) return true;
    if (waited >= ms) return false;
    ::usleep(50 * 1000);
  }
}

void KwInstanceLock::Release() {
  if (fd_ < 0) return;
  ::unlink((path_ + ".raise").c_str());
  // Removed while still locked, so no file is left behind per folder ever
  // installed into; see Acquire for the one who opened it just before.
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
}

bool KwInstanceLock::TakeRaiseRequest() {
  if (fd_ < 0) return false;
  return ::unlink((path_ + ".raise").c_str()) == 0;
}

KwInstanceLock* KwProcessInstanceLock() {
  return g_processLock;
}

void KwSetProcessInstanceLock(KwInstanceLock* lock) {
  g_processLock = lock;
}
