// The install engine: validation, the run thread with its download and
// install phases, the download workers and the writer.
//
// Flags and counters shared between threads are atomics.  `active_` says
// whether the run is still wanted (it decides 833 against 832); `end_` tells
// every thread of the run to leave its loop.  The run thread sets `end_` as
// its last act, Stop() sets it at once, and whoever ends a run joins all six
// threads, so none outlives the engine.
#include "MsgBox/ikwinstallerdownloadstart.h"

#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "MsgBox/kwengineconfig.h"
#include "MsgBox/kwenginedisk.h"
#include "MsgBox/kwenginefetch.h"
#include "MsgBox/kwenginefinish.h"
#include "MsgBox/kwengineowner.h"
#include "MsgBox/kwenginequeue.h"
#include "MsgBox/kwengineresume.h"
#include "MsgBox/kwenginesource.h"
#include "MsgBox/kwenginespeed.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "main/kwglobals.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/makepackage/kwpkgchecksum.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwunzippackage.h"

namespace {

constexpr int kWorkerCount = 4;
// Segment buffers of a run: one per worker in flight and as many waiting for
// the writer, which keeps the memory of a download near 100 MB.
constexpr int kSegmentBuffers = 2 * kWorkerCount;
// Largest piece handed to the unpacker at once: a chunk record and its header.
constexpr int32_t kInstallChunk = 3200008;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t FileLength(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

}  // namespace

class CKWInstallEngine::Impl {
 public:
  Impl(IKWInstallEngineOwner* owner, IKWEngineDisk* disk)
      : owner_(owner), disk_(disk ? disk : KwDefaultEngineDisk()), runMode_(g_runMode) {
    requiredSpace_ = KwReadRequiredSpace(KwIniPathIn(g_exeDir).c_str());
    installerFile_ = g_exePath;
  }

  ~Impl() { Stop(); }

  // ---- set-up -------------------------------------------------------------

  IKWInstallEngineOwner* owner_;
  IKWEngineDisk* disk_;
  int32_t runMode_;
  int64_t requiredSpace_ = kKwDefaultRequiredSpace;
  std::string installerFile_;
  std::string packageSource_;
  const KwResumeEntry* resume_ = nullptr;

  // ---- run state ----------------------------------------------------------

  std::atomic<bool> active_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> end_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> volumesReady_{false};
  std::atomic<bool> holdWorkers_{true};
  bool downloadRun_ = false;  // this run downloads (run thread only)
  std::atomic<int> lastResult_{1};

  std::atomic<int64_t> totalBytes_{0};
  std::atomic<int64_t> doneBytes_{0};
  std::atomic<int64_t> diskTotal_{0};
  std::atomic<int64_t> diskFree_{0};
  std::atomic<int64_t> speed_{0};
  std::atomic<int64_t> received_{0};
  std::atomic<int> volumeCount_{0};
  std::atomic<int> volumeIndex_{0};

  // The volume being downloaded.
  std::atomic<int64_t> volumeWritten_{0};
  std::atomic<int64_t> volumeLength_{0};
  std::atomic<bool> volumeDone_{false};
  std::atomic<bool> volumeWriteFailed_{false};
  std::mutex lanesMutex_;
  KwChecksumLanes volumeLanes_;  // lanes of the bytes written to the current volume
  std::atomic<uint64_t> generation_{0};

  mutable std::mutex textMutex_;
  std::string statusLine_;
  std::string failure_;
  std::string failureKey_;

  std::string installPath_;
  std::string version_;
  std::vector<std::string> downloaded_;  // local paths of the volumes this run downloaded
  std::string destination_;
  std::unique_ptr<KwSegmentQueues> queues_;
  std::unique_ptr<KwSegmentBufferPool> buffers_;
  std::unique_ptr<CKWFileDownloadCtrl> control_;

  std::thread runThread_;
  std::thread writerThread_;
  std::thread workers_[kWorkerCount];

  std::mutex finishMutex_;
  std::condition_variable finishedCv_;

  // ---- owner calls ---------------------------------------------------------

  void Repaint() {
    // A page that stops its engine is going away; it needs no more paints.
    if (owner_ != nullptr && !stopRequested_) owner_->EngineRepaint();
  }

  // Ends the run for a reason; the first reason wins.
  void Fail(const std::string& why, const char* key) {
    {
      std::lock_guard<std::mutex> lock(textMutex_);
      if (failure_.empty()) {
        failure_ = why;
        failureKey_ = key ? key : "";
      }
    }
    KW_LOG(4, "CKWinstaller::runinstall", "run fails: %s", why.c_str());
    active_ = false;
  }

