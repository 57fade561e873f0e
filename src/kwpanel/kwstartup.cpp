#include "kwpanel/kwstartup.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "main/kwglobals.h"
#include "platform/kwinifile.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"
#include "platform/kwregistry.h"

namespace {

constexpr int kExePathFetch = 1000;
constexpr int kProgramDirFetch = 510;
constexpr int kActionExeFetch = 511;
constexpr int kInstallPathRead = 1024;

// The executable's path with at most `limit` characters.
bool ExecutablePath(char* out, int32_t size, int32_t limit) {
  char full[4096];
  if (KwGetExecutablePath(full, sizeof(full)) < 0) {
    out[0] = '\0';
    return false;
  }
  if (static_cast<int32_t>(std::strlen(full)) > limit) full[limit] = '\0';
  KwCopyText(out, size, full);
  return true;
}

// Forms `folder` + `tail` into dst; a result that does not fit leaves dst
// empty, because a cut path would name some other place.
void JoinInto(char* dst, size_t size, const char* folder, const char* tail) {
  std::string joined = std::string(folder) + tail;
  if (joined.size() >= size) {
    dst[0] = '\0';
    return;
  }
  std::memcpy(dst, joined.c_str(), joined.size() + 1);
}

}  // namespace

void KwCutAtLastSeparator(const char* path, char* out, int32_t size) {
  if (out == nullptr || size <= 0) return;
  std::string text = path == nullptr ? "" : path;
  size_t cut = text.find_last_of("/\\");
  text = cut == std::string::npos ? "" : text.substr(0, cut);
  KwCopyText(out, size, text.c_str());
}

bool KwFillExePaths() {
  char exe[kExePathSize];
  bool ok = ExecutablePath(exe, sizeof(exe), kExePathFetch);
  KwFillExePathsFrom(exe);
  return ok;
}

void KwFillExePathsFrom(const char* exePath) {
  std::string exe = exePath == nullptr ? "" : exePath;
  if (exe.size() > static_cast<size_t>(kExePathFetch)) exe.resize(kExePathFetch);
  KwCopyText(g_exePath, sizeof(g_exePath), exe.c_str());
  KwCutAtLastSeparator(g_exePath, g_exeDir, sizeof(g_exeDir));
}

void KwReadInstallPath() {
  g_installPath[0] = '\0';
  KwRegKey key;
  if (KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead, &key) !=
      kKwRegOk) {
    return;
  }
  char value[kInstallPathRead];
  uint32_t size = sizeof(value);
  if (key.QueryString("InstallPath", value, &size) != kKwRegOk) return;
  if (std::strlen(value) >= sizeof(g_installPath)) return;
  KwCopyText(g_installPath, sizeof(g_installPath), value);
}

void KwFormDataDir() {
  char appData[kFolderSize];
  if (KwGetKnownFolder(KwKnownFolder::AppData, appData, sizeof(appData)) != 0) {
    g_dataDir[0] = '\0';
    return;
  }
  JoinInto(g_dataDir, sizeof(g_dataDir), appData, "/tarnwick");
  if (g_dataDir[0] == '\0') return;
  std::string path(g_dataDir);
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
  }
}

void KwFillProgramDir() {
  char exe[kExePathSize];
  ExecutablePath(exe, sizeof(exe), kProgramDirFetch);
  KwFillProgramDirFrom(exe);
}

void KwFillProgramDirFrom(const char* exePath) {
  std::string exe = exePath == nullptr ? "" : exePath;
  if (exe.size() > static_cast<size_t>(kProgramDirFetch)) exe.resize(kProgramDirFetch);
  KwCutAtLastSeparator(exe.c_str(), g_programDir, sizeof(g_programDir));
  KwCopyText(g_programDirCopy, sizeof(g_programDirCopy), g_programDir);
  JoinInto(g_logRoot, sizeof(g_logRoot), g_programDir, "/log");
}

void KwIniPath(char* out, int32_t size) {
  JoinInto(out, static_cast<size_t>(size), g_programDir, "/itarnwick.ini");
}

void KwReadActionExe(const char* iniPath) {
  char value[kActionExeFetch + 1];
  KwGetPrivateProfileString("ACTIONDRIVER", "EXE", "", value, sizeof(value), iniPath);
  KwCopyText(g_actionExe, sizeof(g_actionExe), value);
  struct stat st;
  if (g_actionExe[0] == '\0' || ::stat(g_actionExe, &st) != 0 || st.st_size == 0) {
    JoinInto(g_actionExe, sizeof(g_actionExe), g_programDirCopy, "/ikwactionapp.exe");
  }
}

int32_t KwReadCodePage(const char* iniPath) {
  return KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", 936, iniPath);
}
