// The download phase of the install engine: the run thread plans each
// volume into segments, four workers fetch them into the run's buffer pool,
// the writer puts them into the pre-sized volume file, and the run thread
// verifies the volume by length, checksum and SHA-256 in one read that a
// follower thread keeps close behind the writer.
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwenginesource.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwvolumename.h"

using kwengine::FileLength;
using kwengine::kMinFreeToContinue;
using kwengine::kPlanAttempts;
using kwengine::kWorkerCount;
using kwengine::NowMs;

void CKWInstallEngine::Impl::OnReceived(void* context, int32_t count) {
  auto* self = static_cast<Impl*>(context);
  self->received_ += count;
  if (count > 0) self->arrivedTotal_ += count;
  // Holding the transfer inside the receive path stops the bytes while
  // paused; a pause long enough to time the transfer out only costs a retry.
  if (!self->Paused()) return;
  while (self->Paused() && !self->end_) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  self->pauseEndedMs_ = NowMs();
}

void CKWInstallEngine::Impl::OnSegmentBytes(void* context, int32_t count) {
  auto* arrival = static_cast<SegmentArrival*>(context);
  Impl* self = arrival->self;
  // Bytes flow again: the connection is back.
  if (count > 0 && self->retryAttempt_.load() != 0) {
    self->retryAttempt_ = 0;
    self->Repaint();
  }
  OnReceived(self, count);
  arrival->attempt += count;
  const int64_t beyond = arrival->attempt - arrival->counted;
  if (beyond > 0) self->CountArriving(*arrival, beyond);
  self->Throttle(count);
}

void CKWInstallEngine::Impl::NoteRetry(int* streak) {
  ++*streak;
  int shown = retryAttempt_.load();
  while (shown < *streak && !retryAttempt_.compare_exchange_weak(shown, *streak)) {
  }
  Repaint();
}

void CKWInstallEngine::Impl::NoteAnswer(int* streak) {
  if (*streak == 0 && retryAttempt_.load() == 0) return;
  *streak = 0;
  retryAttempt_ = 0;
  Repaint();
}

void CKWInstallEngine::Impl::CountArriving(SegmentArrival& a, int64_t count) {
  std::lock_guard<std::mutex> lock(progressMutex_);
  if (a.generation != arrivingGeneration_) return;
  arriving_ += count;
  a.counted += count;
}

void CKWInstallEngine::Impl::TakeBack(SegmentArrival& a) {
  received_ -= a.counted;
  CountArriving(a, -a.counted);
}

void CKWInstallEngine::Impl::StartCounting(int64_t done, uint64_t generation) {
  std::lock_guard<std::mutex> lock(progressMutex_);
  doneBytes_ = done;
  arriving_ = 0;
  arrivingGeneration_ = generation;
}

