// KwVolumeJournal; see kwvolumejournal.h.
#include "tool/http/kwvolumejournal.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace {

// Far more than any real journal (a line per segment); a bigger file is not
// one of ours.
constexpr size_t kMaxJournal = 1 << 20;

std::string Header(const PackageEntry& e) {
  char line[256];
  std::snprintf(line, sizeof(line), "tarnwick journal 1 %lld %s %s\n",
                static_cast<long long>(e.length), e.checksum[0] ? e.checksum : "-",
                e.sha256[0] ? e.sha256 : "-");
  return line;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A decimal number of at most 18 digits filling `text` exactly.
bool Number(const std::string& text, int64_t* out) {
  if (text.empty() || text.size() > 18) return false;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

}  // namespace

bool KwVolumeJournal::Load(const std::string& volumePath, const PackageEntry& entry,
                           KwByteRanges* ranges, KwByteRanges* flushed) {
  ranges->Clear();
  if (flushed != nullptr) flushed->Clear();
  int fd = ::open(PathFor(volumePath).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return false;
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || text.size() > kMaxJournal) break;
    text.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  const std::string header = Header(entry);
  // Letter case of the digests may differ from how an earlier answer wrote them.
  if (text.size() > kMaxJournal || text.size() < header.size() ||
      strncasecmp(text.c_str(), header.c_str(), header.size()) != 0) {
    return false;
  }
  size_t at = header.size();
  // Without a boot line every range was flushed before it was written down.
  bool thisBoot = true;
  bool bootLine = false;
  KwByteRanges all;
  KwByteRanges onDisk;
  for (bool first = true;; first = false) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a torn last line
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (first && line.compare(0, 5, "boot ") == 0) {
      bootLine = true;
      const std::string boot = line.substr(5);
      thisBoot = boot != "-" && boot == BootId();
      continue;
    }
    if (line == "synced") {
      onDisk = all;
      continue;
    }
    size_t space = line.find(' ');
    int64_t offset = 0, length = 0;
    if (space == std::string::npos || !Number(line.substr(0, space), &offset) ||
        !Number(line.substr(space + 1), &length) || length <= 0 || offset > entry.length - length) {
      break;
    }
    all.Add(offset, length);
  }
  if (!bootLine) onDisk = all;
  *ranges = thisBoot ? all : onDisk;
  if (flushed != nullptr) *flushed = onDisk;
  return ranges->Covered() > 0;
}

std::string KwVolumeJournal::BootId() {
  int fd = ::open("/proc/sys/kernel/random/boot_id", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "-";
  char buf[64];
  ssize_t n = ::read(fd, buf, sizeof(buf) - 1);
  ::close(fd);
  std::string id;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = buf[i];
    if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || c == '-') id += c;
  }
  return id.size() >= 16 ? id : std::string("-");
}

void KwVolumeJournal::Remove(const std::string& volumePath) {
  ::unlink(PathFor(volumePath).c_str());
}

bool KwVolumeJournal::Begin(const std::string& volumePath, const PackageEntry& entry) {
  Close();
  fd_ = ::open(PathFor(volumePath).c_str(),
               O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd_ < 0) return false;
  if (!WriteAll(fd_, Header(entry) + "boot " + BootId() + "\n")) {
    Close();
    Remove(volumePath);
    return false;
  }
  return true;
}

bool KwVolumeJournal::Continue(const std::string& volumePath, const PackageEntry& entry,
                               const KwByteRanges& ranges, const KwByteRanges& flushed) {
  // Written afresh rather than appended to: lines of another boot below its
  // last "synced" line vouch for nothing now and must not end up above a
  // "synced" line of this one.
  return Begin(volumePath, entry) && Record(flushed.ranges()) && MarkFlushed() &&
         Record(ranges.ranges());
}

bool KwVolumeJournal::Record(const std::vector<KwByteRanges::Range>& ranges) {
  if (fd_ < 0) return false;
  std::string text;
  for (const KwByteRanges::Range& r : ranges) {
    char line[64];
    std::snprintf(line, sizeof(line), "%lld %lld\n", static_cast<long long>(r.first),
                  static_cast<long long>(r.second - r.first));
    text += line;
  }
  // One write of whole lines; a line torn by a crash is ignored on reading.
  if (text.empty()) return true;
  if (!WriteAll(fd_, text)) {
    Close();
    return false;
  }
  return true;
}

bool KwVolumeJournal::MarkFlushed() {
  if (fd_ < 0) return false;
  if (!WriteAll(fd_, "synced\n")) {
    Close();
    return false;
  }
  return true;
}

void KwVolumeJournal::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}
