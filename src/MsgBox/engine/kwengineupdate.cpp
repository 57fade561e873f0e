// Carrying out an update; see kwengineupdate.h.
#include "MsgBox/engine/kwengineupdate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "MsgBox/engine/kwupdateplan.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "baseutil/kwsha256.h"
#include "tool/makepackage/kwinflater.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwrunbits.h"

namespace {

const char kFunc[] = "KwRunUpdate";
constexpr int kShaAttempts = 3;

bool ReadAt(int fd, int64_t offset, uint8_t* buf, size_t n) {
  return KwReadFullyAt(fd, offset, buf, n);
}

bool WriteAt(int fd, int64_t offset, const uint8_t* buf, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::pwrite(fd, buf + done, n - done, offset + static_cast<int64_t>(done));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    done += static_cast<size_t>(w);
  }
  return true;
}

bool Matches(const uint8_t* data, size_t n, const uint8_t sha[32]) {
  KwSha256 h;
  h.Update(data, n);
  uint8_t d[32];
  return h.Final(d) && std::memcmp(d, sha, 32) == 0;
}

// Opens `name` (a checked stored name) below `root`, creating the folders
// on the way one at a time without following a symbolic link, as the
// unpacker does.  -1 on failure.
int OpenBelow(const std::string& root, const std::string& name, int flags) {
  int dir = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return -1;
  const char* part = name.c_str() + 1;
  for (;;) {
    const char* slash = std::strchr(part, '/');
    if (slash == nullptr) break;
    const std::string folder(part, slash);
    int next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0 && errno == ENOENT && (flags & O_CREAT) != 0) {
      ::mkdirat(dir, folder.c_str(), 0755);
      next = ::openat(dir, folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    ::close(dir);
    if (next < 0) return -1;
    dir = next;
    part = slash + 1;
  }
  const int fd = ::openat(dir, part, flags | O_NOFOLLOW | O_CLOEXEC, 0644);
  ::close(dir);
  return fd;
}

class Update {
 public:
  Update(const KwUpdateInput& in, KwUpdateProgress* progress)
      : m_in(in), m_next(*in.next), m_progress(progress) {}

  int Run(IKwRangeSourceFactory* sources, std::string* why);

 private:
  bool Active() const { return (m_in.active == nullptr || m_in.active->load()) && !m_failed; }
  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_why.empty()) m_why = why;
    m_failed = true;
  }
  void Tell() {
    if (m_in.onProgress != nullptr) m_in.onProgress(m_in.context);
  }
  bool Prepare();
  bool CopyLocal();
  void FetchWorker(IKwRangeSourceFactory* sources);
  // Checks and writes the records of `range` held in `data`; `written`
  // marks those already done.  False when one failed its check.
  bool PlaceRecords(const KwFetchRange& range, const uint8_t* data, std::vector<bool>* written,
                    KwInflater* inflater, uint8_t* plain);
  bool Finish();

  const KwUpdateInput& m_in;
  const KwManifest& m_next;
  KwUpdateProgress* m_progress;
  KwUpdatePlan m_plan;
  std::vector<std::vector<bool>> m_done;
  std::atomic<size_t> m_nextRange{0};
  std::atomic<bool> m_failed{false};
  std::mutex m_mutex;
  std::string m_why;
};

bool Update::Prepare() {
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kwpkg::kChunkSize]);
  m_done.assign(m_next.files.size(), {});
  for (size_t i = 0; i < m_next.files.size() && Active(); ++i) {
    const KwManifestFile& f = m_next.files[i];
    m_done[i].assign(f.pieces.size(), false);
    const int fd = OpenBelow(m_in.outputFolder, f.name, O_RDWR | O_CREAT);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      Fail("cannot create " + m_in.outputFolder + f.name + ": " + std::strerror(errno));
      return false;
    }
    // A file of an earlier, stopped attempt keeps every piece that checks.
    const bool earlier = st.st_size > 0;
    if (st.st_size != f.size && ::ftruncate(fd, f.size) != 0) {
      ::close(fd);
      Fail("cannot size " + m_in.outputFolder + f.name + ": " + std::strerror(errno));
      return false;
    }
    int64_t at = 0;
    for (size_t k = 0; earlier && k < f.pieces.size(); ++k) {
      const KwManifestPiece& p = f.pieces[k];
      if (ReadAt(fd, at, buf.get(), p.length) && Matches(buf.get(), p.length, p.sha256)) {
        m_done[i][k] = true;
        m_progress->keptBytes += p.length;
      }
      at += p.length;
    }
    ::close(fd);
  }
  return Active();
}

