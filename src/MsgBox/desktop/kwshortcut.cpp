// Desktop shortcuts as freedesktop desktop entries.
#include "MsgBox/desktop/kwshortcut.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "baseutil/kwfilehelpers.h"
#include "platform/kwatomicfile.h"
#include "platform/kwknownfolders.h"
#include "platform/kwtempfile.h"

namespace {

constexpr int32_t kMissingArgument = 87;

// Escapes a value of a desktop entry's string keys.
std::string EscapeValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The Exec key runs its first word as the program: a path with blanks or
// other reserved characters must be quoted, and inside quotes the
// characters the launcher would interpret get a backslash.  "%" starts a
// field code, so it is doubled.  The result is then escaped like any value.
std::string ExecValue(const std::string& program) {
  bool quote = program.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  std::string word;
  if (quote) word += '"';
  for (char c : program) {
    if (c == '%') {
      word += "%%";
      continue;
    }
    if (quote && (c == '"' || c == '`' || c == '$' || c == '\\')) word += '\\';
    word += c;
  }
  if (quote) word += '"';
  return EscapeValue(word);
}

std::string FolderOf(const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  if (cut == std::string::npos) return "";
  return cut == 0 ? "/" : path.substr(0, cut);
}

std::string EntryName(const std::string& linkPath) {
  size_t cut = linkPath.find_last_of('/');
  std::string name = cut == std::string::npos ? linkPath : linkPath.substr(cut + 1);
  const std::string suffix = ".desktop";
  if (name.size() > suffix.size() &&
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
    name.resize(name.size() - suffix.size());
  }
  return name;
}

// Makes the folder `path` and its missing parents.
void MakeFolders(const std::string& path) {
  CreateFoldersForPath((path + "/").c_str());
}

// The desktop folder, made when missing so the entry has somewhere to go.
bool DesktopFolder(std::string* out) {
  char folder[1024];
  if (KwGetKnownFolder(KwKnownFolder::CommonDesktop, folder, sizeof(folder)) != 0) return false;
  *out = folder;
  MakeFolders(*out);
  return true;
}

// The text of a desktop entry that starts `target` in its own folder.
std::string EntryText(const std::string& name, const char* comment, const std::string& target,
                      const std::string& icon) {
  std::string entry = "[Desktop Entry]\n";
  entry += "Type=Application\n";
  entry += "Version=1.0\n";
  entry += "Name=" + EscapeValue(name) + "\n";
  if (comment != nullptr) entry += std::string("Comment=") + comment + "\n";
  entry += "Exec=" + ExecValue(target) + "\n";
  std::string folder = FolderOf(target);
  if (!folder.empty()) entry += "Path=" + EscapeValue(folder) + "\n";
  entry += "Icon=" + EscapeValue(icon) + "\n";
  entry += "Terminal=false\n";
  return entry;
}

// Writes an entry file: launchers run only entries marked executable, and an
// earlier entry of the same name may have had another mode.  The run bits
// stay within the umask, like those of any file the user's programs make.
int32_t WriteEntry(const char* path, const std::string& entry) {
  int32_t written = KwReplaceFileAtomic(path, entry, 0755);
  if (written != 0) return -written;
  if (::chmod(path, KwMaskedMode(0755)) != 0) return errno;
  return 0;
}

// A shortcut's name becomes a file name on the desktop; one that could
// reach outside that folder is refused.
bool SafeName(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strchr(name, '/') == nullptr;
}

}  // namespace

int32_t CreateShellLinkWithIcon(const char* targetPath, const char* linkPath, int32_t installerFlag,
                                const char* iconPath) {
  if (targetPath == nullptr || *targetPath == '\0') return kMissingArgument;
  if (linkPath == nullptr || *linkPath == '\0') return kMissingArgument;
  std::string target(targetPath);
  std::string icon = iconPath != nullptr && *iconPath != '\0' ? iconPath : target;
  const char* comment = installerFlag != 0 ? "Tarnwick Installer" : "Tarnwick";
  return WriteEntry(linkPath, EntryText(EntryName(linkPath), comment, target, icon));
}

int32_t CreateShellLink(const char* targetPath, const char* linkPath, int32_t installerFlag) {
  return CreateShellLinkWithIcon(targetPath, linkPath, installerFlag, nullptr);
}

void CreateDesktopShortcutWithIcon(const char* targetPath, const char* name, int32_t installerFlag,
                                   const char* iconPath) {
  if (!SafeName(name)) return;
  std::string desktop;
  if (!DesktopFolder(&desktop)) return;
  std::string link = desktop + "/" + name + ".desktop";
  // File managers watch the desktop folder themselves, so no change
  // notification is needed once the file is there.
  CreateShellLinkWithIcon(targetPath, link.c_str(), installerFlag, iconPath);
}

void CreateDesktopShortcut(const char* targetPath, const char* name, int32_t installerFlag) {
  CreateDesktopShortcutWithIcon(targetPath, name, installerFlag, nullptr);
}

std::string KwApplicationsFolder(const char* dataRoot) {
  return std::string(dataRoot) + "/applications";
}

int32_t KwCreateMenuEntry(const char* targetPath, const char* iconPath) {
  if (targetPath == nullptr || *targetPath == '\0') return kMissingArgument;
  if (iconPath == nullptr || *iconPath == '\0') return kMissingArgument;
  char data[1024];
  if (KwGetKnownFolder(KwKnownFolder::AppData, data, sizeof(data)) != 0) return ENOENT;
  std::string folder = KwApplicationsFolder(data);
  MakeFolders(folder);
  std::string path = folder + "/" + kKwProductMenuEntryFile;
  // Menus show the Name; a Comment that only repeated it would add nothing.
  return WriteEntry(path.c_str(), EntryText(kKwProductShortcutName, nullptr, targetPath, iconPath));
}

void DeleteDesktopShortcut() {
  char folder[1024];
  if (KwGetKnownFolder(KwKnownFolder::CommonDesktop, folder, sizeof(folder)) != 0) return;
  std::string link = std::string(folder) + "/" + kKwProductShortcutName + ".desktop";
  ::unlink(link.c_str());
}