void CKWInstallEngine::Impl::DownloadPhase() {
  CKWDownloadUtilFor util(this, &Impl::OnReceived);
  util.SetAbortCheck(&Impl::ShouldAbort, this);
  std::vector<PackageEntry> entries;
  char ver[256] = {};
  int streak = 0;
  while (active_) {
    entries.clear();
    const int listed = util.GetVersion(ver, sizeof(ver), entries);
    if (listed == 0) {
      NoteAnswer(&streak);
      break;
    }
    // Asking again cannot make a refused entry fit, nor make a release the
    // configured key does not admit into one it does; nothing is downloaded.
    if (listed == -4) return Fail("the install server lists a volume that cannot be held", nullptr);
    if (listed == CKWDownloadUtilFor::kReleaseRefused) {
      return Fail("the install server's release is refused", KwReleaseVerdictKey(util.refusal()));
    }
    NoteRetry(&streak);
    Nap(1000);
  }
  if (!active_) return;
  if (entries.empty()) return Fail("the install server lists no volume", nullptr);
  if (!KwIsSafePathPart(ver)) return Fail(std::string("unusable version name: ") + ver, nullptr);
  // The volume files are named after the version; one too long for their
  // names is refused before any volume is fetched.
  if (std::strlen(ver) > kKwVersionNameMax || entries.size() > 1000) {
    return Fail(std::string("the install server lists a version that cannot be held: ") + ver,
                nullptr);
  }
  version_ = ver;
  if (g_versionText[0] == '\0') KwCopyText(g_versionText, kVersionTextSize, ver);
  destination_ = installPath_ + "/" + version_;
  doneBytes_ = 0;
  totalBytes_ = 0;
  downloaded_.clear();
  verifyTailMs_ = 0;

  int64_t total = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    PackageEntry& e = entries[i];
    while (util.GetDownloadUrl(e) != 0) {
      if (!active_) return;
      NoteRetry(&streak);
      Nap(1000);
    }
    NoteAnswer(&streak);
    if (e.length < 0) return Fail(std::string("unusable volume length: ") + e.key, nullptr);
    // The server's key only asks for the bytes; the file is the installer's.
    std::snprintf(e.name, sizeof(e.name), "%s", KwLocalVolumeName(version_, i).c_str());
    std::snprintf(e.localPath, sizeof(e.localPath), "%s/%s", installPath_.c_str(), e.name);
    downloaded_.push_back(e.localPath);
    total += e.length;
  }
  volumeCount_ = static_cast<int>(entries.size());
  fullBytes_ = total;
  {
    std::lock_guard<std::mutex> lock(speedMutex_);
    speedMeter_.Reset(NowMs(), received_);
  }
  // An installed version that kept its manifest is updated instead: only
  // the pieces it lacks are fetched, into the staging folder.
  if (TryUpdate(util, entries)) return;
  // The install figures are in place before the download total shows.
  if (!StartInstallBeside(entries)) return;
  totalBytes_ = total;

  control_->SetFolder(installPath_.c_str());
  // Volumes an earlier run unpacked already are not fetched again.
  const size_t first = resumed_.done.size();
  if (first > 0) {
    int64_t done = 0;
    for (size_t i = 0; i < first; ++i) done += entries[i].length;
    StartCounting(done, generation_);
  }
  for (size_t i = first; i < entries.size() && active_; ++i) {
    volumeIndex_ = static_cast<int>(i);
    if (!DownloadVolume(entries[i])) return;
    gate_.MarkVerified(i);
  }
  if (active_) volumesReady_ = true;
}

