// JSON member rules; see kwjsonaccess.h.
#include "tool/http/kwjsonaccess.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool ParseDecimal(const std::string& text, int64_t* out) {
  if (text.empty()) return false;
  const char* begin = text.c_str();
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(begin, &end, 10);
  if (errno != 0 || end == begin || *end != '\0') return false;
  // strtoll accepts leading blanks; a decimal number text does not have them.
  if (*begin != '-' && *begin != '+' && (*begin < '0' || *begin > '9')) return false;
  *out = value;
  return true;
}

}  // namespace

bool KwJsonInt(const Json::Value& object, const char* member, int64_t* out) {
  if (!object.isObject() || !object.isMember(member)) return false;
  const Json::Value& value = object[member];
  if (value.isInt64()) {
    *out = value.asInt64();
    return true;
  }
  if (value.isDouble()) {
    double d = value.asDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || std::fabs(d) > 9.2e18) return false;
    *out = static_cast<int64_t>(d);
    return true;
  }
  if (value.isString()) return ParseDecimal(value.asString(), out);
  return false;
}

bool KwJsonText(const Json::Value& object, const char* member, std::string* out) {
  if (!object.isObject() || !object.isMember(member)) return false;
  const Json::Value& value = object[member];
  if (value.isString()) {
    *out = value.asString();
    return true;
  }
  char text[64];
  if (value.isInt64()) {
    std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(value.asInt64()));
  } else if (value.isUInt64()) {
    std::snprintf(text, sizeof(text), "%llu", static_cast<unsigned long long>(value.asUInt64()));
  } else if (value.isDouble()) {
    std::snprintf(text, sizeof(text), "%.17g", value.asDouble());
  } else {
    return false;
  }
  *out = text;
  return true;
}

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
