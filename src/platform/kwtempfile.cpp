// Temporary files beside a target and the umask; see kwtempfile.h.
#include "platform/kwtempfile.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

mode_t KwCurrentUmask() {
  // The kernel reports the mask in /proc; setting and restoring it instead
  // would race with files other threads create meanwhile, so that fallback
  // runs under a lock and only where /proc has no answer.
  if (FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof(line), f) != nullptr) {
      if (std::strncmp(line, "Umask:", 6) == 0) {
        std::fclose(f);
        return static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
      }
    }
    std::fclose(f);
  }
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

namespace {

// Twelve letters and digits from the kernel's random source.
std::string RandomPart() {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[12];
  size_t got = 0;
  while (got < sizeof(bytes)) {
    ssize_t n = ::getrandom(bytes + got, sizeof(bytes) - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  // Without the random source the name is still unique enough to try;
  // O_EXCL keeps a taken one from being used.
  static unsigned counter = 0;
  for (size_t i = got; i < sizeof(bytes); ++i) {
    bytes[i] = static_cast<unsigned char>(::getpid() + i * 31 + counter++);
  }
  std::string out;
  for (unsigned char b : bytes) out += kAlphabet[b % (sizeof(kAlphabet) - 1)];
  return out;
}

}  // namespace

int KwCreateTempBeside(const std::string& path, std::string* tempPath) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = path + "." + RandomPart() + ".part";
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      *tempPath = candidate;
      return fd;
    }
    if (errno != EEXIST) return -errno;
  }
  return -EEXIST;
}
