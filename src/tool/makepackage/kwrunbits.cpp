// KwRunBits; see kwrunbits.h.
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
