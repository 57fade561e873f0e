// Loading the published package; see kwservepackage.h.
#include "kwservepackage.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

#include "baseutil/kwjsonread.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace {

// Splits "P_NNN.kwk" into P and NNN; false for any other name.
bool SplitVolumeName(const std::string& name, std::string* package, int* index) {
  const std::string ext = ".kwk";
  if (name.size() < 9 || name.compare(name.size() - ext.size(), ext.size(), ext) != 0) return false;
  size_t underscore = name.size() - ext.size() - 4;
  if (name[underscore] != '_') return false;
  int value = 0;
  for (size_t i = underscore + 1; i < underscore + 4; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + (name[i] - '0');
  }
  *package = name.substr(0, underscore);
  *index = value;
  return !package->empty();
}

int64_t ModifiedMs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return 0;
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
}

struct Listed {
  std::string name;
  int64_t length;
  std::string checksum;
};

bool ReadList(const std::string& path, std::vector<Listed>* out, std::string* error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  Json::Value root;
  std::string why;
  if (KwReadJsonFile(path, &root, &why) != kKwJsonOk || !root.isArray()) {
    *error = why.empty() ? path + " is not a JSON array" : why;
    out->clear();
    return true;
  }
  for (const Json::Value& item : root) {
    if (!item.isObject()) continue;
    Listed listed;
    listed.name = KwJsonTextOr(item, "name");
    listed.length = KwJsonLength(item["length"]);
    listed.checksum = KwJsonTextOr(item, "checksum");
    out->push_back(listed);
  }
  return true;
}

std::vector<Listed> ScanFolder(const std::string& root) {
  std::vector<Listed> found;
  DIR* dir = opendir(root.c_str());
  if (dir == nullptr) return found;
  while (dirent* e = readdir(dir)) {
    std::string package;
    int index = 0;
    if (!SplitVolumeName(e->d_name, &package, &index)) continue;
    std::string path = root + "/" + e->d_name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    found.push_back(
        {e->d_name, static_cast<int64_t>(st.st_size), KwVolumeChecksumOfFile(path.c_str())});
  }
  closedir(dir);
  std::sort(found.begin(), found.end(),
            [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return found;
}

// A release file left from another run of the maker would make every
// install fail on its SHA-256; better refuse to serve it.
bool MatchRelease(const KwRelease& release, const std::vector<Listed>& listed, std::string* error) {
  bool same = release.volumes.size() == listed.size();
  for (size_t i = 0; same && i < listed.size(); ++i) {
    const KwReleaseVolume& v = release.volumes[i];
    same = v.name == listed[i].name && v.length == listed[i].length &&
           strcasecmp(v.checksum.c_str(), listed[i].checksum.c_str()) == 0;
  }
  if (!same) *error = "release.json does not describe the volumes of list.json";
  return same;
}

}  // namespace

bool KwLoadServedPackage(const std::string& root, const std::string& version,
                         KwServedPackage* package, std::string* error) {
  std::vector<Listed> listed;
  if (!ReadList(root + "/list.json", &listed, error)) listed = ScanFolder(root);
  if (!error->empty()) return false;
  if (listed.empty()) {
    *error = "no volumes in " + root;
    return false;
  }
  package->volumes.clear();
  for (size_t i = 0; i < listed.size(); ++i) {
    std::string name;
    int index = 0;
    if (!SplitVolumeName(listed[i].name, &name, &index)) {
      *error = "list.json: not a volume name: \"" + listed[i].name + "\"";
      return false;
    }
    if (i == 0) package->packageName = name;
    if (name != package->packageName || index != static_cast<int>(i)) {
      *error = "volumes must be " + package->packageName + "_000.kwk onwards without gaps";
      return false;
    }
  }
  KwRelease release;
  int32_t loaded = KwLoadRelease(root, &release, error);
  if (loaded < 0) return false;
  if (loaded == 0 && !MatchRelease(release, listed, error)) return false;
  package->version = !version.empty()           ? version
                     : !release.version.empty() ? release.version
                                                : package->packageName;
  if (loaded == 0 && release.hasManifest) {
    const std::string& name = release.manifest.name;
    struct stat st;
    if (name.empty() || name.find('/') != std::string::npos ||
        stat((root + "/" + name).c_str(), &st) != 0 || st.st_size != release.manifest.length) {
      *error = "release.json names a manifest that is not beside it: " + name;
      return false;
    }
    package->hasManifest = true;
    package->manifest = release.manifest;
    package->manifestPath = root + "/" + name;
    package->manifestPublishedName = package->version + ".kwm";
  }
  if (loaded == 0) {
    package->buildtime = release.buildtime;
    package->isSigned = release.isSigned;
    package->signature = release.signature;
  }
  for (size_t i = 0; i < listed.size(); ++i) {
    KwServedVolume volume;
    volume.diskPath = root + "/" + listed[i].name;
    char published[300];
    std::snprintf(published, sizeof(published), "%s_%03d.tmp", package->version.c_str(),
                  static_cast<int>(i));
    volume.publishedName = published;
    volume.key = "packages/" + volume.publishedName;
    volume.length = listed[i].length;
    volume.checksum = listed[i].checksum;
    if (loaded == 0) volume.sha256 = release.volumes[i].sha256;
    volume.lastModified = ModifiedMs(volume.diskPath);
    struct stat st;
    if (stat(volume.diskPath.c_str(), &st) != 0) {
      *error = "missing volume " + volume.diskPath;
      return false;
    }
    package->volumes.push_back(volume);
  }
  return true;
}
