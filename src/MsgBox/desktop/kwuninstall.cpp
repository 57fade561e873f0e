// The uninstaller's removal sequence.
#include "MsgBox/desktop/kwuninstall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "MsgBox/desktop/kwshortcut.h"
#include "MsgBox/desktop/kwuninstallsurvey.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"
#include "platform/kwregistry.h"

namespace {

// The product version's folder as the first packages laid it out; removed
// even when no record names it, as installers before the record did.
constexpr const char* kVersionFolder = "V2.0.0";
// The manifest the installer keeps beside that folder for updates.
constexpr const char* kPointerFile = "install.txt";
// The marker that lies in the install folder while volumes are unpacked.
constexpr const char* kUnzipMarker = "unzip.ins";
// "install.txt" holds one path; anything longer is not one.
constexpr size_t kPointerLimit = 4096;

bool SameIgnoringCase(const char* a, const char* b) {
  return std::strlen(a) == std::strlen(b) && ::strcasecmp(a, b) == 0;
}

// Collects what the removal did.
class Removal {
 public:
  explicit Removal(KwUninstallResult* result) : result_(result) {}

  void Note(const std::string& what) {
    KW_LOG(1, "Uninstall", "removed %s", what.c_str());
    result_->removed.push_back(what);
  }

  // Removes a plain file (a link as a link); a missing file is no failure.
  void File(const std::string& path) {
    if (::unlink(path.c_str()) == 0) return Note(path);
    if (errno != ENOENT) ++result_->failed;
  }

  // Removes a folder with everything in it; a missing folder is no failure.
  void Folder(const std::string& path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return;
    if (!S_ISDIR(st.st_mode)) return;
    if (DeleteFolderTree(path.c_str()) == 0) return Note(path);
    ++result_->failed;
  }

  void Failed() { ++result_->failed; }

 private:
  KwUninstallResult* result_;
};

// Whether `folder` (ending in "/") may be used to form the names of the
// installer copy and its library.  It must be an absolute path without "."
// or ".." steps, backslashes or control characters: the file is written by
// someone else, and a relative or crafted path must not make the
// uninstaller delete files somewhere it was never meant to reach.
bool PlainFolder(const std::string& folder) {
  if (folder.empty() || folder[0] != '/' || folder.back() != '/') return false;
  for (unsigned char c : folder) {
    if (c < 0x20 || c == 0x7F || c == '\\') return false;
  }
  size_t start = 1;
  while (start < folder.size()) {
    size_t end = folder.find('/', start);
    std::string step = folder.substr(start, end - start);
    if (step.empty() || step == "." || step == "..") return false;
    start = end + 1;
  }
  return true;
}

// Deletes the installer copy and its library named by the text of
// "install.txt": the text is cut after its last separator and the two fixed
// names are formed in that folder.  Only regular files go; a link of that
// name is removed as a link (unlink never follows it).
void RemoveInstallerCopy(const std::string& content, Removal& removal) {
  std::string text = content.substr(0, content.find('\0'));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  size_t cut = text.find_last_of("/\\");
  if (cut == std::string::npos) return;
  std::string folder = text.substr(0, cut + 1);
  if (!PlainFolder(folder)) return;
  for (const char* name : {"libcurl.dll", "tarnwickinstall.exe"}) {
    std::string path = folder + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;
    removal.File(path);
  }
}

void HandlePointerFile(const std::string& path, Removal& removal) {
  std::string content;
  struct stat st;
  bool readable = false;
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
      readable = true;
      char chunk[1024];
      ssize_t n;
      while ((n = ::read(fd, chunk, sizeof(chunk))) > 0 && content.size() <= kPointerLimit) {
        content.append(chunk, static_cast<size_t>(n));
      }
      ::close(fd);
    }
  }
  removal.File(path);
  if (readable && content.size() <= kPointerLimit) RemoveInstallerCopy(content, removal);
}

void RemoveKeys(Removal& removal) {
  KwRegKey kws;
  if (KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws", kKwRegWrite, &kws) == kKwRegOk) {
    KwRegKey product;
    const bool had = KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead,
                                    &product) == kKwRegOk;
    int32_t deleted = kws.DeleteTree("Tarnwick");
    kws.Close();
    if (had && deleted == kKwRegOk) removal.Note("key store: SOFTWARE\\kws\\Tarnwick");
    // The maker's key goes only when no other product left anything in it.
    if (deleted == kKwRegOk && KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws",
                                              kKwRegRead | kKwRegWrite, &kws) == kKwRegOk) {
      uint32_t subkeys = 0;
      uint32_t values = 0;
      if (kws.QueryInfo(&subkeys, &values) == kKwRegOk && subkeys == 0 && values == 0 &&
          kws.DeleteKey("") == kKwRegOk) {
        removal.Note("key store: SOFTWARE\\kws");
      }
    }
  }
  KwRegKey programs;
  if (KwRegKey::Open(KwHive::LocalMachine,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                     kKwRegWrite | kKwRegRead, &programs) == kKwRegOk) {
    KwRegKey entry;
    const bool had = KwRegKey::Open(KwHive::LocalMachine,
                                    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                    "Tarnwick",
                                    kKwRegRead, &entry) == kKwRegOk;
    if (programs.DeleteKey("Tarnwick") == kKwRegOk && had) {
      removal.Note("key store: SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick");
    }
  }
}

