// The uninstaller's removal sequence.
#include "MsgBox/desktop/kwuninstall.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwshortcut.h"
#include "MsgBox/desktop/kwuninstallsurvey.h"
#include "baseutil/kwfilehelpers.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"
#include "platform/kwregistry.h"

namespace {

// The product version's folder as the packages lay it out.
constexpr const char* kVersionFolder = "V2.0.0";
// The manifest the installer keeps beside that folder for updates.
constexpr const char* kKeptManifest = "V2.0.0.kwm";
constexpr const char* kPointerFile = "install.txt";
// "install.txt" holds one path; anything longer is not one.
constexpr size_t kPointerLimit = 4096;

bool SameIgnoringCase(const char* a, const char* b) {
  return std::strlen(a) == std::strlen(b) && ::strcasecmp(a, b) == 0;
}

// Removes a plain file; a missing file is no failure.
int RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) == 0 || errno == ENOENT) return 0;
  return 1;
}

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
int RemoveInstallerCopy(const std::string& content) {
  std::string text = content.substr(0, content.find('\0'));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  size_t cut = text.find_last_of("/\\");
  if (cut == std::string::npos) return 0;
  std::string folder = text.substr(0, cut + 1);
  if (!PlainFolder(folder)) return 0;
  int failed = 0;
  for (const char* name : {"libcurl.dll", "tarnwickinstall.exe"}) {
    std::string path = folder + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) continue;
    failed += RemoveFile(path);
  }
  return failed;
}

int HandlePointerFile(const std::string& path) {
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
  int failed = RemoveFile(path);
  if (readable && content.size() <= kPointerLimit) failed += RemoveInstallerCopy(content);
  return failed;
}

void RemoveKeys() {
  KwRegKey kws;
  if (KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws", kKwRegWrite, &kws) == kKwRegOk) {
    int32_t deleted = kws.DeleteTree("Tarnwick");
    kws.Close();
    // The maker's key goes only when no other product left anything in it.
    if (deleted == kKwRegOk && KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws",
                                              kKwRegRead | kKwRegWrite, &kws) == kKwRegOk) {
      uint32_t subkeys = 0;
      uint32_t values = 0;
      if (kws.QueryInfo(&subkeys, &values) == kKwRegOk && subkeys == 0 && values == 0) {
        kws.DeleteKey("");
      }
    }
  }
  KwRegKey programs;
  if (KwRegKey::Open(KwHive::LocalMachine,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                     kKwRegWrite | kKwRegRead, &programs) == kKwRegOk) {
    programs.DeleteKey("Tarnwick");
  }
}

}  // namespace

int32_t UninstallFrom(const char* selfPath, const char* dataRoot, const char* desktopDir) {
  if (selfPath == nullptr) return 1;
  std::string self(selfPath);
  size_t cut = self.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? "." : self.substr(0, cut);
  if (folder.empty()) folder = "/";
  int failed = 0;
  // The settings, the entries and the data folder exist once per user; a
  // copy of the uninstaller in another folder leaves them to the
  // installation they name and removes only what lies in its own folder.
  const bool ours = KwEntriesNameFolder(folder);

  // Without a data folder there is nothing of ours to remove; never form
  // "/tarnwick" from an empty root.
  if (ours && dataRoot != nullptr && *dataRoot == '/') {
    std::string data = std::string(dataRoot) + "/tarnwick";
    struct stat st;
    if (::lstat(data.c_str(), &st) == 0 && DeleteFolderTree(data.c_str()) != 0) ++failed;
  }

  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return failed + 1;
  std::vector<std::string> versionFolders;
  std::vector<std::string> pointerFiles;
  std::vector<std::string> keptManifests;
  while (struct dirent* entry = ::readdir(dir)) {
    const char* name = entry->d_name;
    if (name[0] == '.') continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && SameIgnoringCase(name, kVersionFolder)) {
      versionFolders.push_back(path);
    } else if (S_ISREG(st.st_mode) && SameIgnoringCase(name, kPointerFile)) {
      pointerFiles.push_back(path);
    } else if (S_ISREG(st.st_mode) && SameIgnoringCase(name, kKeptManifest)) {
      // The manifest the installer kept of the version goes with its folder.
      keptManifests.push_back(path);
    }
  }
  ::closedir(dir);
  // Deleting while the folder is being listed could skip entries.
  for (const auto& path : versionFolders) {
    if (DeleteFolderTree(path.c_str()) != 0) ++failed;
  }
  for (const auto& path : pointerFiles) failed += HandlePointerFile(path);
  for (const auto& path : keptManifests) failed += RemoveFile(path);

  // A running program may remove its own file here; the process keeps its
  // image until it ends.
  struct stat st;
  if (::lstat(self.c_str(), &st) == 0 && S_ISREG(st.st_mode)) failed += RemoveFile(self);

  if (!ours) return failed;
  if (desktopDir != nullptr && *desktopDir != '\0') {
    failed += RemoveFile(std::string(desktopDir) + "/" + kKwProductShortcutName + ".desktop");
  }
  // The menu entry goes with the desktop entry; its icon lay in the data
  // folder removed above.
  if (dataRoot != nullptr && *dataRoot == '/') {
    failed += RemoveFile(KwApplicationsFolder(dataRoot) + "/" + kKwProductMenuEntryFile);
  }
  RemoveKeys();
  return failed;
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
  UninstallFrom(self, data, desktop);
}