// Downloads one volume until it verifies; false when the run ended.  The
// first planning continues from the volume's journal when one matches; a
// planning after a failed verification starts from scratch.
bool CKWInstallEngine::Impl::DownloadVolume(const PackageEntry& e) {
  control_->SetVolume(e.name, e.length);
  const std::string path = installPath_ + "/" + e.name;
  int64_t doneAtStart = doneBytes_;
  int planFailures = 0;
  int failedVerifications = 0;
  bool mayResume = true;
  while (active_) {
    holdWorkers_ = true;
    queues_->DiscardWaiting();
    volumeWritten_ = 0;
    volumeLength_ = e.length;
    volumeDone_ = false;
    volumeWriteFailed_ = false;
    planningEnd_ = kPlanningGoesOn;
    {
      std::lock_guard<std::mutex> lock(onDiskMutex_);
      volumeOnDisk_.Clear();
    }
    uint64_t generation = ++generation_;
    StartCounting(doneAtStart, generation);
    queues_->SetGeneration(generation);
    control_->SetVolume(e.name, e.length);

    // File servers that send whole files get one request for the volume.
    const bool stream = SendsWholeFiles(e);
    {
      std::lock_guard<std::mutex> lock(sourcesMutex_);
      contributors_.clear();
    }
    KwByteRanges resumed;
    KwByteRanges resumedOnDisk;
    bool resume = !stream && mayResume && e.length > 0 && FileLength(path) == e.length &&
                  KwVolumeJournal::Load(path, e, &resumed, &resumedOnDisk);
    mayResume = false;
    journal_.Close();
    if (!resume) KwVolumeJournal::Remove(path);
    int plan = control_->PlanSegments(e, *queues_, resume ? &resumed : nullptr);
    if (plan == CKWFileDownloadCtrl::kPlanComplete) {
      StartCounting(doneAtStart + e.length, generation);
      Repaint();
      return true;
    }
    if (plan != CKWFileDownloadCtrl::kPlanQueued) {
      if (!CheckDiskLeft()) return false;
      // A file that cannot be created for this long will not be created by
      // waiting; the user must pick another folder.
      if (++planFailures >= kPlanAttempts) {
        Fail(std::string("the volume file cannot be created: ") + path, "invalidpath2");
        return false;
      }
      Nap(1000);
      continue;
    }
    planFailures = 0;
    if (stream) queues_->DiscardWaiting();
    if (!HasRoomFor(path, e.length)) {
      Fail("the disk is full", "diskfull");
      return false;
    }
    int64_t expectedSegments = 0;
    for (const KwByteRanges::Range& gap : resumed.Missing(e.length)) {
      expectedSegments += (gap.second - gap.first + CKWFileDownloadCtrl::kSegmentSize - 1) /
                          CKWFileDownloadCtrl::kSegmentSize;
    }
    if (!stream && queues_->TasksWaiting() < expectedSegments) {
      Fail(std::string("volume too large to plan: ") + e.name, nullptr);
      return false;
    }
    queues_->BalanceLastRound(kWorkerCount);
    // What the journal vouches for counts as written; the verify pass still
    // reads it like any other byte.
    const int64_t covered = resumed.Covered();
    {
      std::lock_guard<std::mutex> lock(onDiskMutex_);
      volumeOnDisk_ = resumed;
    }
    journaled_ = resumed;
    journalFlushedMs_ = NowMs();
    if (!(resume ? journal_.Continue(path, e, resumed, resumedOnDisk) : journal_.Begin(path, e))) {
      KW_LOG(4, "CKWinstaller::downloadvolume", "no journal for %s", path.c_str());
    }
    if (covered > 0) {
      volumeWritten_ = covered;
      StartCounting(doneAtStart + covered, generation);
      control_->CompleteSegment(covered);
    }
    verifier_.Start(path, e.sha256[0] != '\0');
    if (volumeWritten_ >= e.length) volumeDone_ = true;
    std::thread streamer;
    if (stream && !volumeDone_) {
      streamer = std::thread([this, &e, generation] {
        pthread_setname_np(pthread_self(), "kw-stream");
        StreamVolume(e, generation);
      });
    } else {
      holdWorkers_ = false;
    }
    bool waited = WaitForVolume(path);
    holdWorkers_ = true;
    if (streamer.joinable()) streamer.join();
    if (waited && planningEnd_ != kPlanningGoesOn) {
      // Planned again: as one stream, or a broken stream once more.
      journal_.Close();
      KwVolumeJournal::Remove(path);
      if (planningEnd_ == kPlanningStreamBroken) Nap(1000);
      continue;
    }
    if (!waited) {
      // Stopped: what is on disk so far stays listed for the next run.
      JournalWritten(path);
      journal_.Close();
      return false;
    }
    const int64_t tailFrom = NowMs();
    bool verified = VerifyVolume(e);
    verifyTailMs_ += NowMs() - tailFrom;
    JudgeSources(e, verified);
    journal_.Close();
    KwVolumeJournal::Remove(path);
    if (verified) return true;
    if (!CheckDiskLeft()) return false;
    // A server that keeps sending other bytes would be asked again for ever.
    if (++failedVerifications >= kwengine::kVerifyAttempts) {
      ::unlink(path.c_str());
      Fail(std::string("volume ") + e.name + " failed its check " +
               std::to_string(failedVerifications) + " times",
           "volumebad");
      return false;
    }
  }
  return false;
}

