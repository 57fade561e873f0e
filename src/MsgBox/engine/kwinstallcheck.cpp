// Checking and repairing an installation; see kwinstallcheck.h.
#include "MsgBox/engine/kwinstallcheck.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

#include "MsgBox/engine/kwengineranges.h"
#include "MsgBox/engine/kwkeptmanifest.h"
#include "baseutil/kwsha256.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/makepackage/kwpkgformat.h"

namespace {

bool FileMatches(const std::string& path, const KwManifestFile& f, uint8_t* buf) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == f.size;
  int64_t at = 0;
  for (size_t k = 0; ok && k < f.pieces.size(); ++k) {
    const KwManifestPiece& p = f.pieces[k];
    size_t got = 0;
    while (got < p.length) {
      const ssize_t r = ::pread(fd, buf + got, p.length - got, at + static_cast<int64_t>(got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    KwSha256 h;
    h.Update(buf, got);
    uint8_t d[32];
    ok = got == p.length && h.Final(d) && std::memcmp(d, p.sha256, 32) == 0;
    at += p.length;
  }
  ::close(fd);
  return ok;
}

// Every non-folder below `folder` as a stored name; folders holding no
// listed file are reported themselves.
void Walk(const std::string& folder, const std::string& stored, const std::set<std::string>& files,
          const std::set<std::string>& folders, std::vector<KwInstallIssue>* out) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    const std::string path = folder + "/" + name;
    const std::string s = stored + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode) && folders.count(s) != 0) {
      Walk(path, s, files, folders, out);
    } else if (files.count(s) == 0) {
      out->push_back({KwInstallIssue::kUnexpected, s});
    }
  }
}

}  // namespace

const char* KwInstallIssueWord(KwInstallIssue::Kind kind) {
  switch (kind) {
    case KwInstallIssue::kMissing:
      return "missing";
    case KwInstallIssue::kChanged:
      return "changed";
    case KwInstallIssue::kUnexpected:
      return "unexpected";
  }
  return "changed";
}

std::vector<KwInstallIssue> KwCheckInstalled(const std::string& installPath,
                                             const std::string& version,
                                             const KwManifest& manifest) {
  const std::string versionFolder = installPath + "/" + version;
  std::vector<KwInstallIssue> out;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kwpkg::kChunkSize]);
  std::set<std::string> files, folders;
  for (const KwManifestFile& f : manifest.files) {
    files.insert(f.name);
    for (size_t cut = f.name.find('/', 1); cut != std::string::npos;
         cut = f.name.find('/', cut + 1))
      folders.insert(f.name.substr(0, cut));
    std::string path = versionFolder + f.name;
    struct stat st;
    if (f.name == kKwMovedUninstaller && ::lstat(path.c_str(), &st) != 0)
      path = installPath + "/uninstall.exe";
    if (::lstat(path.c_str(), &st) != 0) {
      out.push_back({KwInstallIssue::kMissing, f.name});
    } else if (!FileMatches(path, f, buf.get())) {
      out.push_back({KwInstallIssue::kChanged, f.name});
    }
  }
  Walk(versionFolder, "", files, folders, &out);
  std::stable_sort(out.begin(), out.end(), [](const KwInstallIssue& a, const KwInstallIssue& b) {
    return a.name < b.name;
  });
  return out;
}

int KwLoadInstalled(const std::string& installPath, std::string* version, KwManifest* manifest,
                    std::string* manifestBytes, std::string* why) {
  *version = KwFindInstalledVersion(installPath, "");
  if (version->empty()) {
    *why = "no installed version with a kept manifest in " + installPath;
    return -1;
  }
  const int rc =
      KwLoadManifestFile(KwKeptManifestPath(installPath, *version), manifest, manifestBytes, why);
  return rc == 0 ? 0 : -1;
}

int KwRepairInstalled(const std::string& installPath, KwUpdateProgress* progress,
                      std::string* why) {
  std::string version, bytes;
  KwManifest kept;
  if (KwLoadInstalled(installPath, &version, &kept, &bytes, why) != 0) return -1;
  CKWDownloadUtilFor util;
  std::vector<PackageEntry> entries;
  char served[256] = {};
  const int listed = util.GetVersion(served, sizeof(served), entries);
  if (listed != 0) {
    *why = "the install server does not answer (" + std::to_string(listed) + ")";
    return -1;
  }
  // The pieces' places are those of the kept release: another release on
  // the server would put other bytes there.
  if (version != served || !util.manifest().present ||
      util.manifest().sha256 != KwSha256Hex(bytes.data(), bytes.size())) {
    *why = "the install server offers " + std::string(served) + ", not the installed " + version;
    return -1;
  }
  bool same = kept.volumeLengths.size() == entries.size();
  for (size_t i = 0; same && i < entries.size(); ++i)
    same = kept.volumeLengths[i] == entries[i].length;
  if (!same) {
    *why = "the install server lists other volumes than the kept manifest";
    return -1;
  }
  // The uninstaller the finishing steps moved is repaired where it lies.
  const std::string moved = installPath + "/uninstall.exe";
  const std::string inFolder = installPath + "/" + version + kKwMovedUninstaller;
  KwManifest target = kept;
  bool repairMoved = false;
  for (size_t i = 0; i < target.files.size(); ++i) {
    struct stat st;
    if (target.files[i].name != kKwMovedUninstaller || ::lstat(inFolder.c_str(), &st) == 0)
      continue;
    std::unique_ptr<uint8_t[]> buf(new uint8_t[kwpkg::kChunkSize]);
    repairMoved = !FileMatches(moved, target.files[i], buf.get());
    if (!repairMoved) target.files.erase(target.files.begin() + static_cast<long>(i));
    break;
  }
  KwServerRangeSources sources(entries, nullptr, nullptr, nullptr);
  KwUpdateInput in;
  in.next = &target;
  in.outputFolder = installPath + "/" + version;
  if (KwRunUpdate(in, &sources, progress, why) != 0) return -1;
  if (repairMoved && std::rename(inFolder.c_str(), moved.c_str()) != 0) {
    *why = "cannot move the repaired uninstaller to " + moved;
    return -1;
  }
  return 0;
}
