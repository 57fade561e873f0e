#include "platform/kwprocess.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

int32_t KwGetExecutablePath(char* out, int32_t size) {
  if (out == nullptr || size <= 1) return -1;
  ssize_t n = ::readlink("/proc/self/exe", out, static_cast<size_t>(size));
  if (n < 0 || n >= size) {
    out[0] = '\0';
    return -1;
  }
  out[n] = '\0';
  return static_cast<int32_t>(n);
}

int32_t KwStartDetached(const char* program, const char* const* args, const char* workDir) {
  if (program == nullptr || *program == '\0') return -EINVAL;
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program));
  for (const char* const* a = args; a != nullptr && *a != nullptr; ++a) {
    argv.push_back(const_cast<char*>(*a));
  }
  argv.push_back(nullptr);

  posix_spawnattr_t attr;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attr);
  posix_spawn_file_actions_init(&actions);
  // Its own session, so closing the installer's terminal or process group
  // does not take the started program with it.
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::string folder = workDir != nullptr ? workDir : "";
  int err = 0;
  pid_t pid = 0;
  if (!folder.empty()) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
    err = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
#else
    err = ENOSYS;
#endif
  }
  if (err == 0) {
    // A path with a "/" is run as given; a bare name is looked up in PATH.
    if (std::strchr(program, '/') != nullptr) {
      err = posix_spawn(&pid, program, &actions, &attr, argv.data(), environ);
    } else {
      err = posix_spawnp(&pid, program, &actions, &attr, argv.data(), environ);
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (err != 0) return -err;
  // Nobody waits for the program; a small thread reaps it when it ends so
  // it does not linger as a zombie.
  std::thread([pid]() {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return 0;
}

int32_t KwOpenUrl(const char* url) {
  // An address starting with "-" would be read as an option of xdg-open.
  if (url == nullptr || *url == '\0' || *url == '-') return -EINVAL;
  const char* args[] = {url, nullptr};
  return KwStartDetached("xdg-open", args, nullptr);
}
