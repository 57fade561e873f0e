#include "platform/kwknownfolders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/kwatomicfile.h"

namespace {

std::string EnvFolder(const char* name) {
  const char* value = std::getenv(name);
  // Relative values are invalid under the freedesktop rules and ignored.
  if (value == nullptr || value[0] != '/') return "";
  return value;
}

std::string Home() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd entry;
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "";
}

std::string ConfigHome() {
  std::string dir = EnvFolder("XDG_CONFIG_HOME");
  if (!dir.empty()) return dir;
  std::string home = Home();
  return home.empty() ? "" : home + "/.config";
}

// Reads XDG_DESKTOP_DIR="$HOME/..." from user-dirs.dirs; only the forms that
// file is defined to hold ("$HOME/..." or an absolute path) are accepted.
std::string DesktopFromUserDirs() {
  std::string config = ConfigHome();
  if (config.empty()) return "";
  std::string text;
  if (KwReadWholeFile(config + "/user-dirs.dirs", &text) != 0) return "";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 16, "XDG_DESKTOP_DIR=") != 0) continue;
    std::string value = line.substr(start + 16);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    if (value.compare(0, 5, "$HOME") == 0) {
      std::string home = Home();
      if (home.empty()) return "";
      value = home + value.substr(5);
    }
    if (value.empty() || value[0] != '/') continue;
    return value;
  }
  return "";
}

std::string Lookup(KwKnownFolder which) {
  switch (which) {
    case KwKnownFolder::Desktop:
    case KwKnownFolder::CommonDesktop: {
      std::string dir = EnvFolder("XDG_DESKTOP_DIR");
      if (dir.empty()) dir = DesktopFromUserDirs();
      if (dir.empty()) {
        std::string home = Home();
        if (!home.empty()) dir = home + "/Desktop";
      }
      return dir;
    }
    case KwKnownFolder::AppData: {
      std::string dir = EnvFolder("XDG_DATA_HOME");
      if (!dir.empty()) return dir;
      std::string home = Home();
      return home.empty() ? "" : home + "/.local/share";
    }
    case KwKnownFolder::Config:
      return ConfigHome();
    case KwKnownFolder::Home:
      return Home();
    case KwKnownFolder::Temp: {
      std::string dir = EnvFolder("TMPDIR");
      return dir.empty() ? "/tmp" : dir;
    }
  }
  return "";
}

}  // namespace

int32_t KwGetKnownFolder(KwKnownFolder which, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return -1;
  out[0] = '\0';
  std::string dir = Lookup(which);
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty() || dir.size() >= static_cast<size_t>(size)) return -1;
  std::memcpy(out, dir.c_str(), dir.size() + 1);
  return 0;
}
