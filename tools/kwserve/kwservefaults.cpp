// Fault decisions and range parsing of kwserve; see kwservefaults.h.
#include "kwservefaults.h"

#include <strings.h>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

bool ReadNumber(const char*& p, int64_t* out) {
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  int64_t value = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (value > (INT64_MAX - 9) / 10) return false;
    value = value * 10 + (*p++ - '0');
  }
  *out = value;
  return true;
}

}  // namespace

double KwFaultPlan::Draw(uint64_t seed, uint64_t request, KwFault kind) {
  uint64_t h = Mix(Mix(seed) ^ Mix(request * 4 + static_cast<uint64_t>(kind)));
  return static_cast<double>(h >> 11) / 9007199254740992.0;  // 2^53
}

bool KwFaultPlan::Decide(uint64_t request, KwFault kind, double rate) {
  if (rate <= 0 || Draw(m_seed, request, kind) >= rate) return false;
  if (m_budget >= 0) {
    int64_t used = m_injected.fetch_add(1);
    if (used >= m_budget) {
      m_injected.fetch_sub(1);
      return false;
    }
    return true;
  }
  m_injected.fetch_add(1);
  return true;
}

int KwParseByteRange(const char* value, int64_t size, int64_t* first, int64_t* last) {
  if (value == nullptr) return 1;
  const char* p = value;
  while (*p == ' ') ++p;
  if (strncasecmp(p, "bytes=", 6) != 0) return 1;
  p += 6;
  while (*p == ' ') ++p;
  if (std::strchr(p, ',') != nullptr)
    return 1;  // Several ranges: the whole file is a valid answer.
  int64_t a = -1;
  int64_t b = -1;
  if (*p == '-') {
    ++p;
    int64_t suffix = 0;
    if (!ReadNumber(p, &suffix)) return 1;
    while (*p == ' ') ++p;
    if (*p != '\0') return 1;
    if (suffix == 0 || size == 0) return -1;
    a = suffix >= size ? 0 : size - suffix;
    b = size - 1;
  } else {
    if (!ReadNumber(p, &a) || *p != '-') return 1;
    ++p;
    if (std::isdigit(static_cast<unsigned char>(*p))) {
      if (!ReadNumber(p, &b)) return 1;
      if (b < a) return 1;  // Syntactically invalid: ignored.
    }
    while (*p == ' ') ++p;
    if (*p != '\0') return 1;
    if (a >= size) return -1;
    if (b < 0 || b >= size) b = size - 1;
  }
  *first = a;
  *last = b;
  return 0;
}
