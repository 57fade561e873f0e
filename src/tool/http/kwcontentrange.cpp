// Content-Range reading; see kwcontentrange.h.
#include "tool/http/kwcontentrange.h"

#include <strings.h>

#include <cstring>

std::string KwContentRangeOf(const char* header) {
  static const char kName[] = "content-range:";
  const size_t nameLength = sizeof(kName) - 1;
  std::string found;
  for (const char* line = header; line != nullptr && *line != '\0';) {
    const char* end = line + std::strcspn(line, "\r\n");
    if (static_cast<size_t>(end - line) >= nameLength &&
        strncasecmp(line, kName, nameLength) == 0) {
      const char* value = line + nameLength;
      while (value < end && (*value == ' ' || *value == '\t')) ++value;
      // Blanks around a header value are not part of it.
      const char* last = end;
      while (last > value && (last[-1] == ' ' || last[-1] == '\t')) --last;
      found.assign(value, static_cast<size_t>(last - value));
    }
    line = end;
    while (*line == '\r' || *line == '\n') ++line;
  }
  return found;
}

namespace {

// Reads 1 to 18 decimal digits (so the value always fits); false otherwise.
bool ReadNumber(const char** p, int64_t* out) {
  int64_t value = 0;
  int digits = 0;
  for (; **p >= '0' && **p <= '9'; ++*p) {
    if (++digits > 18) return false;
    value = value * 10 + (**p - '0');
  }
  if (digits == 0) return false;
  *out = value;
  return true;
}

}  // namespace

bool KwParseContentRange(const std::string& value, KwContentRange* out) {
  KwContentRange range;
  // The unit's name compares without regard to case; everything else is exact.
  if (value.size() < 6 || strncasecmp(value.c_str(), "bytes ", 6) != 0) return false;
  const char* p = value.c_str() + 6;
  if (!ReadNumber(&p, &range.first) || *p++ != '-') return false;
  if (!ReadNumber(&p, &range.last) || *p++ != '/') return false;
  if (!ReadNumber(&p, &range.total)) return false;
  // A NUL inside the value would hide what follows it.
  if (static_cast<size_t>(p - value.c_str()) != value.size()) return false;
  if (range.first > range.last || range.last >= range.total) return false;
  if (out != nullptr) *out = range;
  return true;
}
