// The record of installed version folders; see kwinstalledversions.h.
#include "MsgBox/desktop/kwinstalledversions.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "platform/kwregistry.h"

namespace {

constexpr const char* kStagingEnd = ".staging";
constexpr const char* kRetiredEnd = ".retired";

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A name that may be joined to a folder without leaving it.
bool SafeName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

int KwRecordInstalledVersion(const std::string& installPath, const std::string& version) {
  if (!SafeName(version)) return -1;
  KwRegKey key;
  int32_t r = KwRegKey::Create(KwHive::CurrentUser, kKwVersionsKey, kKwRegRead | kKwRegWrite, &key);
  if (r != kKwRegOk) return r;
  const std::string folder = WithoutTrailingSlash(installPath) + "/" + version;
  return key.SetString(folder.c_str(), version.c_str());
}

std::vector<std::string> KwRecordedVersions(const std::string& installPath) {
  std::vector<std::string> out;
  KwRegKey key;
  if (KwRegKey::Open(KwHive::CurrentUser, kKwVersionsKey, kKwRegRead, &key) != kKwRegOk) {
    return out;
  }
  const std::string prefix = WithoutTrailingSlash(installPath) + "/";
  std::string name;
  std::string value;
  for (uint32_t i = 0; key.EnumValue(i, &name, &value) == kKwRegOk; ++i) {
    // The key store is the user's to edit: only an entry whose path is
    // exactly this folder and the version it names counts.
    if (!SafeName(value) || name != prefix + value) continue;
    bool seen = false;
    for (const std::string& v : out) seen = seen || v == value;
    if (!seen) out.push_back(value);
  }
  return out;
}

std::string KwStagingFolderName(const std::string& version) {
  return "." + version + kStagingEnd;
}

std::string KwRetiredFolderName(const std::string& version) {
  return "." + version + kRetiredEnd;
}

bool KwIsStagingFolderName(const char* name) {
  if (name == nullptr || name[0] != '.') return false;
  const size_t n = std::strlen(name);
  for (const char* ending : {kStagingEnd, kRetiredEnd}) {
    const size_t end = std::strlen(ending);
    if (n > end + 1 && std::strcmp(name + n - end, ending) == 0) {
      return SafeName(std::string(name + 1, n - end - 1));
    }
  }
  return false;
}

bool KwIsVersionCompanionName(const char* name, const std::string& version) {
  if (name == nullptr || version.empty()) return false;
  std::string n(name);
  // The manifest kept beside the version folder for later updates.
  if (strcasecmp(n.c_str(), (version + ".kwm").c_str()) == 0) return true;
  const std::string journal = ".journal";
  if (n.size() > journal.size() &&
      n.compare(n.size() - journal.size(), journal.size(), journal) == 0) {
    n.resize(n.size() - journal.size());
  }
  // VERSION + "_" + three digits + ".tmp"
  if (n.size() != version.size() + 8 || n.compare(0, version.size(), version) != 0) return false;
  const char* rest = n.c_str() + version.size();
  if (rest[0] != '_' || !std::isdigit(static_cast<unsigned char>(rest[1])) ||
      !std::isdigit(static_cast<unsigned char>(rest[2])) ||
      !std::isdigit(static_cast<unsigned char>(rest[3]))) {
    return false;
  }
  return strcasecmp(rest + 4, ".tmp") == 0;
}
