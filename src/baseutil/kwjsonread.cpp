// Guarded JSON reading; see kwjsonread.h.
#include "baseutil/kwjsonread.h"

#include <json/reader.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

int32_t Refuse(int32_t code, const std::string& why, Json::Value* root, std::string* error) {
  *root = Json::Value();
  if (error != nullptr) *error = why;
  return code;
}

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

// True for a finite whole double that fits a signed 64-bit integer.
bool WholeInRange(double d) {
  return std::isfinite(d) && d == std::trunc(d) && d >= -9.2e18 && d <= 9.2e18;
}

// True when every text and member name below `value` is UTF-8.  An escape
// such as "\udc00" decodes to bytes that are not, whatever the input was.
bool AllTextsUtf8(const Json::Value& value) {
  if (value.isString()) {
    const char* begin = nullptr;
    const char* end = nullptr;
    value.getString(&begin, &end);
    return begin == nullptr || KwFirstBadUtf8(begin, static_cast<size_t>(end - begin)) ==
                                   static_cast<size_t>(end - begin);
  }
  if (!value.isObject() && !value.isArray()) return true;
  for (auto it = value.begin(); it != value.end(); ++it) {
    if (value.isObject()) {
      const std::string name = it.name();
      if (KwFirstBadUtf8(name.data(), name.size()) != name.size()) return false;
    }
    if (!AllTextsUtf8(*it)) return false;
  }
  return true;
}

}  // namespace

size_t KwFirstBadUtf8(const char* data, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(data);
  for (size_t i = 0; i < size;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 2;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
      cp = c & 0x07;
    } else {
      return i;
    }
    if (size - i <= n) return i;
    for (size_t k = 1; k <= n; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, UTF-16 surrogates and anything past U+10FFFF.
    if ((n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return i;
    }
    i += n + 1;
  }
  return size;
}

int KwJsonDepth(const char* data, size_t size, int limit) {
  int depth = 0, deepest = 0;
  bool inString = false, escaped = false;
  for (size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > deepest) deepest = depth;
      if (deepest > limit) return deepest;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

int32_t KwReadJson(const char* data, size_t size, Json::Value* root, std::string* error,
                   size_t maxSize) {
  if (size > maxSize) {
    return Refuse(
        kKwJsonTooLarge,
        "JSON document of " + std::to_string(size) + " bytes, more than " + std::to_string(maxSize),
        root, error);
  }
  if (data == nullptr) data = "";
  // JSON is UTF-8.  Other bytes inside a text would come back changed when
  // the text is written again (a signed release would no longer match its
  // signature), so they are refused here rather than mangled later.
  const size_t bad = KwFirstBadUtf8(data, size);
  if (bad != size) {
    return Refuse(kKwJsonMalformed,
                  "not a JSON document: byte " + std::to_string(bad) + " is not UTF-8", root,
                  error);
  }
  // Brackets inside comments count too, so the count can only be too high:
  // the library's own limit below catches anything this misses.
  if (KwJsonDepth(data, size, kKwJsonMaxDepth) > kKwJsonMaxDepth) {
    return Refuse(kKwJsonTooDeep,
                  "JSON document nested deeper than " + std::to_string(kKwJsonMaxDepth) + " levels",
                  root, error);
  }
  try {
    Json::CharReaderBuilder builder;
    builder["stackLimit"] = kKwJsonMaxDepth + 1;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value parsed;
    std::string errors;
    if (!reader->parse(data, data + size, &parsed, &errors)) {
      while (!errors.empty() && (errors.back() == '\n' || errors.back() == ' ')) errors.pop_back();
      for (char& c : errors) {
        if (c == '\n') c = ' ';
      }
      return Refuse(kKwJsonMalformed, "not a JSON document: " + errors, root, error);
    }
    if (!AllTextsUtf8(parsed)) {
      return Refuse(kKwJsonMalformed, "not a JSON document: an escaped text is not UTF-8", root,
                    error);
    }
    *root = std::move(parsed);
  } catch (const std::exception& e) {
    return Refuse(kKwJsonMalformed, std::string("not a JSON document: ") + e.what(), root, error);
  }
  return kKwJsonOk;
}

int32_t KwReadJson(const std::string& text, Json::Value* root, std::string* error) {
  return KwReadJson(text.data(), text.size(), root, error);
}

int32_t KwReadJsonFile(const std::string& path, Json::Value* root, std::string* error,
                       size_t maxSize) {
  struct stat st;
  std::ifstream in(path, std::ios::binary);
  if (!in || stat(path.c_str(), &st) != 0) {
    return Refuse(kKwJsonNoFile, "cannot read " + path, root, error);
  }
  if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > maxSize) {
    return Refuse(
        kKwJsonTooLarge,
        path + ": " + std::to_string(st.st_size) + " bytes, more than " + std::to_string(maxSize),
        root, error);
  }
  // Reads one byte past the limit, so a file that grows meanwhile is still refused.
  std::string text;
  char buf[65536];
  while (in && text.size() <= maxSize) {
    in.read(buf, sizeof(buf));
    text.append(buf, static_cast<size_t>(in.gcount()));
  }
  std::string why;
  int32_t r = KwReadJson(text.data(), text.size(), root, &why, maxSize);
  if (r != kKwJsonOk && error != nullptr) *error = path + ": " + why;
  return r;
}

bool KwJsonInt(const Json::Value& object, const char* member, int64_t* out) {
  if (!object.isObject() || !object.isMember(member)) return false;
  const Json::Value& value = object[member];
  if (value.isInt64()) {
    *out = value.asInt64();
    return true;
  }
  if (value.isDouble()) {
    double d = value.asDouble();
    if (!WholeInRange(d)) return false;
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

std::string KwJsonTextOr(const Json::Value& object, const char* member) {
  std::string out;
  if (!KwJsonText(object, member, &out)) out.clear();
  return out;
}

int64_t KwJsonLength(const Json::Value& value) {
  if (value.isString()) return std::strtoll(value.asCString(), nullptr, 10);
  if (value.isInt64()) return value.asInt64();
  if (value.isDouble() && std::isfinite(value.asDouble()) && std::fabs(value.asDouble()) <= 9.2e18)
    return static_cast<int64_t>(value.asDouble());
  return 0;
}
