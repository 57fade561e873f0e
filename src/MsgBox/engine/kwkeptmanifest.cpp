// The kept manifest of an installed version; see kwkeptmanifest.h.
#include "MsgBox/engine/kwkeptmanifest.h"

#include <dirent.h>
#include <sys/stat.h>

#include "MsgBox/engine/kwenginesource.h"
#include "baseutil/kwfilehelpers.h"
#include "tool/makepackage/kwmanifest.h"

std::string KwKeptManifestPath(const std::string& installPath, const std::string& version) {
  return installPath + "/" + version + kKwManifestExtension;
}

std::string KwFindInstalledVersion(const std::string& installPath, const std::string& except) {
  DIR* dir = ::opendir(installPath.c_str());
  if (dir == nullptr) return "";
  const std::string ext = kKwManifestExtension;
  std::string best;
  struct timespec bestTime = {0, 0};
  while (struct dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name.size() <= ext.size() || name[0] == '.' ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
      continue;
    const std::string version = name.substr(0, name.size() - ext.size());
    if (version == except || !KwIsSafePathPart(version.c_str())) continue;
    struct stat kept, folder;
    if (::lstat((installPath + "/" + name).c_str(), &kept) != 0 || !S_ISREG(kept.st_mode) ||
        ::lstat((installPath + "/" + version).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
      continue;
    const bool newer =
        best.empty() || kept.st_mtim.tv_sec > bestTime.tv_sec ||
        (kept.st_mtim.tv_sec == bestTime.tv_sec && kept.st_mtim.tv_nsec > bestTime.tv_nsec) ||
        (kept.st_mtim.tv_sec == bestTime.tv_sec && kept.st_mtim.tv_nsec == bestTime.tv_nsec &&
         version > best);
    if (newer) {
      best = version;
      bestTime = kept.st_mtim;
    }
  }
  ::closedir(dir);
  return best;
}

int KwKeepManifest(const std::string& installPath, const std::string& version,
                   const std::string& bytes) {
  return KwWriteFileAtomically(KwKeptManifestPath(installPath, version), bytes);
}
