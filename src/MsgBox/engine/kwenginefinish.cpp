#include "MsgBox/engine/kwenginefinish.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "MsgBox/desktop/kwproducticon.h"
#include "MsgBox/desktop/kwshortcut.h"
#include "MsgBox/engine/kwenginestaging.h"
#include "baseutil/ikwlog.h"
#include "platform/kwknownfolders.h"
#include "platform/kwregistry.h"

bool KwIsDownloadedVolumeName(const char* name) {
  if (name == nullptr || name[0] == '\0' || name[0] == '.') return false;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr) return false;
  return std::strlen(dot + 1) == 3 && strcasecmp(dot + 1, "tmp") == 0;
}

namespace {

// The journal a download left beside a volume ("%s.journal" of its name)
// goes with the volumes.
bool IsVolumeJournalName(const char* name) {
  const char kSuffix[] = ".journal";
  size_t n = std::strlen(name);
  if (n <= sizeof(kSuffix) - 1 || std::strcmp(name + n - (sizeof(kSuffix) - 1), kSuffix) != 0)
    return false;
  return KwIsDownloadedVolumeName(std::string(name, n - (sizeof(kSuffix) - 1)).c_str());
}

}  // namespace

int KwDeleteDownloadedVolumes(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return 0;
  int deleted = 0;
  while (struct dirent* e = readdir(dir)) {
    if (!KwIsDownloadedVolumeName(e->d_name) && !IsVolumeJournalName(e->d_name)) continue;
    std::string path = std::string(folder) + "/" + e->d_name;
    struct stat st;
    // lstat: a link named like a volume is not a downloaded volume either.
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlink(path.c_str()) == 0) ++deleted;
  }
  closedir(dir);
  return deleted;
}

int32_t KwWriteInstallPath(const char* path) {
  KwRegKey key;
  int32_t r = KwRegKey::Create(KwHive::CurrentUser, kKwProductKey, kKwRegRead | kKwRegWrite, &key);
  if (r == kKwRegOk) r = key.SetString(kKwInstallPathValue, path);
  if (r != kKwRegOk) {
    KW_LOG(4, "CKWinstaller::StartRun", "InstallPath not written: %d", static_cast<int>(r));
  }
  return r;
}

bool KwProductRegistered() {
  KwRegKey key;
  if (KwRegKey::Open(KwHive::LocalMachine, kKwUninstallKey, kKwRegRead, &key) == kKwRegOk) {
    return true;
  }
  uint32_t subkeys = 0;
  uint32_t values = 0;
  return KwRegKey::Open(KwHive::CurrentUser, kKwVersionsKey, kKwRegRead, &key) == kKwRegOk &&
         key.QueryInfo(&subkeys, &values) == kKwRegOk && values > 0;
}

int32_t KwWriteUninstallEntry(const char* installPath, const char* versionText,
                              const char* destination) {
  KwRegKey key;
  int32_t r =
      KwRegKey::Create(KwHive::LocalMachine, kKwUninstallKey, kKwRegRead | kKwRegWrite, &key);
  if (r != kKwRegOk) {
    KW_LOG(4, "SetUninstallRegistry", "Failed to open registry key.");
    return r;
  }
  std::string uninstall = std::string(installPath) + "/uninstall.exe";
  std::string icon = std::string(destination) + "/Windows/Tarnwick.exe";
  int32_t results[] = {
      key.SetString("DisplayName", "Tarnwick"), key.SetString("UninstallString", uninstall.c_str()),
      key.SetString("DisplayVersion", versionText), key.SetString("DisplayIcon", icon.c_str())};
  for (int32_t v : results) {
    if (v != kKwRegOk) {
      KW_LOG(4, "SetUninstallRegistry", "value not written: %d", static_cast<int>(v));
      return v;
    }
  }
  return kKwRegOk;
}

namespace {

// The desktop entry and the applications-menu entry of the installed
// product, both showing the product icon placed in the data folder.  Like
// the designed shortcut, they are conveniences: failures are only logged.
void MakeProductEntries(const std::string& target) {
  char data[1024];
  std::string icon;
  if (KwGetKnownFolder(KwKnownFolder::AppData, data, sizeof(data)) == 0) {
    icon = KwPlaceProductIcon(data);
  }
  if (icon.empty()) KW_LOG(4, "CKWinstaller::runinstall", "product icon not placed");
  CreateDesktopShortcutWithIcon(target.c_str(), kKwProductShortcutName, 0, icon.c_str());
  if (!icon.empty()) {
    int32_t r = KwCreateMenuEntry(target.c_str(), icon.c_str());
    if (r != 0) KW_LOG(4, "CKWinstaller::runinstall", "menu entry not written: %d", r);
  }
}

}  // namespace

int KwRunFinishingSteps(const KwFinishInput& in) {
  int failed = 0;
  if (in.makeShortcut) MakeProductEntries(in.destination + "/Windows/Tarnwick.exe");
  if (KwWriteUninstallEntry(in.installPath.c_str(), in.versionText.c_str(),
                            in.destination.c_str()) != kKwRegOk) {
    ++failed;
  }
  if (KwWriteInstallPath(in.installPath.c_str()) != kKwRegOk) ++failed;
  std::string marker = in.installPath + "/" + kKwUnzipMarker;
  if (unlink(marker.c_str()) != 0 && errno != ENOENT) ++failed;
  if (in.removeDownloads) KwDeleteDownloadedVolumes(in.installPath.c_str());
  KwClearStagingLeftovers(in.installPath);

  // The uninstaller travels inside the package; it belongs beside the version
  // folders so that removing a version folder does not remove it.
  std::string from = in.destination + "/ikwdriver/uninstall.exe";
  std::string to = in.installPath + "/uninstall.exe";
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    KW_LOG(4, "CKWinstaller::runinstall", "uninstaller not moved: %s (%d)", from.c_str(), errno);
    ++failed;
  }
  return failed;
}
