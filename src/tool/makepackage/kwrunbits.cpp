// KwRunBits and KwCurrentUmask; see kwrunbits.h.
#include "tool/makepackage/kwrunbits.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

void KwRunBits::Add(const uint8_t* data, size_t length) {
  const size_t take = std::min(length, kRunBitsHeadSize - m_length);
  if (take > 0) std::memcpy(m_head + m_length, data, take);
  m_length += take;
}

bool KwRunBits::Runnable() const {
  if (m_length >= 2 && m_head[0] == '#' && m_head[1] == '!') return true;
  return m_length >= 4 && std::memcmp(m_head,
                                      "\x7f"
                                      "ELF",
                                      4) == 0;
}

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
