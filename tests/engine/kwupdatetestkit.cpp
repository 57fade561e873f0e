// See kwupdatetestkit.h.
#include "kwupdatetestkit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwunzippackage.h"

namespace fs = std::filesystem;

namespace kwupdatetest {

namespace {

std::string Random(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  uint32_t x = seed * 2654435761u + 17;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

std::string Text(size_t n, uint32_t seed) {
  static const char* words[] = {"tarnwick ",  "installer ", "piece ",   "volume ", "range ",
                                "manifest\n", "update ",    "release ", "folder ", "engine\n"};
  std::string s;
  uint32_t x = seed * 2654435761u + 5;
  while (s.size() < n) {
    x = x * 1664525u + 1013904223u;
    s += words[(x >> 24) % 10];
    if ((x & 0xff) < 8) s += std::to_string(x) + "\n";
  }
  s.resize(n);
  return s;
}

}  // namespace

Tree OldRelease(int64_t large) {
  Tree t;
  t["Windows/Tarnwick.exe"] =
      "\x7f"
      "ELF" +
      Random(200000, 1);
  t["ikwdriver/uninstall.exe"] = "#!/bin/sh\nexit 0\n" + Random(30000, 2);
  t["data/huge.bin"] = Random(static_cast<size_t>(large), 3);
  t["doc/manual.txt"] = Text(static_cast<size_t>(large), 4);
  t["doc/same.txt"] = Text(100000, 5);
  t["doc/copy.txt"] = t["doc/same.txt"];
  t["old/removed.dat"] = Random(300000, 6);
  t["conf/settings.ini"] = "[a]\nb=1\n";
  t["empty.txt"] = "";
  return t;
}

Tree NewRelease(const Tree& old) {
  Tree t = old;
  t["conf/settings.ini"] = "[a]\nb=2\nc=3\n";  // rewritten
  t["Windows/Tarnwick.exe"] =
      "\x7f"
      "ELF" +
      Random(210000, 11);                     // rewritten
  t.erase("old/removed.dat");                 // removed
  t["new/added.bin"] = Random(150000, 12);    // added
  t["new/run.sh"] = "#!/bin/sh\necho new\n";  // added, runnable
  std::string& huge = t["data/huge.bin"];
  huge.replace(huge.size() / 2, 5000, Random(5000, 13));  // overwritten in place
  std::string& manual = t["doc/manual.txt"];
  manual.insert(manual.size() / 3, "An inserted paragraph of the new release.\n");
  return t;
}

void WriteTree(const Tree& tree, const std::string& folder) {
  int64_t second = 1700000000;
  for (const auto& f : tree) {
    const std::string path = folder + "/" + f.first;
    kwtest::WriteFile(path, f.second);
    struct timespec ts[2] = {{second, 250000000}, {second, 250000000}};
    ::utimensat(AT_FDCWD, path.c_str(), ts, 0);
    second += 1000;
  }
}

bool PackRelease(const std::string& source, const std::string& out, const std::string& version) {
  fs::create_directories(out);
  IKWMakePkg maker(2);
  maker.SetSourceFolder(source.c_str());
  maker.SetOutputFolder(out.c_str());
  maker.SetPackageName(version.c_str());
  maker.SetPieceMode(KwPieceMode::kContent);
  if (maker.Start() != 0) return false;
  maker.WaitDone();
  g_makeStopFlag = 0;
  return maker.Result() == 0 && maker.ManifestWritten();
}

bool LoadManifest(const std::string& out, KwManifest* manifest, std::string* bytes) {
  std::string why;
  return KwLoadManifestFile(out + "/manifest.kwm", manifest, bytes, &why) == 0;
}

bool UnpackRelease(const std::string& out, const std::string& version, const std::string& dest) {
  CKWUnzipPackage unzip;
  unzip.SetTargetFolder(dest.c_str());
  for (int k = 0; fs::exists(kwpkg::VolumePath(out, version, k)); ++k) {
    const std::string v = kwtest::ReadFile(kwpkg::VolumePath(out, version, k));
    if (unzip.PutBuffer(v.data() + kwpkg::kVolumeHeaderSize,
                        static_cast<int32_t>(v.size() - kwpkg::kVolumeHeaderSize)) != 0)
      return false;
  }
  return unzip.Finish() == 0 && unzip.BadFiles() == 0 && !unzip.InsideFile();
}

std::string CompareWithUnpacked(const Tree& tree, const std::string& folder,
                                const std::string& reference) {
  size_t found = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_directory()) continue;
    const std::string rel = e.path().string().substr(folder.size() + 1);
    const auto it = tree.find(rel);
    if (it == tree.end()) return "unexpected " + rel;
    ++found;
    if (kwtest::ReadFile(e.path().string()) != it->second) return "content of " + rel;
    struct stat a, b;
    if (::stat(e.path().c_str(), &a) != 0 || ::stat((reference + "/" + rel).c_str(), &b) != 0)
      return "cannot stat " + rel;
    if (a.st_mode != b.st_mode) return "mode of " + rel;
    if (a.st_mtim.tv_sec != b.st_mtim.tv_sec || a.st_mtim.tv_nsec != b.st_mtim.tv_nsec)
      return "time of " + rel;
  }
  return found == tree.size() ? "" : "files missing";
}

class FileRange : public IKwRangeSource {
 public:
  explicit FileRange(FileRanges* owner) : owner_(owner) {}
  int32_t Read(uint32_t volume, int64_t offset, int32_t length, char* dest) override {
    ++owner_->requests;
    const int fd =
        ::open(kwpkg::VolumePath(owner_->out_, owner_->version_, static_cast<int>(volume)).c_str(),
               O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    std::string data(static_cast<size_t>(length), '\0');
    const ssize_t n = ::pread(fd, &data[0], data.size(), offset);
    ::close(fd);
    if (n != length) return -2;
    owner_->bytes += length;
    if (owner_->damage) owner_->damage(volume, offset, &data);
    std::memcpy(dest, data.data(), data.size());
    return length;
  }

 private:
  FileRanges* owner_;
};

std::unique_ptr<IKwRangeSource> FileRanges::Open() {
  return std::make_unique<FileRange>(this);
}

}  // namespace kwupdatetest