  void SetStatus(const char* text) {
    std::lock_guard<std::mutex> lock(textMutex_);
    statusLine_ = text ? text : "";
  }

  // Sleeps up to `ms` in small steps, returning early when the run ends.
  void Nap(int ms) {
    for (int slept = 0; slept < ms && !end_; slept += 10) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  bool Paused() const { return g_pauseState.load() == 2; }

  // ---- start and stop -----------------------------------------------------

  int StartRun(bool agreed, const char* pathText, const char** messageKey) {
    auto refuse = [&](int code, const char* key) {
      if (messageKey != nullptr) *messageKey = key;
      return code;
    };
    if (messageKey != nullptr) *messageKey = nullptr;
    if (active_) return refuse(kKwStartBusy, nullptr);
    JoinThreads();

    int32_t stage = g_installStage.load();
    if (stage != 1 && stage != 2 && !agreed) return refuse(kKwStartNotAgreed, "pleasecheck");

    std::string path = pathText ? pathText : "";
    std::string folder;
    bool checkPath = runMode_ == 0 || runMode_ == 5 || !path.empty();
    if (checkPath) {
      if (path.empty()) return refuse(kKwStartNoPath, "pleaseinputtopath");
      // Trailing separators would double up in every "%s/%s" below.
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      if (!ProbeFolder(path)) return refuse(kKwStartInvalidPath, "invalidpath2");
      folder = path;
    } else {
      // The local package page leaves its chosen target here; without one the
      // package installs beside the installer.
      folder = g_targetDir[0] != '\0' ? g_targetDir : g_exeDir;
    }
    if (runMode_ == 0) {
      int64_t total = 0;
      int64_t free = 0;
      if (!disk_->Measure(folder.c_str(), &total, &free) || free < requiredSpace_) {
        if (total > 0) {
          diskTotal_ = total;
          diskFree_ = free;
        }
        return refuse(kKwStartNotEnough, "notenough");
      }
      diskTotal_ = total;
      diskFree_ = free;
      KwWriteInstallPath(folder.c_str());
      if (stage == 0) g_installStage = 1;
    }
    KwCopyText(g_installPath, kFolderSize, folder.c_str());
    installPath_ = folder;

    ResetRunState();
    active_ = true;
    finished_ = false;
    end_ = false;
    // Named, so a debugger or profiler tells the run's threads apart.
    runThread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "kw-run");
      RunThread();
    });
    writerThread_ = std::thread([this] {
      pthread_setname_np(pthread_self(), "kw-writer");
      WriterThread();
    });
    for (auto& w : workers_) {
      w = std::thread([this] {
        pthread_setname_np(pthread_self(), "kw-download");
        WorkerThread();
      });
    }
    Repaint();
    return kKwStartOk;
  }

  // Creates "%s/test.txt" in the folder (and the folders on its way), then
  // removes the probe again.
  static bool ProbeFolder(const std::string& folder) {
    std::string probe = folder + "/test.txt";
    CreateFoldersForPath(probe.c_str());
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    bool existed = false;
    if (fd < 0 && errno == EEXIST) {
      // A file of that name belongs to someone; only check that it could be written.
      existed = true;
      fd = open(probe.c_str(), O_WRONLY | O_CLOEXEC);
    }
    if (fd < 0) return false;
    close(fd);
    if (!existed) unlink(probe.c_str());
    return true;
  }

  void ResetRunState() {
    stopRequested_ = false;
    volumesReady_ = false;
    holdWorkers_ = true;
    lastResult_ = 1;
    totalBytes_ = 0;
    doneBytes_ = 0;
    speed_ = 0;
    received_ = 0;
    volumeCount_ = 0;
    volumeIndex_ = 0;
    volumeWritten_ = 0;
    volumeLength_ = 0;
    volumeDone_ = false;
    volumeWriteFailed_ = false;
    {
      std::lock_guard<std::mutex> lock(textMutex_);
      statusLine_.clear();
      failure_.clear();
      failureKey_.clear();
    }
    queues_ = std::make_unique<KwSegmentQueues>();
    buffers_ =
        std::make_unique<KwSegmentBufferPool>(kSegmentBuffers, CKWFileDownloadCtrl::kSegmentSize);
    control_ = std::make_unique<CKWFileDownloadCtrl>(this);
  }

  void Stop() {
    stopRequested_ = true;
    active_ = false;
    end_ = true;
    JoinThreads();
  }

  void JoinThreads() {
    if (runThread_.joinable()) runThread_.join();
    // The run thread ends the others when it ends; a run that never started
    // still has them ended here.
    end_ = true;
    if (writerThread_.joinable()) writerThread_.join();
    for (auto& w : workers_) {
      if (w.joinable()) w.join();
    }
  }

  void WaitUntilFinished() {
    {
      std::unique_lock<std::mutex> lock(finishMutex_);
      finishedCv_.wait(lock, [this] { return finished_.load() || !runThread_.joinable(); });
    }
    JoinThreads();
  }

  // ---- run thread -----------------------------------------------------------

  void RunThread() {
    volumesReady_ = false;
    bool downloaded = false;
    // The online installer downloads unless its dialog handed it package
    // files to install from; every other run mode installs from its source.
    downloadRun_ = runMode_ == 0 && packageSource_.empty();
    if (downloadRun_) {
      DownloadPhase();
      if (active_) {
        std::string marker = installPath_ + "/" + kKwUnzipMarker;
        FILE* f = std::fopen(marker.c_str(), "wb");
        if (f != nullptr) {
          std::fputs("1", f);
          std::fclose(f);
        }
        g_installStage = 2;
        downloaded = true;
      } else {
        volumesReady_ = false;
        g_installStage = 1;
      }
    } else {
      // Nothing to download: the volumes are ready where they are.
      volumesReady_ = true;
      g_installStage = 2;
    }
    if (volumesReady_) InstallPhase(downloaded);
    EndRun();
  }

  void EndRun() {
    bool success = active_.load();
    if (!success && g_installStage.load() == 2) {
      // Verified downloads stay for the next attempt; other sources have
      // nothing to continue.
      g_installStage = downloadRun_ ? 1 : 0;
    }
    KW_LOG(4, "CKWinstaller::runinstall", "end");
    end_ = true;
    std::string key;
    {
      std::lock_guard<std::mutex> lock(textMutex_);
      if (!success && failure_.empty()) failure_ = "the run was stopped";
      key = failureKey_;
    }
    lastResult_ = success ? 0 : -1;
    bool tell = !stopRequested_.load();
    {
      std::lock_guard<std::mutex> lock(finishMutex_);
      finished_ = true;
    }
    finishedCv_.notify_all();
    if (tell && owner_ != nullptr) {
      if (!success && !key.empty()) owner_->EngineMessage(key.c_str());
      owner_->EnginePostCommand(success ? kKwCmdInstallDone : kKwCmdInstallFailed);
    }
    Repaint();
  }

  // ---- download phase -------------------------------------------------------

  static void OnReceived(void* context, int32_t count) {
    auto* self = static_cast<Impl*>(context);
    self->received_ += count;
    // Holding the transfer inside the receive path stops the bytes while
    // paused; a pause long enough to time the transfer out only costs a retry.
    while (self->Paused() && !self->end_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // Lets a running transfer end at once when the run ends.
  static bool ShouldAbort(void* context) { return static_cast<Impl*>(context)->end_.load(); }

  void DownloadPhase() {
    CKWDownloadUtilFor util(this, &Impl::OnReceived);
    util.SetAbortCheck(&Impl::ShouldAbort, this);
    std::vector<PackageEntry> entries;
    char ver[256] = {};
    while (active_) {
      entries.clear();
      if (util.GetVersion(ver, sizeof(ver), entries) == 0) break;
      Nap(1000);
    }
    if (!active_) return;
    if (entries.empty()) return Fail("the install server lists no volume", nullptr);
    if (!KwIsSafePathPart(ver)) return Fail(std::string("unusable version name: ") + ver, nullptr);
    version_ = ver;
    if (g_versionText[0] == '\0') KwCopyText(g_versionText, kVersionTextSize, ver);
    destination_ = installPath_ + "/" + version_;
    doneBytes_ = 0;
    totalBytes_ = 0;
    downloaded_.clear();

    int64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      PackageEntry& e = entries[i];
      while (util.GetDownloadUrl(e) != 0) {
        if (!active_) return;
        Nap(1000);
      }
      if (!KwIsSafePathPart(e.name) || e.length < 0) {
        return Fail(std::string("unusable volume name: ") + e.name, nullptr);
      }
      std::snprintf(e.localPath, sizeof(e.localPath), "%s/%s", installPath_.c_str(), e.name);
      downloaded_.push_back(e.localPath);
      total += e.length;
    }
    totalBytes_ = total;
    volumeCount_ = static_cast<int>(entries.size());
    {
      std::lock_guard<std::mutex> lock(speedMutex_);
      speedMeter_.Reset(NowMs(), received_);
    }

    control_->SetFolder(installPath_.c_str());
    for (size_t i = 0; i < entries.size() && active_; ++i) {
      volumeIndex_ = static_cast<int>(i);
      if (!DownloadVolume(entries[i])) return;
    }
    if (active_) volumesReady_ = true;
  }

  // Downloads one volume until it verifies; false when the run ended.
  bool DownloadVolume(const PackageEntry& e) {
    control_->SetVolume(e.name, e.length);
    int64_t doneAtStart = doneBytes_;
    int planFailures = 0;
    int64_t expectedSegments =
        (e.length + CKWFileDownloadCtrl::kSegmentSize - 1) / CKWFileDownloadCtrl::kSegmentSize;
    while (active_) {
      holdWorkers_ = true;
      queues_->DiscardWaiting();
      volumeWritten_ = 0;
      volumeLength_ = e.length;
      volumeDone_ = false;
      volumeWriteFailed_ = false;
      {
        std::lock_guard<std::mutex> lock(lanesMutex_);
        volumeLanes_ = KwChecksumLanes();
      }
      doneBytes_ = doneAtStart;
      uint64_t generation = ++generation_;
      queues_->SetGeneration(generation);
      control_->SetVolume(e.name, e.length);

      int plan = control_->PlanSegments(e, *queues_);
      if (plan == CKWFileDownloadCtrl::kPlanComplete) {
        doneBytes_ = doneAtStart + e.length;
        Repaint();
        return true;
      }
      if (plan != CKWFileDownloadCtrl::kPlanQueued) {
        if (!CheckDiskLeft()) return false;
        // A file that cannot be created for this long will not be created by
        // waiting; the user must pick another folder.
        if (++planFailures >= kPlanAttempts) {
          Fail(std::string("the volume file cannot be created: ") + installPath_ + "/" + e.name,
               "invalidpath2");
          return false;
        }
        Nap(1000);
        continue;
      }
      planFailures = 0;
      if (!ReserveSpace(installPath_ + "/" + e.name, e.length)) {
        Fail("the disk is full", "diskfull");
        return false;
      }
      if (queues_->TasksWaiting() < expectedSegments) {
        Fail(std::string("volume too large to plan: ") + e.name, nullptr);
        return false;
      }
      queues_->BalanceLastRound(kWorkerCount);
      if (e.length == 0) volumeDone_ = true;
      holdWorkers_ = false;
      while (!volumeDone_ && active_) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      holdWorkers_ = true;
      if (!active_) return false;

      // The writer summed every byte it wrote, so the checksum of the file is
      // known without reading the volume back; a failed write fails at once.
      std::string path = installPath_ + "/" + e.name;
      bool lengthOk = FileLength(path) == e.length;
      std::string sum;
      {
        std::lock_guard<std::mutex> lock(lanesMutex_);
        sum = volumeLanes_.Hex();
      }
      bool checksumOk = lengthOk && !volumeWriteFailed_ && strcasecmp(sum.c_str(), e.checksum) == 0;
      if (checksumOk) return true;
      KW_LOG(4, "CKWinstaller::downloadvolume", "verify failed: %s (length %d, write %d)", e.name,
             lengthOk ? 1 : 0, volumeWriteFailed_ ? 0 : 1);
      if (!CheckDiskLeft()) return false;
    }
    return false;
  }

  // Reserves the blocks of a planned volume without writing them, so a disk
  // too small for it stops the run now rather than after most of a volume.
  // False only when the disk is full; file systems that cannot reserve are
  // left to the writes.
  static bool ReserveSpace(const std::string& path, int64_t length) {
    if (length <= 0) return true;
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return true;
    int r = fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, length);
    int error = r == 0 ? 0 : errno;
    close(fd);
    return error != ENOSPC && error != EDQUOT;
  }

  // A volume that cannot be written because the disk is full would otherwise
  // be fetched again forever.
  bool CheckDiskLeft() {
    int64_t total = 0;
    int64_t free = 0;
    if (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue) {
      Fail("the disk is full", "diskfull");
      return false;
    }
    return active_;
  }
  static constexpr int64_t kMinFreeToContinue = 1 << 20;
  static constexpr int kPlanAttempts = 10;

  std::mutex speedMutex_;
  KwSpeedMeter speedMeter_;

  void WorkerThread() {
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

  void FetchSegment(CKWDownloadUtilFor& util, const KwSegmentTask& task) {
    char* buffer = nullptr;
    std::unique_ptr<char[]> own;
    if (static_cast<size_t>(task.length) <= buffers_->size()) {
      buffer = buffers_->Acquire(end_);
      if (buffer == nullptr) return;
    } else {
      own.reset(new char[static_cast<size_t>(task.length)]);
      buffer = own.get();
    }
    while (!end_ && task.generation == generation_) {
      while (Paused() && !end_) Nap(100);
      PackageEntry entry = task.entry;
      // Addresses expire; every attempt asks for a fresh one.
      util.GetDownloadUrl(entry);
      auto result = std::make_unique<KwSegmentResult>();
      int32_t n = KwFetchSegment(entry.url, task.offset, task.length, buffer, &result->lanes,
                                 &Impl::OnReceived, this, &Impl::ShouldAbort, this);
      if (n != task.length) {
        Nap(1000);
        continue;
      }
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
      break;
    }
    if (!own) buffers_->Release(buffer);
  }

  void WriterThread() {
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

  void WriteSegment(const KwSegmentResult& r, const char* data) {
    std::string path = installPath_ + "/" + r.head.fileName;
    int64_t written = 0;
    int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
      KW_LOG(4, "CKWFileDownloadCtrl::WriteData", "-=-");
      volumeWriteFailed_ = true;
    } else {
      while (written < r.head.length) {
        ssize_t n = pwrite(fd, data + written, static_cast<size_t>(r.head.length - written),
                           r.head.offset + written);
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
        std::lock_guard<std::mutex> lock(lanesMutex_);
        volumeLanes_.Add(r.lanes);
      }
    }
    control_->CompleteSegment(written);
    doneBytes_ += r.head.length;
    int64_t now = (volumeWritten_ += r.head.length);
    if (now >= volumeLength_) volumeDone_ = true;
    Repaint();
  }

  // ---- install phase ------------------------------------------------------

  static int OnUnpacked(void* context, int32_t code, const char* text, int64_t) {
    auto* self = static_cast<Impl*>(context);
    if (code == CKWUnzipPackage::kFileBegun) {
      self->SetStatus(text);
      self->Repaint();
    }
    return 0;
  }

  void InstallPhase(bool downloaded) {
    std::unique_ptr<KwVolumeSource> source;
    bool embedded = false;
    if (downloaded) {
      // Exactly the volumes that verified: a leftover volume of an older,
      // longer package in the same folder must not be unpacked after them.
      source = KwMakeFileListSource(downloaded_, version_);
    } else if (packageSource_ == "^") {
      source = KwMakeEmbeddedSource(installerFile_);
      embedded = true;
    } else if (!packageSource_.empty()) {
      source = KwMakeLocalSource(packageSource_);
    } else {
      source = KwMakeServerSource(&active_, &Impl::OnReceived, this, resume_);
    }
    std::string version;
    std::string why;
    if (source->Prepare(&version, &why) != 0) {
      if (embedded) g_installStage = 0;
      return Fail(why, nullptr);
    }
    if (!KwIsSafePathPart(version.c_str())) {
      return Fail("unusable version name: " + version, nullptr);
    }
    version_ = version;
    if (g_versionText[0] == '\0') KwCopyText(g_versionText, kVersionTextSize, version.c_str());
    destination_ = installPath_ + "/" + version_;

    const auto& volumes = source->volumes();
    int64_t total = 0;
    for (const auto& v : volumes) total += v.length;
    doneBytes_ = 0;
    totalBytes_ = total;
    volumeCount_ = static_cast<int>(volumes.size());

    CKWUnzipPackage unpacker;
    char ownerText[512] = {};
    unpacker.SetTargetFolder(destination_.c_str());
    unpacker.SetOwnerText(ownerText);
    unpacker.SetCallback(&Impl::OnUnpacked, this);

    std::unique_ptr<char[]> buffer(new char[kInstallChunk]);
    for (size_t i = 0; i < volumes.size() && active_; ++i) {
      volumeIndex_ = static_cast<int>(i);
      const KwSourceVolume& v = volumes[i];
      if (v.skip) {
        doneBytes_ += v.length;
        continue;
      }
      uint8_t header[kwpkg::kVolumeHeaderSize];
      if (source->Read(i, 0, sizeof(header), reinterpret_cast<char*>(header)) != sizeof(header)) {
        return Fail("volume cannot be read: " + v.name, nullptr);
      }
      if (!kwpkg::HasVolumeMagic(header, sizeof(header))) {
        return Fail("not a package volume: " + v.name, nullptr);
      }
      int64_t offset = v.startOffset;
      doneBytes_ += offset;
      while (offset < v.length && active_) {
        int32_t want = static_cast<int32_t>(std::min<int64_t>(v.length - offset, kInstallChunk));
        int32_t n = source->Read(i, offset, want, buffer.get());
        if (n != want) return Fail("volume cannot be read: " + v.name, nullptr);
        doneBytes_ += n;
        Repaint();
        if (unpacker.PutBuffer(buffer.get(), n) != 0) {
          return Fail("volume cannot be unpacked: " + v.name + ": " + unpacker.ErrorText(),
                      nullptr);
        }
        if (unpacker.BadFiles() > 0) return FailUnpacked(unpacker, v.name);
        offset += n;
      }
    }
    if (!active_) return;
    if (unpacker.BadFiles() > 0) return FailUnpacked(unpacker, volumes.back().name);
    if (unpacker.InsideFile() || unpacker.Pending() != 0) {
      return Fail("the package ends inside a file", nullptr);
    }

    KwFinishInput in;
    in.makeShortcut = runMode_ == 0;
    in.removeDownloads = downloaded;
    in.installPath = installPath_;
    in.destination = destination_;
    in.versionText = g_versionText;
    KwRunFinishingSteps(in);
    g_installStage = 0;
  }

  void FailUnpacked(const CKWUnzipPackage& unpacker, const std::string& volume) {
    (void)unpacker;
    int64_t total = 0;
    int64_t free = 0;
    if (disk_->Measure(installPath_.c_str(), &total, &free) && free < kMinFreeToContinue) {
      return Fail("the disk is full", "diskfull");
    }
    Fail("files of " + volume + " could not be unpacked", nullptr);
  }

  KwEngineProgress Progress() const {
    KwEngineProgress p;
    p.totalBytes = totalBytes_;
    p.doneBytes = doneBytes_;
    p.speed = Paused() ? 0 : speed_.load();
    p.diskTotal = diskTotal_;
    p.diskFree = diskFree_;
    p.runActive = active_;
    p.runFinished = finished_;
    p.volumeCount = volumeCount_;
    p.volumeIndex = volumeIndex_;
    std::lock_guard<std::mutex> lock(textMutex_);
    p.statusLine = statusLine_;
    p.failure = failure_;
    return p;
  }
};

