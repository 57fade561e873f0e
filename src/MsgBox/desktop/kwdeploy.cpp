#include "MsgBox/desktop/kwdeploy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "MsgBox/desktop/kwproducticon.h"
#include "MsgBox/desktop/kwshortcut.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "platform/kwatomicfile.h"
#include "platform/kwinifile.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"
#include "platform/kwtempfile.h"
#include "tool/http/kwreleasecheck.h"

namespace {

std::atomic<const uint8_t*> g_carriedBytes{nullptr};
std::atomic<size_t> g_carriedSize{0};

std::string FolderOf(const std::string& path) {
  const std::string::size_type cut = path.find_last_of('/');
  if (cut == std::string::npos) return ".";
  return cut == 0 ? "/" : path.substr(0, cut);
}

// True when a new file can be made in `folder`.  "install.log" is the
// probe's name; when a file of that name is already there it stays
// untouched and a uniquely named probe answers instead.
bool CanCreateFileIn(const std::string& folder) {
  const std::string probe = folder + "/install.log";
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
  }
  if (errno != EEXIST) return false;
  std::string unique = folder + "/install.log.XXXXXX";
  fd = ::mkstemp(unique.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(unique.c_str());
  return true;
}

// Copies the settings file beside the installer; a missing source is not
// an error (the installer then uses its defaults).
int32_t CopySettings(const std::string& source, const std::string& target) {
  if (source.empty()) return 0;
  std::string bytes;
  const int32_t read = KwReadWholeFile(source, &bytes);
  if (read != 0) {
    if (read != -ENOENT) KW_LOG(4, "KwDeployInstaller", "cannot read %s: %d", source.c_str(), read);
    return 0;
  }
  const std::string copy = FolderOf(target) + "/" + kKwDeployIni;
  const int32_t written = KwReplaceFileAtomic(copy, bytes, 0644);
  if (written != 0) KW_LOG(4, "KwDeployInstaller", "cannot write %s: %d", copy.c_str(), written);
  return written;
}

// The release key file the settings name by a name relative to themselves,
// which the deployed installer looks for beside its own copy of them: its
// name as given in the settings ("" when they name none, name one by its
// full path or give the key itself).  False when the file is not there to
// be copied, or its name would reach out of the settings' folder.
bool KeyFileToCopy(const std::string& iniSource, std::string* name) {
  name->clear();
  if (iniSource.empty() || ::access(iniSource.c_str(), F_OK) != 0) return true;
  char value[1024];
  KwGetPrivateProfileString("SERVER", "PUBKEY", "", value, sizeof value, iniSource.c_str());
  const std::string file = KwReleaseKeyFile(iniSource, value);
  if (file.empty() || value[0] == '/') return true;
  *name = value;
  if (("/" + *name + "/").find("/../") != std::string::npos) return false;
  struct stat st;
  return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int32_t CopyKeyFile(const std::string& iniSource, const std::string& name,
                    const std::string& target) {
  std::string bytes;
  const std::string from = FolderOf(iniSource) + "/" + name;
  int32_t r = KwReadWholeFile(from, &bytes);
  const std::string to = FolderOf(target) + "/" + name;
  if (r == 0) {
    CreateFoldersForPath(to.c_str());
    r = KwReplaceFileAtomic(to, bytes, 0644);
  }
  if (r != 0)
    KW_LOG(4, "KwDeployInstaller", "cannot copy %s to %s: %d", from.c_str(), to.c_str(), r);
  return r;
}

}  // namespace

void KwSetCarriedInstaller(const uint8_t* bytes, size_t size) {
  g_carriedSize = bytes != nullptr ? size : 0;
  g_carriedBytes = bytes;
}

const uint8_t* KwCarriedInstaller(size_t* size) {
  const uint8_t* bytes = g_carriedBytes.load();
  if (size != nullptr) *size = bytes != nullptr ? g_carriedSize.load() : 0;
  return bytes;
}

std::string KwResolveDeployLocation(const std::string& typed) {
  if (typed.empty()) return typed;
  if (typed == "~" || typed.rfind("~/", 0) == 0) {
    char home[1024];
    if (KwGetKnownFolder(KwKnownFolder::Home, home, sizeof home) == 0) {
      return std::string(home) + typed.substr(1);
    }
    return typed;
  }
  if (typed[0] == '/') return typed;
  char here[4096];
  if (::getcwd(here, sizeof here) == nullptr) return typed;
  const std::string folder(here);
  return (folder == "/" ? std::string() : folder) + "/" + typed;
}

const char* KwCheckDeployLocation(const std::string& location) {
  if (location.empty()) return "pleaseinputtopath";
  if (location.find("Program Files") != std::string::npos) return "invalidpath";
  if (!CanCreateFileIn(location)) return "invalidpath2";
  return nullptr;
}

std::string KwDeployFolderPath(const std::string& location) {
  return location + "/" + kKwDeployFolder;
}

std::string KwDeployTargetPath(const std::string& location) {
  return KwDeployFolderPath(location) + "/" + kKwDeployExe;
}

int KwDeployInstaller(const KwDeployRequest& request) {
  if (request.bytes == nullptr || request.size == 0) return kKwDeployNothingCarried;
  // An installer whose settings name a key it cannot find would refuse
  // every release; better not to deploy it at all.
  std::string keyName;
  if (!KeyFileToCopy(request.iniSource, &keyName)) {
    KW_LOG(4, "KwDeployInstaller", "the release key of %s is not beside it",
           request.iniSource.c_str());
    return kKwDeployKeyMissing;
  }
  const std::string folder = FolderOf(request.target);
  ::mkdir(folder.c_str(), 0755);
  const std::string bytes(reinterpret_cast<const char*>(request.bytes), request.size);
  const int32_t written = KwReplaceFileAtomic(request.target, bytes, 0755);
  // An earlier file of the same name keeps its mode across the
  // replacement; the installer must be runnable whatever it was, within
  // what the umask allows.
  if (written != 0 || ::chmod(request.target.c_str(), KwMaskedMode(0755)) != 0) {
    KW_LOG(4, "KwDeployInstaller", "cannot write %s: %d", request.target.c_str(),
           written != 0 ? written : -errno);
    return kKwDeployWriteFailed;
  }
  if (CopySettings(request.iniSource, request.target) != 0 ||
      (!keyName.empty() && CopyKeyFile(request.iniSource, keyName, request.target) != 0)) {
    return kKwDeployWriteFailed;
  }
  if (request.codePage >= 0) {
    const std::string ini = FolderOf(request.target) + "/" + kKwDeployIni;
    if (KwWritePrivateProfileString("LANGUAGE", "CODEPAGE",
                                    std::to_string(request.codePage).c_str(), ini.c_str()) == 0) {
      KW_LOG(4, "KwDeployInstaller", "cannot write the language into %s", ini.c_str());
    }
  }
  if (request.settleMs > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(request.settleMs));
  }
  // The entry shows the product's picture: an executable's path is no icon
  // on this platform.
  std::string icon;
  char data[1024];
  if (KwGetKnownFolder(KwKnownFolder::AppData, data, sizeof data) == 0) {
    icon = KwPlaceProductIcon(data);
  }
  CreateDesktopShortcutWithIcon(request.target.c_str(), kKwDeployShortcut, 1, icon.c_str());
  const int32_t started = request.start
                              ? request.start(request.target.c_str(), folder.c_str())
                              : KwStartDetached(request.target.c_str(), nullptr, folder.c_str());
  if (started != 0) {
    KW_LOG(4, "KwDeployInstaller", "cannot start %s: %d", request.target.c_str(), started);
    return kKwDeployStartFailed;
  }
  return kKwDeployOk;
}
