#include "MsgBox/desktop/kwuninstallsurvey.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstring>

#include "MsgBox/desktop/kwshortcut.h"
#include "platform/kwregistry.h"

namespace {

constexpr const char* kVersionFolder = "V2.0.0";

std::string FolderOf(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string Trimmed(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

// The same folder, however it was written: resolved where it exists.
bool SameFolder(const std::string& a, const std::string& b) {
  if (Trimmed(a) == Trimmed(b)) return true;
  char ra[4096];
  char rb[4096];
  return ::realpath(a.c_str(), ra) != nullptr && ::realpath(b.c_str(), rb) != nullptr &&
         std::strcmp(ra, rb) == 0;
}

std::string ReadValue(KwHive hive, const char* key, const char* name) {
  KwRegKey k;
  if (KwRegKey::Open(hive, key, kKwRegRead, &k) != kKwRegOk) return "";
  std::string value;
  if (k.GetString(name, &value) != kKwRegOk) return "";
  return value;
}

bool KeyExists(KwHive hive, const char* key) {
  KwRegKey k;
  return KwRegKey::Open(hive, key, kKwRegRead, &k) == kKwRegOk;
}

constexpr const char* kProductKey = "SOFTWARE\\kws\\Tarnwick";
constexpr const char* kProgramsKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool KwUninstallItem::operator==(const KwUninstallItem& o) const {
  return std::strcmp(key, o.key) == 0 && name == o.name;
}

std::string KwEntriesFolder() {
  const std::string stored = ReadValue(KwHive::CurrentUser, kProductKey, "InstallPath");
  if (!stored.empty()) return Trimmed(stored);
  const std::string uninstaller = ReadValue(KwHive::LocalMachine, kProgramsKey, "UninstallString");
  if (!uninstaller.empty()) return FolderOf(uninstaller);
  return "";
}

bool KwEntriesNameFolder(const std::string& folder) {
  const std::string stored = ReadValue(KwHive::CurrentUser, kProductKey, "InstallPath");
  const std::string uninstaller = ReadValue(KwHive::LocalMachine, kProgramsKey, "UninstallString");
  if (stored.empty() && uninstaller.empty()) return true;
  return (!stored.empty() && SameFolder(stored, folder)) ||
         (!uninstaller.empty() && SameFolder(FolderOf(uninstaller), folder));
}

std::vector<KwUninstallItem> KwSurveyUninstall(const char* selfPath, const char* dataRoot,
                                               const char* desktopDir) {
  std::vector<KwUninstallItem> items;
  if (selfPath == nullptr) return items;
  const std::string folder = FolderOf(selfPath);
  if (DIR* dir = ::opendir(folder.c_str())) {
    while (struct dirent* entry = ::readdir(dir)) {
      struct stat st;
      const std::string path = folder + "/" + entry->d_name;
      if (std::strlen(entry->d_name) == std::strlen(kVersionFolder) &&
          ::strcasecmp(entry->d_name, kVersionFolder) == 0 && ::lstat(path.c_str(), &st) == 0 &&
          S_ISDIR(st.st_mode)) {
        items.push_back({"uninst_version", entry->d_name});
      }
    }
    ::closedir(dir);
  }
  if (!KwEntriesNameFolder(folder)) return items;
  const bool haveData = dataRoot != nullptr && dataRoot[0] == '/';
  if (haveData && Exists(std::string(dataRoot) + "/tarnwick")) items.push_back({"uninst_data", ""});
  if (desktopDir != nullptr && desktopDir[0] != '\0' &&
      Exists(std::string(desktopDir) + "/" + kKwProductShortcutName + ".desktop")) {
    items.push_back({"uninst_desktop", ""});
  }
  if (haveData && Exists(KwApplicationsFolder(dataRoot) + "/" + kKwProductMenuEntryFile)) {
    items.push_back({"uninst_menu", ""});
  }
  if (KeyExists(KwHive::CurrentUser, kProductKey)) items.push_back({"uninst_settings", ""});
  if (KeyExists(KwHive::LocalMachine, kProgramsKey)) items.push_back({"uninst_programs", ""});
  return items;
}