// What the install folder holds of ours, gathered before anything is
// deleted (deleting while the folder is listed could skip entries).
struct FolderContents {
  std::vector<std::string> folders;   // version and staging folders
  std::vector<std::string> files;     // volumes, journals, the unpack marker
  std::vector<std::string> pointers;  // "install.txt"
};

FolderContents ListOurs(const std::string& folder, const std::vector<std::string>& versions) {
  FolderContents out;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return out;
  while (struct dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      // A half version a killed install left: always ours, whatever version.
      const bool staging = KwIsStagingFolderName(name);
      const bool version =
          name[0] != '.' && (SameIgnoringCase(name, kVersionFolder) ||
                             std::find(versions.begin(), versions.end(), name) != versions.end());
      if (staging || version) out.folders.push_back(path);
      continue;
    }
    if (!S_ISREG(st.st_mode) || name[0] == '.') continue;
    if (SameIgnoringCase(name, kPointerFile)) {
      out.pointers.push_back(path);
      continue;
    }
    bool companion = std::strcmp(name, kUnzipMarker) == 0;
    for (const std::string& v : versions)
      companion = companion || KwIsVersionCompanionName(name, v);
    companion = companion || KwIsVersionCompanionName(name, kVersionFolder);
    if (companion) out.files.push_back(path);
  }
  ::closedir(dir);
  std::sort(out.folders.begin(), out.folders.end());
  std::sort(out.files.begin(), out.files.end());
  return out;
}

}  // namespace

KwUninstallResult KwUninstallFrom(const char* selfPath, const char* dataRoot,
                                  const char* desktopDir) {
  KwUninstallResult result;
  Removal removal(&result);
  if (selfPath == nullptr) {
    removal.Failed();
    return result;
  }
  std::string self(selfPath);
  size_t cut = self.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? "." : self.substr(0, cut);
  if (folder.empty()) folder = "/";
  // The settings, the entries and the data folder exist once per user; a
  // copy of the uninstaller in another folder leaves them to the
  // installation they name and removes only what lies in its own folder.
  // Asked before the key store entries go.
  const bool entriesOurs = KwEntriesNameFolder(folder);

  // Without a data folder there is nothing of ours to remove; never form
  // "/tarnwick" from an empty root.
  if (entriesOurs && dataRoot != nullptr && *dataRoot == '/') {
    removal.Folder(std::string(dataRoot) + "/tarnwick");
  }

  DIR* probe = ::opendir(folder.c_str());
  if (probe == nullptr) {
    removal.Failed();
    return result;
  }
  ::closedir(probe);
  // Read before the key store entries go.
  const std::vector<std::string> versions = KwRecordedVersions(folder);
  const FolderContents ours = ListOurs(folder, versions);
  for (const auto& path : ours.folders) removal.Folder(path);
  for (const auto& path : ours.files) removal.File(path);
  for (const auto& path : ours.pointers) HandlePointerFile(path, removal);

  // A running program may remove its own file here; the process keeps its
  // image until it ends.
  struct stat st;
  if (::lstat(self.c_str(), &st) == 0 && S_ISREG(st.st_mode)) removal.File(self);

  if (!entriesOurs) return result;
  if (desktopDir != nullptr && *desktopDir != '\0') {
    removal.File(std::string(desktopDir) + "/" + kKwProductShortcutName + ".desktop");
  }
  // The menu entry goes with the desktop entry; its icon lay in the data
  // folder removed above.
  if (dataRoot != nullptr && *dataRoot == '/') {
    removal.File(KwApplicationsFolder(dataRoot) + "/" + kKwProductMenuEntryFile);
  }
  RemoveKeys(removal);
  return result;
}

int32_t UninstallFrom(const char* selfPath, const char* dataRoot, const char* desktopDir) {
  return KwUninstallFrom(selfPath, dataRoot, desktopDir).failed;
}

void Uninstall() {
  char self[1024];
  if (KwGetExecutablePath(self, sizeof(self)) < 0) return;
  char data[1024];
  if (KwGetKnownFolder(KwKnownFolder::AppData, data, sizeof(data)) != 0) data[0] = '\0';
  char desktop[1024];
  if (KwGetKnownFolder(KwKnownFolder::CommonDesktop, desktop, sizeof(desktop)) != 0) {
    desktop[0] = '\0';
  }
  const KwUninstallResult result = KwUninstallFrom(self, data, desktop);
  for (const std::string& item : result.removed)
    std::fprintf(stderr, "removed: %s\n", item.c_str());
}