bool Update::CopyLocal() {
  if (m_in.installed == nullptr) return true;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kwpkg::kChunkSize]);
  int sourceFd = -1;
  int32_t sourceIndex = -1;
  for (size_t i = 0; i < m_next.files.size() && Active(); ++i) {
    int outFd = -1;
    for (size_t k = 0; k < m_next.files[i].pieces.size() && Active(); ++k) {
      KwPlannedPiece& planned = m_plan.pieces[i][k];
      if (planned.localFile < 0 || m_done[i][k]) continue;
      const KwManifestPiece& p = m_next.files[i].pieces[k];
      if (planned.localFile != sourceIndex) {
        if (sourceFd >= 0) ::close(sourceFd);
        sourceIndex = planned.localFile;
        const std::string& name = m_in.installed->files[static_cast<size_t>(sourceIndex)].name;
        sourceFd = OpenBelow(m_in.installedFolder, name, O_RDONLY);
      }
      // The installed file may have been changed since it was installed:
      // only bytes that still check are taken; the rest is fetched.
      if (sourceFd < 0 || !ReadAt(sourceFd, planned.localOffset, buf.get(), p.length) ||
          !Matches(buf.get(), p.length, p.sha256)) {
        KW_LOG(4, kFunc, "installed copy of a piece of %s does not check; fetched instead",
               m_next.files[i].name.c_str());
        planned.localFile = -1;
        continue;
      }
      if (outFd < 0) outFd = OpenBelow(m_in.outputFolder, m_next.files[i].name, O_WRONLY);
      if (outFd < 0 || !WriteAt(outFd, planned.fileOffset, buf.get(), p.length)) {
        Fail("cannot write " + m_in.outputFolder + m_next.files[i].name + ": " +
             std::strerror(errno));
        break;
      }
      m_done[i][k] = true;
      m_progress->copiedBytes += p.length;
      Tell();
    }
    if (outFd >= 0) ::close(outFd);
  }
  if (sourceFd >= 0) ::close(sourceFd);
  return Active();
}

bool Update::PlaceRecords(const KwFetchRange& range, const uint8_t* data,
                          std::vector<bool>* written, KwInflater* inflater, uint8_t* plain) {
  bool all = true;
  for (size_t n = 0; n < range.recordCount; ++n) {
    if ((*written)[n]) continue;
    const KwFetchRecord& r = m_plan.records[range.firstRecord + n];
    const uint8_t* rec = data + (r.offset - range.offset);
    const int32_t type = static_cast<int32_t>(kwpkg::GetU32(rec));
    const uint32_t length = kwpkg::GetU32(rec + 4);
    bool good = type == kwpkg::kRecordData && length + kwpkg::kRecordHeaderSize == r.length;
    if (good) {
      const KwInflateResult res =
          inflater->Inflate(rec + kwpkg::kRecordHeaderSize, length, plain, kwpkg::kChunkSize);
      good = res.verdict == KwInflateResult::kOk && res.produced == r.pieceLength &&
             Matches(plain, r.pieceLength, r.sha256);
    }
    if (!good) {
      all = false;
      continue;
    }
    for (const auto& target : r.targets) {
      const std::string& name = m_next.files[static_cast<size_t>(target.first)].name;
      const int fd = OpenBelow(m_in.outputFolder, name, O_WRONLY);
      const bool ok = fd >= 0 && WriteAt(fd, target.second, plain, r.pieceLength);
      if (fd >= 0) ::close(fd);
      if (!ok) {
        Fail("cannot write " + m_in.outputFolder + name + ": " + std::strerror(errno));
        return false;
      }
    }
    (*written)[n] = true;
  }
  return all;
}

