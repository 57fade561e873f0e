// CKWFileDownloadCtrl; see kwfiledownloadctrl.h.
#include "tool/http/kwfiledownloadctrl.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace {
const char* const kFunc = "CKWFileDownloadCtrl::PlanSegments";
}  // namespace

void CKWFileDownloadCtrl::SetFolder(const char* folder) {
  std::snprintf(m_folder, sizeof(m_folder), "%s", folder ? folder : "");
}

void CKWFileDownloadCtrl::SetVolume(const char* name, int64_t length) {
  std::snprintf(m_name, sizeof(m_name), "%s", name ? name : "");
  m_length.store(length);
  m_written.store(0);
  m_complete.store(false);
}

void CKWFileDownloadCtrl::VolumePath(char* out, size_t size) const {
  std::snprintf(out, size, "%s/%s", m_folder, m_name);
}

int CKWFileDownloadCtrl::PlanSegments(const PackageEntry& entry, IKwSegmentQueue& queue,
                                      const KwByteRanges* onDisk) {
  const int64_t length = entry.length;
  m_length.store(length);
  m_complete.store(false);
  char path[1400];
  VolumePath(path, sizeof(path));
  CreateFoldersForPath(path);
  queue.DiscardWaiting();

  if (onDisk != nullptr) {
    for (const KwByteRanges::Range& gap : onDisk->Missing(length)) {
      for (int64_t offset = gap.first; offset < gap.second; offset += kSegmentSize) {
        int64_t rest = gap.second - offset;
        queue.QueueSegment(entry, offset,
                           static_cast<int32_t>(rest < kSegmentSize ? rest : kSegmentSize), length);
      }
    }
    KW_LOG(4, kFunc, "%s continues: %lld of %lld bytes on disk", path,
           static_cast<long long>(onDisk->Covered()), static_cast<long long>(length));
    return kPlanQueued;
  }

  // The volume's own name is examined, never what a link there points to: a
  // link is not a complete volume and is replaced by a regular file below.
  struct stat st;
  if (lstat(path, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == length) {
    // One read gives both sums; the SHA-256 counts only when it is listed.
    std::string sum, sha;
    KwVolumeDigestsOfFile(path, &sum, &sha);
    bool shaOk = entry.sha256[0] == '\0' || strcasecmp(sha.c_str(), entry.sha256) == 0;
    if (!sum.empty() && strcasecmp(sum.c_str(), entry.checksum) == 0 && shaOk) {
      queue.DiscardWaiting();
      KW_LOG(4, kFunc, "%s is complete", path);
      return kPlanComplete;
    }
    KW_LOG(4, kFunc, "%s differs from its listed checksum or SHA-256; fetched again", path);
    unlink(path);
  }

  // The file is sized up front so segments can land in any order; the size
  // is set without writing the bytes, so a large volume costs no time here.
  int fd = OpenVolumeForWrite(path, true);
  if (fd < 0) {
    KW_LOG(4, kFunc, "cannot create %s: errno %d", path, errno);
    return kPlanFailed;
  }
  bool sized = ftruncate(fd, length < 0 ? 0 : length) == 0;
  close(fd);
  if (!sized) {
    KW_LOG(4, kFunc, "cannot size %s to %lld bytes: errno %d", path, static_cast<long long>(length),
           errno);
    return kPlanFailed;
  }
  queue.DiscardWaiting();
  for (int64_t offset = 0; offset < length; offset += kSegmentSize) {
    int64_t rest = length - offset;
    queue.QueueSegment(entry, offset,
                       static_cast<int32_t>(rest < kSegmentSize ? rest : kSegmentSize), length);
  }
  return kPlanQueued;
}

void CKWFileDownloadCtrl::CompleteSegment(int64_t n) {
  int64_t written = m_written.fetch_add(n) + n;
  if (written >= m_length.load()) m_complete.store(true);
  if (!m_complete.load()) return;
  char path[1400];
  VolumePath(path, sizeof(path));
  std::string companion = std::string(path) + ".tmp";
  std::string control = std::string(path) + ".ctrl";
  // A plain rename would replace the volume just written with whatever the
  // companion holds; linking fails when the volume exists, so it is kept.
  if (link(companion.c_str(), path) == 0) unlink(companion.c_str());
  unlink(control.c_str());
}
