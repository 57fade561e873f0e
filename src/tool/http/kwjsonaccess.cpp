// Query value encoding; the member rules are in kwjsonread.cpp.  See kwjsonaccess.h.
#include "tool/http/kwjsonaccess.h"

#include <cstring>

std::string KwUrlEncodeValue(const std::string& value) {
  static const char kHex[] = "0123456789ABCDEF";
  static const char kSafe[] = "-._~/:@!$'()*,;";
  std::string out;
  out.reserve(value.size());
  for (unsigned char c : value) {
    bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                (c != 0 && std::strchr(kSafe, c) != nullptr);
    if (safe) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}