bool CKWInstallEngine::Impl::WaitForVolume(const std::string& path) {
  // Written segments reach the journal within this long; each flush waits
  // for the disk, so they are batched rather than flushed one by one.
  constexpr int64_t kJournalEveryMs = 250;
  // The verify pass has a thread of its own: a journal flush can block for
  // as long as the disk takes to write what is dirty, and a pass waiting
  // behind it would leave most of the volume to read after its last segment.
  std::atomic<bool> stopFollowing{false};
  std::thread follower([this, &stopFollowing] {
    pthread_setname_np(pthread_self(), "kw-verify");
    FollowWriter(stopFollowing);
  });
  int64_t lastJournal = NowMs();
  while (!volumeDone_ && active_ && planningEnd_ == kPlanningGoesOn) {
    if (NowMs() - lastJournal >= kJournalEveryMs) {
      JournalWritten(path);
      lastJournal = NowMs();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The follower's step in progress belongs to the verify tail too.
  const int64_t lastSegmentSeen = NowMs();
  {
    std::lock_guard<std::mutex> lock(onDiskMutex_);
    stopFollowing = true;
  }
  onDiskGrew_.notify_all();
  follower.join();
  verifyTailMs_ += NowMs() - lastSegmentSeen;
  return active_;
}

void CKWInstallEngine::Impl::FollowWriter(const std::atomic<bool>& stop) {
  // A few megabytes per step keep the thread quick to notice the stop.
  constexpr int64_t kVerifyStep = 8 << 20;
  for (;;) {
    int64_t prefix = 0;
    {
      std::unique_lock<std::mutex> lock(onDiskMutex_);
      onDiskGrew_.wait(
          lock, [&] { return stop.load() || verifier_.position() < volumeOnDisk_.PrefixEnd(); });
      if (stop) return;
      prefix = volumeOnDisk_.PrefixEnd();
    }
    if (!verifier_.Advance(prefix, kVerifyStep)) return;
  }
}

void CKWInstallEngine::Impl::JournalWritten(const std::string& path) {
  if (!journal_.open()) return;
  std::vector<KwByteRanges::Range> fresh;
  {
    std::lock_guard<std::mutex> lock(onDiskMutex_);
    for (const KwByteRanges::Range& r : volumeOnDisk_.ranges()) {
      for (const KwByteRanges::Range& gap : journaled_.Missing(r.first, r.second)) {
        fresh.push_back(gap);
      }
    }
  }
  // Every range taken above was written before it was added, so its bytes
  // are in the page cache, where a later run of this boot finds them.
  if (!fresh.empty()) {
    if (!journal_.Record(fresh)) return;
    for (const KwByteRanges::Range& r : fresh) journaled_.Add(r.first, r.second - r.first);
    journalUnflushed_ = true;
  }
  // The disk gets them now and then, for a run after a crash of the machine;
  // flushing every time made a fast download wait for the disk for bytes
  // that are unpacked and removed before the kernel would have written them.
  if (!journalUnflushed_ || NowMs() - journalFlushedMs_ < kwengine::kJournalFlushEveryMs) return;
  journalFlushedMs_ = NowMs();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return;
  const bool flushed = fdatasync(fd) == 0;
  close(fd);
  if (flushed && journal_.MarkFlushed()) journalUnflushed_ = false;
}

bool CKWInstallEngine::Impl::VerifyVolume(const PackageEntry& e) {
  // Every byte was written (the writer counted them), so the pass may read
  // to the end; a write that failed fails the volume without reading.
  std::string path = installPath_ + "/" + e.name;
  bool lengthOk = FileLength(path) == e.length;
  bool complete = lengthOk && !volumeWriteFailed_ && verifier_.Advance(e.length);
  bool checksumOk = complete && strcasecmp(verifier_.ChecksumHex().c_str(), e.checksum) == 0;
  bool shaOk = e.sha256[0] == '\0' ||
               (checksumOk && strcasecmp(verifier_.Sha256Hex().c_str(), e.sha256) == 0);
  if (checksumOk && shaOk) return true;
  KW_LOG(4, "CKWinstaller::downloadvolume", "verify failed: %s (length %d, write %d, sum %d)",
         e.name, lengthOk ? 1 : 0, volumeWriteFailed_ ? 0 : 1, checksumOk ? 1 : 0);
  return false;
}

// Whether the disk has room for the rest of a planned volume, so a disk too
// small for it stops the run now rather than after most of a volume.  Its
// blocks are not reserved in advance: blocks allocated ahead tie the
// volume's unwritten pages to the file system's next journal commit, so the
// checkpoint saved after each unpacked volume waited for the disk to write
// volumes that were about to be removed.  True when the disk cannot be
// measured; the writes then find out.
bool CKWInstallEngine::Impl::HasRoomFor(const std::string& path, int64_t length) {
  if (length <= 0) return true;
  struct stat st;
  int64_t have = 0;
  if (lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
    have = static_cast<int64_t>(st.st_blocks) * 512;
  }
  int64_t total = 0;
  int64_t free = 0;
  if (!disk_->Measure(installPath_.c_str(), &total, &free)) return true;
  return free >= length - have;
}

// A volume that cannot be written because the disk is full would otherwise
// be fetched again forever.
bool CKWInstallEngine::Impl::CheckDiskLeft() {
  int64_t total = 0;
  int64_t free = 0;
  if (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue) {
    Fail("the disk is full", "diskfull");
    return false;
  }
  return active_;
}

void CKWInstallEngine::Impl::WorkerThread() {
  CKWDownloadUtilFor util(this, &Impl::OnReceived);
  util.SetAbortCheck(&Impl::ShouldAbort, this);
  while (!end_) {
    if (holdWorkers_ || Paused()) {
      Nap(10);
      continue;
    }
    std::unique_ptr<KwSegmentTask> task = queues_->TakeTask();
    if (!task) {
      Nap(10);
      continue;
    }
    FetchSegment(util, *task);
  }
}

void CKWInstallEngine::Impl::FetchSegment(CKWDownloadUtilFor& util, const KwSegmentTask& task) {
  char* buffer = nullptr;
  std::unique_ptr<char[]> own;
  if (static_cast<size_t>(task.length) <= buffers_->size()) {
    buffer = buffers_->Acquire(end_);
    if (buffer == nullptr) return;
  } else {
    own.reset(new char[static_cast<size_t>(task.length)]);
    buffer = own.get();
  }
  // The server the last attempt failed on or left; the next goes elsewhere
  // when there is anywhere else.
  std::string avoid;
  SegmentArrival arrival{this, task.generation, 0};
  int streak = 0;
  while (!end_ && task.generation == generation_) {
    while (Paused() && !end_) Nap(100);
    PackageEntry entry = task.entry;
    // Addresses expire; every attempt asks for fresh ones.
    util.GetDownloadUrl(entry);
    const std::vector<std::string> addresses = KwAddressesOf(entry);
    const int pick = mirrors_.Choose(addresses, task.length, avoid, SoleOrigin(), NowMs());
    if (pick < 0) {
      Nap(1000);
      continue;
    }
    const std::string& address = addresses[static_cast<size_t>(pick)];
    const std::string origin = KwAddressOrigin(address.c_str());
    auto result = std::make_unique<KwSegmentResult>();
    arrival.attempt = 0;
    const int64_t started = NowMs();
    AttemptWatch watch{this,    &arrival, &addresses, origin,  task.length,
                       started, started,  0,          started, AttemptWatch::kNone};
    mirrors_.Begin(origin);
    int32_t n = KwFetchSegment(address.c_str(), task.offset, task.length, buffer,
                               &Impl::OnSegmentBytes, &arrival, &Impl::AttemptShouldEnd, &watch);
    const int64_t ms = NowMs() - started;
    const int64_t brought = arrival.attempt;
    if (n == task.length) {
      mirrors_.Succeeded(origin, task.length, ms);
      AddContributor(origin, task.generation);
    } else {
      // What this attempt showed stays shown: the next attempt (here or on
      // another server) brings the same bytes again and counts only what
      // goes beyond, so a lost connection never takes the progress back.
      const bool elsewhere = mirrors_.OthersLeft(addresses, origin) > 0;
      const std::string where =
          "segment at " + std::to_string(task.offset) + " of " + task.fileName;
      if (n == kKwFetchWholeFile) {
        mirrors_.Abandoned(origin, 0, ms);
        NoteWholeFiles(address.c_str());
        // Ranged requests get nowhere with this server: another one takes
        // the segment, or the volume is planned again as one stream.
        if (SendsWholeFiles(entry)) {
          if (task.generation == generation_) planningEnd_ = kPlanningToStream;
          break;
        }
        avoid = origin;
        continue;
      }
      if (end_) break;
      if (watch.reason == AttemptWatch::kMoved) {
        mirrors_.Abandoned(origin, brought, ms);
        Note(where + " moved from " + origin + ": another file server is much faster");
        avoid = origin;
        continue;
      }
      if (watch.reason == AttemptWatch::kBelowFloor) {
        mirrors_.Failed(origin, NowMs());
        Note(where + " from " + origin + " stayed below the lowest speed" +
             (elsewhere ? "; moved to another file server" : "; tried again"));
      } else {
        mirrors_.Failed(origin, NowMs());
        if (elsewhere) Note(where + " failed on " + origin + "; moved to another file server");
      }
      avoid = origin;
      // With no other server the page says the connection is lost and
      // which attempt this is; with one, the segment moves at once.
      if (!elsewhere) NoteRetry(&streak);
      Nap(elsewhere ? 50 : 1000);
      continue;
    }
    NoteAnswer(&streak);
    // A good answer is exactly the segment, whatever pieces it came in.
    CountArriving(arrival, task.length - arrival.counted);
    result->head = task;
    if (own) {
      // An oversized segment (never planned in practice) is written here.
      WriteSegment(*result, buffer);
      return;
    }
    result->data = buffer;
    while (!end_) {
      if (queues_->ResultsWaiting() <= kKwResultsWaitingMax && queues_->PutResult(result)) return;
      Nap(10);
    }
    TakeBack(arrival);
    break;
  }
  if (!own) buffers_->Release(buffer);
}

void CKWInstallEngine::Impl::WriterThread() {
  while (!end_) {
    bool sampled = false;
    {
      std::lock_guard<std::mutex> lock(speedMutex_);
      if (speedMeter_.Sample(NowMs(), received_)) {
        speed_ = Paused() ? 0 : speedMeter_.speed();
        sampled = true;
      }
    }
    if (sampled) Repaint();
    // Waits for a result for at most 10 ms, waking as soon as one comes.
    std::unique_ptr<KwSegmentResult> result = queues_->TakeResult(10);
    if (!result) continue;
    // A result of an earlier planning would land in a file planned anew.
    if (result->head.generation == generation_) WriteSegment(*result, result->data);
    buffers_->Release(result->data);
  }
}

void CKWInstallEngine::Impl::WriteSegment(const KwSegmentResult& r, const char* data) {
  std::string path = installPath_ + "/" + r.head.fileName;
  int64_t written = 0;
  int fd = OpenVolumeForWrite(path.c_str(), false);
  if (fd < 0) {
    KW_LOG(4, "CKWFileDownloadCtrl::WriteData", "-=-");
    volumeWriteFailed_ = true;
  } else {
    while (written < r.head.length) {
      int64_t piece = std::min<int64_t>(r.head.length - written, kwengine::kWritePiece);
      ssize_t n = pwrite(fd, data + written, static_cast<size_t>(piece), r.head.offset + written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += n;
    }
    int writeErrno = errno;
    if (close(fd) != 0 && written == r.head.length) {
      written = 0;
      writeErrno = errno;
    }
    if (written != r.head.length) {
      KW_LOG(4, "CKWFileDownloadCtrl::WriteData", "-=-");
      volumeWriteFailed_ = true;
      if (writeErrno == ENOSPC || writeErrno == EDQUOT) Fail("the disk is full", "diskfull");
    } else {
      writtenTotal_ += written;
      std::lock_guard<std::mutex> lock(onDiskMutex_);
      volumeOnDisk_.Add(r.head.offset, r.head.length);
    }
    onDiskGrew_.notify_all();
  }
  control_->CompleteSegment(written);
  {
    // The segment moves from arriving to written in one step.
    std::lock_guard<std::mutex> lock(progressMutex_);
    doneBytes_ += r.head.length;
    if (r.head.generation == arrivingGeneration_) arriving_ -= r.head.length;
  }
  int64_t now = (volumeWritten_ += r.head.length);
  if (now >= volumeLength_) volumeDone_ = true;
  Repaint();
}
