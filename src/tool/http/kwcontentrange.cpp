#include "tool/http/kwcontentrange.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
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
      found.assign(value, static_cast<size_t>(end - value));
    }
    line = end;
    while (*line == '\r' || *line == '\n') ++line;
  }
  return found;
}

namespace {

// Reads a run of decimal digits; false when there is none.
bool ReadNumber(const char** p, int64_t* out) {
  if (!std::isdigit(static_cast<unsigned char>(**p))) return false;
  char* end = nullptr;
  long long value = std::strtoll(*p, &end, 10);
  if (end == *p || value < 0) return false;
  *out = value;
  *p = end;
  return true;
}

}  // namespace

bool KwParseContentRange(const std::string& value, KwContentRange* out) {
  KwContentRange range;
  if (strncasecmp(value.c_str(), "bytes", 5) != 0) return false;
  const char* p = value.c_str() + 5;
  while (*p == ' ') ++p;
  if (!ReadNumber(&p, &range.first) || *p != '-') return false;
  ++p;
  if (!ReadNumber(&p, &range.last) || range.last < range.first) return false;
  if (*p == '/') {
    ++p;
    if (!ReadNumber(&p, &range.total)) range.total = -1;
  }
  if (out != nullptr) *out = range;
  return true;
}
