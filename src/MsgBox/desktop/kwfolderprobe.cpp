#include "MsgBox/desktop/kwfolderprobe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "baseutil/kwfilehelpers.h"

std::string KwTrimFolder(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

bool KwProbeFolder(const std::string& folder) {
  const std::string probe = folder + "/test.txt";
  CreateFoldersForPath(probe.c_str());
  // O_NOFOLLOW: a link named like the probe must not make us create or
  // remove a file somewhere else.
  int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  bool existed = false;
  if (fd < 0 && errno == EEXIST) {
    existed = true;
    fd = open(probe.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
  }
  if (fd < 0) return false;
  close(fd);
  if (!existed) unlink(probe.c_str());
  return true;
}