void Update::FetchWorker(IKwRangeSourceFactory* sources) {
  std::unique_ptr<IKwRangeSource> source = sources->Open();
  std::unique_ptr<KwInflater> inflater = KwMakeInflater(KwInflaterKind::kLibdeflate);
  std::vector<uint8_t> data;
  std::unique_ptr<uint8_t[]> plain(new uint8_t[kwpkg::kChunkSize]);
  while (Active()) {
    const size_t index = m_nextRange++;
    if (index >= m_plan.ranges.size()) return;
    const KwFetchRange& range = m_plan.ranges[index];
    data.resize(static_cast<size_t>(range.length));
    std::vector<bool> written(range.recordCount, false);
    int badChecks = 0;
    while (Active()) {
      const int32_t n = source->Read(range.volume, range.offset, static_cast<int32_t>(range.length),
                                     reinterpret_cast<char*>(data.data()));
      if (n != static_cast<int32_t>(range.length)) {
        KW_LOG(4, kFunc, "range %lld+%lld of volume %u failed (%d); asked again",
               static_cast<long long>(range.offset), static_cast<long long>(range.length),
               range.volume, n);
        for (int slept = 0; slept < m_in.retryPauseMs && Active(); slept += 10)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        continue;
      }
      m_progress->fetchedBytes += range.length;
      Tell();
      if (PlaceRecords(range, data.data(), &written, inflater.get(), plain.get())) break;
      if (m_failed) return;
      // A piece that does not check never reaches the folder; it is asked
      // for again, as a transfer may have damaged it.
      if (++badChecks >= kShaAttempts) {
        Fail("a piece fetched from volume " + std::to_string(range.volume) + " at " +
             std::to_string(range.offset) + " fails its SHA-256 " + std::to_string(kShaAttempts) +
             " times");
        return;
      }
      KW_LOG(4, kFunc, "a piece of range %lld of volume %u fails its check; fetched again",
             static_cast<long long>(range.offset), range.volume);
    }
  }
}

bool Update::Finish() {
  const mode_t umask = KwCurrentUmask();
  for (const KwManifestFile& f : m_next.files) {
    if (!Active()) return false;
    const int fd = OpenBelow(m_in.outputFolder, f.name, O_RDONLY);
    if (fd < 0) {
      Fail("cannot open " + m_in.outputFolder + f.name);
      return false;
    }
    // The mode and times a full install gives the same file.
    uint8_t head[kRunBitsHeadSize] = {};
    const ssize_t got = ::pread(fd, head, sizeof(head), 0);
    KwRunBits bits;
    if (got > 0) bits.Add(head, static_cast<size_t>(got));
    int64_t sec = 0, nsec = 0;
    kwpkg::FileTimeToUnix(kwpkg::PkgMsToFileTime(f.mtimeMs), &sec, &nsec);
    struct timespec ts[2];
    ts[0].tv_sec = static_cast<time_t>(sec);
    ts[0].tv_nsec = static_cast<long>(nsec);
    ts[1] = ts[0];
    const bool ok = ::fchmod(fd, bits.Mode(umask)) == 0 && ::futimens(fd, ts) == 0;
    ::close(fd);
    if (!ok) {
      Fail("cannot set the mode or times of " + m_in.outputFolder + f.name);
      return false;
    }
    ++m_progress->filesDone;
  }
  return true;
}

int Update::Run(IKwRangeSourceFactory* sources, std::string* why) {
  CreateFoldersForPath((m_in.outputFolder + "/x").c_str());
  m_plan = KwPlanUpdate(m_next, m_in.installed);
  if (Prepare() && CopyLocal()) {
    KwPlanRecords(m_next, m_done, &m_plan);
    m_progress->planFetchBytes = m_plan.fetchBytes;
    KW_LOG(4, kFunc, "%zu record(s) in %zu range(s), %lld bytes to fetch", m_plan.records.size(),
           m_plan.ranges.size(), static_cast<long long>(m_plan.fetchBytes));
    const size_t threads =
        std::min(m_plan.ranges.size(), static_cast<size_t>(std::max(1, m_in.connections)));
    std::vector<std::thread> workers;
    for (size_t t = 0; t < threads; ++t)
      workers.emplace_back([this, sources] { FetchWorker(sources); });
    for (std::thread& w : workers) w.join();
    if (Active() && m_nextRange.load() < m_plan.ranges.size()) Fail("stopped");
    if (Active()) Finish();
  }
  if (m_in.active != nullptr && !m_in.active->load()) Fail("stopped");
  if (!m_failed) return 0;
  std::lock_guard<std::mutex> lock(m_mutex);
  *why = m_why;
  KW_LOG(4, kFunc, "update fails: %s", m_why.c_str());
  return -1;
}

}  // namespace

int KwRunUpdate(const KwUpdateInput& in, IKwRangeSourceFactory* sources, KwUpdateProgress* progress,
                std::string* why) {
  if (in.next == nullptr || sources == nullptr || progress == nullptr) return -1;
  Update update(in, progress);
  return update.Run(sources, why);
}
