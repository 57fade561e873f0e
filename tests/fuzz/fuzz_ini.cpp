// The ini reader and writer over any file: every name it lists can be read,
// a value written reads back, and writing one value changes no other.
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzzkit.h"
#include "platform/kwinifile.h"

namespace {

std::vector<std::string> Names(const char* list, int32_t length) {
  std::vector<std::string> out;
  for (int32_t at = 0; at < length && list[at] != '\0';) {
    const std::string name(list + at);
    out.push_back(name);
    at += static_cast<int32_t>(name.size()) + 1;
  }
  return out;
}

bool SameName(std::string a, std::string b) {
  for (std::string* s : {&a, &b}) {
    for (char& c : *s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return a == b;
}

// Values of up to 8 sections and 16 keys each, as the reader gives them.
// `exact`: every listed name reads back (not so for names that hold a NUL,
// which the list can only show cut).
std::map<std::pair<std::string, std::string>, std::string> Values(const std::string& file,
                                                                  bool exact) {
  static char buf[8192];
  std::map<std::pair<std::string, std::string>, std::string> out;
  int32_t n = KwGetPrivateProfileString(nullptr, nullptr, "", buf, sizeof(buf), file.c_str());
  KW_FUZZ_CHECK(n >= 0 && n < static_cast<int32_t>(sizeof(buf)));
  std::vector<std::string> sections = Names(buf, n);
  if (sections.size() > 8) sections.resize(8);
  for (const std::string& section : sections) {
    n = KwGetPrivateProfileString(section.c_str(), nullptr, "", buf, sizeof(buf), file.c_str());
    KW_FUZZ_CHECK(n >= 0 && n < static_cast<int32_t>(sizeof(buf)));
    std::vector<std::string> keys = Names(buf, n);
    if (keys.size() > 16) keys.resize(16);
    for (const std::string& key : keys) {
      n = KwGetPrivateProfileString(section.c_str(), key.c_str(), "\x01", buf, sizeof(buf),
                                    file.c_str());
      KW_FUZZ_CHECK(n >= 0 && n < static_cast<int32_t>(sizeof(buf)) && buf[n] == '\0');
      // A listed key exists: it never falls back to the default.  Its value
      // may happen to be the default's text, so a second, different default
      // tells the two apart.
      if (exact && std::strcmp(buf, "\x01") == 0) {
        static char again[8192];
        KwGetPrivateProfileString(section.c_str(), key.c_str(), "\x02", again, sizeof(again),
                                  file.c_str());
        KW_FUZZ_CHECK(std::strcmp(again, "\x01") == 0);
      }
      out[{section, key}] = buf;
      KwGetPrivateProfileInt(section.c_str(), key.c_str(), 7, file.c_str());
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string file = kwfuzz::ScratchDir() + "/fuzz.ini";
  kwfuzz::WriteFile(file, data, size);
  const bool exact = std::memchr(data, 0, size) == nullptr;
  const auto before = Values(file, exact);

  if (KwWritePrivateProfileString("Fz", "k", "written value", file.c_str()) != 1) return 0;
  char buf[64];
  KwGetPrivateProfileString("fz", "K", "", buf, sizeof(buf), file.c_str());
  KW_FUZZ_CHECK(std::strcmp(buf, "written value") == 0);
  const auto after = Values(file, exact);
  for (const auto& [where, value] : before) {
    if (SameName(where.first, "Fz")) continue;
    auto found = after.find(where);
    // Only the first 8 sections and 16 keys are compared; a new section may
    // push a listed one out of that window.
    if (found == after.end()) continue;
    KW_FUZZ_CHECK(found->second == value);
  }
  return 0;
}
