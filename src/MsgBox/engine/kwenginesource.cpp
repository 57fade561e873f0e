#include "MsgBox/engine/kwenginesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "MsgBox/engine/kwengineresume.h"
#include "baseutil/ikwlog.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwvolumename.h"
#include "tool/makepackage/kwpkgformat.h"

bool KwIsSafePathPart(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  for (const char* p = name; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

namespace {

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

// Reads exactly `length` bytes at `offset`; the count or -1.
int32_t ReadAt(int fd, int64_t offset, int32_t length, char* dest) {
  int32_t got = 0;
  while (got < length) {
    ssize_t n = pread(fd, dest + got, static_cast<size_t>(length - got), offset + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    got += static_cast<int32_t>(n);
  }
  return got;
}

class LocalSource : public KwVolumeSource {
 public:
  explicit LocalSource(std::string first) : first_(std::move(first)) {}
  LocalSource(std::vector<std::string> paths, std::string version)
      : listed_(true), paths_(std::move(paths)), version_(std::move(version)) {}

  int Prepare(std::string* version, std::string* why) override {
    char ver[256] = {};
    CKWDownloadUtilFor util;
    std::vector<std::string> paths = paths_;
    if (listed_) {
      std::snprintf(ver, sizeof(ver), "%s", version_.c_str());
    } else if (util.FindLocalVolumes(ver, sizeof(ver), first_.c_str()) == 0) {
      for (const auto& e : util.volumes()) paths.push_back(e->localPath);
    } else {
      // The maker writes ".kwk" volumes; a first volume of any extension
      // lists its siblings with the same extension.
      ListByOwnExtension(&paths, ver, sizeof(ver));
    }
    if (paths.empty()) {
      *why = "no package volume found at " + (listed_ ? version_ : first_);
      return -1;
    }
    for (const std::string& p : paths) {
      KwSourceVolume v;
      v.path = p;
      size_t slash = p.find_last_of("/\\");
      v.name = slash == std::string::npos ? p : p.substr(slash + 1);
      v.length = FileLength(p);
      if (v.length < kwpkg::kVolumeHeaderSize) {
        *why = "volume cannot be read: " + p;
        return -1;
      }
      volumes_.push_back(v);
    }
    *version = ver;
    return 0;
  }

  int32_t Read(size_t index, int64_t offset, int32_t length, char* dest) override {
    int fd = open(volumes_[index].path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    int32_t n = ReadAt(fd, offset, length, dest);
    close(fd);
    return n;
  }

 private:
  void ListByOwnExtension(std::vector<std::string>* paths, char* ver, size_t verSize) {
    size_t under = first_.rfind('_');
    size_t dot = first_.rfind('.');
    if (under == std::string::npos || dot == std::string::npos || dot < under) return;
    std::string base = first_.substr(0, under);
    std::string ext = first_.substr(dot);
    for (int k = 0; k < 1024; ++k) {
      char num[16];
      std::snprintf(num, sizeof(num), "_%03d", k);
      std::string p = base + num + ext;
      if (FileLength(p) <= 0) break;
      paths->push_back(p);
    }
    size_t slash = base.find_last_of("/\\");
    std::snprintf(ver, verSize, "%s",
                  base.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
  }

  std::string first_;
  bool listed_ = false;
  std::vector<std::string> paths_;
  std::string version_;
};

class EmbeddedSource : public KwVolumeSource {
 public:
  explicit EmbeddedSource(std::string file) : file_(std::move(file)) {}
  ~EmbeddedSource() override {
    if (fd_ >= 0) close(fd_);
  }

  int Prepare(std::string* version, std::string* why) override {
    FILE* f = std::fopen(file_.c_str(), "rb");
    if (f == nullptr) {
      *why = "installer file cannot be opened: " + file_;
      return -1;
    }
    CKWDownloadUtilFor util;
    char ver[16] = {};
    int r = util.FindEmbeddedPackage(ver, sizeof(ver), f);
    std::fclose(f);
    if (r != 0) {
      *why = "no package appended to " + file_;
      return -1;
    }
    fd_ = open(file_.c_str(), O_RDONLY | O_CLOEXEC);
    int64_t size = FileLength(file_);
    base_ = util.embeddedOffset();
    if (fd_ < 0 || size - base_ < kwpkg::kVolumeHeaderSize) {
      *why = "appended package cannot be read";
      return -1;
    }
    KwSourceVolume v;
    v.name = ver;
    v.path = file_;
    v.length = size - base_;
    volumes_.push_back(v);
    *version = ver;
    return 0;
  }

  int32_t Read(size_t, int64_t offset, int32_t length, char* dest) override {
    return ReadAt(fd_, base_ + offset, length, dest);
  }

 private:
  std::string file_;
  int fd_ = -1;
  int64_t base_ = 0;
};

class ServerSource : public KwVolumeSource {
 public:
  ServerSource(const std::atomic<bool>* active, void (*progress)(void*, int32_t), void* context,
               const KwResumeEntry* resume)
      : active_(active), util_(context, progress), resume_(resume) {
    util_.SetAbortCheck(&ServerSource::Stopped, const_cast<std::atomic<bool>*>(active_));
  }

  int Prepare(std::string* version, std::string* why) override {
    char ver[256] = {};
    std::vector<PackageEntry> entries;
    int r = -1;
    for (int attempt = 0; attempt < kAttempts && active_->load(); ++attempt) {
      entries.clear();
      r = util_.GetVersion(ver, sizeof(ver), entries);
      if (r == 0 || r == CKWDownloadUtilFor::kReleaseRefused) break;
      Pause();
    }
    if (r != 0 || entries.empty()) {
      if (r == CKWDownloadUtilFor::kReleaseRefused) {
        failureKey_ = KwReleaseVerdictKey(util_.refusal());
      }
      *why = r == CKWDownloadUtilFor::kReleaseRefused
                 ? std::string("the install server's release is refused: ") +
                       KwReleaseVerdictKey(util_.refusal())
             : r != 0 ? "the install server gives no version"
                      : "the install server lists no volume";
      return -1;
    }
    for (PackageEntry& e : entries) {
      KwSourceVolume v;
      v.entry = e;
      uint8_t head[kwpkg::kVolumeHeaderSize];
      int64_t total = -1;
      bool sized = false;
      for (int attempt = 0; attempt < kAttempts && active_->load() && !sized; ++attempt) {
        if (util_.GetDownloadUrl(v.entry) == 0 &&
            util_.ReadRange(v.entry.url, 0, kwpkg::kVolumeHeaderSize, reinterpret_cast<char*>(head),
                            &total) == kwpkg::kVolumeHeaderSize &&
            total >= kwpkg::kVolumeHeaderSize) {
          sized = true;
        } else {
          Pause();
        }
      }
      if (!sized) {
        *why = std::string("volume cannot be sized: ") + e.key;
        return -1;
      }
      if (!kwpkg::HasVolumeMagic(head, sizeof(head))) {
        *why = std::string("not a package volume: ") + v.entry.name;
        return -2;
      }
      // Named as the download phase names its files, so the page's resume
      // table finds the volume whatever key the server gave it.
      v.name = KwLocalVolumeName(ver, volumes_.size());
      v.length = total;
      ApplyResume(&v);
      volumes_.push_back(v);
    }
    *version = ver;
    return 0;
  }

  int32_t Read(size_t index, int64_t offset, int32_t length, char* dest) override {
    KwSourceVolume& v = volumes_[index];
    for (int attempt = 0; attempt < kAttempts && active_->load(); ++attempt) {
      int64_t total = 0;
      // Addresses expire; each read asks for a fresh one.
      if (util_.GetDownloadUrl(v.entry) != 0) {
        Pause();
        continue;
      }
      int32_t n = util_.ReadRange(v.entry.url, offset, length, dest, &total);
      if (n == length) return n;
      Pause();
    }
    return -1;
  }

  const char* FailureKey() const override { return failureKey_; }

 private:
  // Addresses may expire and servers fail for a while; a read gives up only
  // after this many tries a second apart.
  static constexpr int kAttempts = 30;

  static bool Stopped(void* active) { return !static_cast<std::atomic<bool>*>(active)->load(); }

  void Pause() {
    for (int i = 0; i < 10 && active_->load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  void ApplyResume(KwSourceVolume* v) const {
    if (resume_ == nullptr) return;
    for (int i = 0; i < kKwResumeEntries && resume_[i].name[0] != '\0'; ++i) {
      if (std::strncmp(resume_[i].name, v->name.c_str(), sizeof(resume_[i].name)) != 0) continue;
      if (resume_[i].status == kKwResumeInstalled) v->skip = true;
      // The header never goes to the unpacker, so reading resumes at the
      // header's end at the earliest.
      if (resume_[i].offset > v->startOffset && resume_[i].offset <= v->length) {
        v->startOffset = resume_[i].offset;
      }
      return;
    }
  }

  const std::atomic<bool>* active_;
  CKWDownloadUtilFor util_;
  const KwResumeEntry* resume_;
  const char* failureKey_ = nullptr;
};

}  // namespace

std::unique_ptr<KwVolumeSource> KwMakeLocalSource(const std::string& firstVolume) {
  return std::make_unique<LocalSource>(firstVolume);
}

std::unique_ptr<KwVolumeSource> KwMakeFileListSource(const std::vector<std::string>& paths,
                                                     const std::string& version) {
  return std::make_unique<LocalSource>(paths, version);
}

std::unique_ptr<KwVolumeSource> KwMakeEmbeddedSource(const std::string& installerFile) {
  return std::make_unique<EmbeddedSource>(installerFile);
}

std::unique_ptr<KwVolumeSource> KwMakeServerSource(const std::atomic<bool>* active,
                                                   void (*progress)(void*, int32_t), void* context,
                                                   const KwResumeEntry* resume) {
  return std::make_unique<ServerSource>(active, progress, context, resume);
}

bool KwFindAppendedPackage(const std::string& file, std::string* version) {
  FILE* f = std::fopen(file.c_str(), "rb");
  if (f == nullptr) return false;
  CKWDownloadUtilFor util;
  char ver[16] = {};
  const bool found = util.FindEmbeddedPackage(ver, sizeof(ver), f) == 0;
  std::fclose(f);
  if (found && version != nullptr) *version = ver;
  return found;
}
