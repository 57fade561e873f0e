#include "tool/makepackage/kwpkglist.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "tool/makepackage/kwmanifest.h"
#include "tool/makepackage/kwmanifestscan.h"
#include "tool/makepackage/kwpkgchecksum.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwrelease.h"

std::string KwBuildListJson(const std::vector<KwVolumeEntry>& entries) {
  std::string out = "[\r\n";
  for (size_t i = 0; i < entries.size(); ++i) {
    if (i != 0) out += ",\r\n";
    char size[32];
    std::snprintf(size, sizeof(size), "%lld", static_cast<long long>(entries[i].size));
    // The readers expect the names as they are; no escaping is applied.
    out += "{ \"name\":\"" + entries[i].name + "\", \"length\":\"" + size + "\", \"checksum\":\"" +
           entries[i].checksum + "\" }";
  }
  out += "]\r\n";
  return out;
}

int32_t KwWriteListJson(const std::string& folder, const std::vector<KwVolumeEntry>& entries) {
  const std::string path = folder + "/list.json";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return -1;
  const std::string text = KwBuildListJson(entries);
  const bool wrote = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  return wrote && closed ? 0 : -1;
}

std::string KwVolumeFileName(const std::string& path) {
  const size_t cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool KwDescribeVolume(const std::string& path, KwVolumeEntry* entry) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  entry->path = path;
  entry->size = st.st_size;
  KwVolumeDigestsOfFile(path.c_str(), &entry->checksum, &entry->sha256);
  entry->name = KwVolumeFileName(path);
  return !entry->checksum.empty();
}

std::vector<KwVolumeEntry> KwFindVolumes(const std::string& folder, const std::string& package,
                                         const char* extension) {
  std::vector<KwVolumeEntry> found;
  for (int k = 0; k < 1000; ++k) {
    KwVolumeEntry e;
    if (!KwDescribeVolume(kwpkg::VolumePath(folder, package, k, extension), &e) || e.size == 0)
      break;
    found.push_back(e);
  }
  return found;
}

int32_t KwMakeVolumeListJson(const std::string& folder, const std::string& package) {
  std::vector<KwVolumeEntry> entries = KwFindVolumes(folder, package, "kwk");
  if (entries.empty()) entries = KwFindVolumes(folder, package, "tmp");
  if (entries.empty()) return 0;
  if (KwWriteListJson(folder, entries) != 0) return -1;
  // The manifest is read from the volumes themselves; volumes it cannot
  // describe (damaged, cut short) get none, and no stale one stays.
  std::vector<std::string> paths;
  for (const KwVolumeEntry& e : entries) paths.push_back(e.path);
  KwManifest manifest;
  std::string why;
  KwReleaseManifest described;
  bool written = false;
  const std::string manifestPath = folder + "/" + kKwManifestFileName;
  if (!paths.empty() && KwScanVolumes(paths, &manifest, &why) == 0) {
    const std::string bytes = KwEncodeManifest(manifest);
    written = KwWriteFileAtomically(manifestPath, bytes) == 0;
    if (written) described = KwDescribeManifestBytes(bytes);
  }
  if (!written) ::unlink(manifestPath.c_str());
  if (KwWriteReleaseJson(folder, package, entries, written ? &described : nullptr) != 0) return -1;
  return static_cast<int32_t>(entries.size());
}