CKWInstallEngine::CKWInstallEngine(IKWInstallEngineOwner* owner, IKWEngineDisk* disk)
    : impl_(std::make_unique<Impl>(owner, disk)) {}

CKWInstallEngine::~CKWInstallEngine() {
  impl_->Stop();
}

void CKWInstallEngine::SetOwner(IKWInstallEngineOwner* owner) {
  impl_->owner_ = owner;
}
void CKWInstallEngine::SetPackageSource(const char* source) {
  impl_->packageSource_ = source ? source : "";
}
void CKWInstallEngine::SetResumeTable(const KwResumeEntry* table) {
  impl_->resume_ = table;
}
void CKWInstallEngine::SetRequiredSpace(int64_t bytes) {
  impl_->requiredSpace_ = bytes;
}
int64_t CKWInstallEngine::RequiredSpace() const {
  return impl_->requiredSpace_;
}
void CKWInstallEngine::SetRunMode(int32_t runMode) {
  impl_->runMode_ = runMode;
}
void CKWInstallEngine::SetInstallerFile(const char* path) {
  impl_->installerFile_ = path ? path : "";
}

bool CKWInstallEngine::MeasureDisk(const char* folder) {
  int64_t total = 0;
  int64_t free = 0;
  if (!impl_->disk_->Measure(folder, &total, &free)) return false;
  impl_->diskTotal_ = total;
  impl_->diskFree_ = free;
  return true;
}

int CKWInstallEngine::StartRun(bool agreed, const char* pathText, const char** messageKey) {
  return impl_->StartRun(agreed, pathText, messageKey);
}

void CKWInstallEngine::Stop() {
  impl_->Stop();
}
void CKWInstallEngine::WaitUntilFinished() {
  impl_->WaitUntilFinished();
}
KwEngineProgress CKWInstallEngine::Progress() const {
  return impl_->Progress();
}
bool CKWInstallEngine::RunActive() const {
  return impl_->active_;
}
bool CKWInstallEngine::RunFinished() const {
  return impl_->finished_;
}
int CKWInstallEngine::LastResult() const {
  return impl_->lastResult_;
}
