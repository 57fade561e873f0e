// The install engine: validation, start and stop, and the run thread that
// carries a run through its phases (download: kwenginedownload.cpp, install:
// kwengineinstall.cpp).  The shared state is described in kwengineimpl.h.
#include "MsgBox/engine/ikwinstallerdownloadstart.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "MsgBox/desktop/kwfolderprobe.h"
#include "MsgBox/engine/kwengineconfig.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwengineowner.h"
#include "MsgBox/engine/kwengineresume.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "tool/http/kwvolumename.h"
#include "tool/makepackage/kwmanifest.h"

int64_t kwengine::FileLength(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_size;
}

CKWInstallEngine::Impl::Impl(IKWInstallEngineOwner* owner, IKWEngineDisk* disk)
    : owner_(owner), disk_(disk ? disk : KwDefaultEngineDisk()), runMode_(g_runMode) {
  const std::string ini = KwIniPathIn(g_exeDir);
  requiredSpace_ = KwReadRequiredSpace(ini.c_str());
  requiredSet_ = requiredSpace_ != kKwDefaultRequiredSpace;
  lowestSpeed_ = KwReadInstallBytes(ini.c_str(), "LOWESTSPEED");
  maxSpeed_ = KwReadInstallBytes(ini.c_str(), "MAXSPEED");
  installerFile_ = g_exePath;
}

CKWInstallEngine::Impl::~Impl() {
  Stop();
  probe_.reset();
}

void CKWInstallEngine::Impl::Repaint() {
  // A page that stops its engine is going away; it needs no more paints.
  if (owner_ != nullptr && !stopRequested_) owner_->EngineRepaint();
}

// Ends the run for a reason; the first reason wins.
void CKWInstallEngine::Impl::Fail(const std::string& why, const char* key) {
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

void CKWInstallEngine::Impl::SetStatus(const char* text) {
  std::lock_guard<std::mutex> lock(textMutex_);
  statusLine_ = text ? text : "";
}

// Sleeps up to `ms` in small steps, returning early when the run ends.
void CKWInstallEngine::Impl::Nap(int ms) {
  for (int slept = 0; slept < ms && !end_; slept += 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int CKWInstallEngine::Impl::StartRun(bool agreed, const char* pathText, const char** messageKey) {
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
    path = KwTrimFolder(path);
    // A folder too long for the volume paths would download everything and
    // then fail; refused before the probe makes any folder.
    if (path.size() > kKwInstallFolderMax) return refuse(kKwStartPathTooLong, "pathtoolong");
    if (!ProbeFolder(path)) return refuse(kKwStartInvalidPath, "invalidpath2");
    folder = path;
  } else {
    // The local package page leaves its chosen target here; without one the
    // package installs beside the installer.
    folder = g_targetDir[0] != '\0' ? g_targetDir : g_exeDir;
    if (folder.size() > kKwInstallFolderMax) return refuse(kKwStartPathTooLong, "pathtoolong");
  }
  if (runMode_ == 0) {
    int64_t total = 0;
    int64_t free = 0;
    // Volumes already downloaded into the folder are not fetched again, so
    // their bytes count as room a continued download has.
    const bool measured = disk_->Measure(folder.c_str(), &total, &free);
    if (!measured || free + KwVolumeBytesOnDisk(folder, DownloadedVolumeNames()) < NeededSpace()) {
      if (total > 0) {
        diskTotal_ = total;
        diskFree_ = free;
      }
      return refuse(kKwStartNotEnough, "notenough");
    }
    diskTotal_ = total;
    diskFree_ = free;
    if (stage == 0) g_installStage = 1;
  }
  // The folder is remembered at once only while nothing is installed, so
  // the online page finds an interrupted first download there; an
  // installed version keeps its stored folder until the new one is complete
  // (the finishing steps store it then).
  if ((runMode_ == 0 || runMode_ == 4) && !KwProductRegistered()) {
    KwWriteInstallPath(folder.c_str());
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

// The volumes an earlier download may have left in the install folder: those
// the page found when it asked the server, and those of this engine's last run.
std::vector<std::string> CKWInstallEngine::Impl::DownloadedVolumeNames() const {
  std::vector<std::string> names;
  for (int i = 0; resume_ != nullptr && i < kKwResumeEntries && resume_[i].name[0] != '\0'; ++i) {
    names.emplace_back(resume_[i].name, strnlen(resume_[i].name, sizeof(resume_[i].name)));
  }
  for (const std::string& path : downloaded_) {
    const size_t slash = path.find_last_of('/');
    names.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
  }
  return names;
}

bool CKWInstallEngine::Impl::ProbeFolder(const std::string& folder) {
  return KwProbeFolder(folder);
}

void CKWInstallEngine::Impl::ResetRunState() {
  stopRequested_ = false;
  volumesReady_ = false;
  holdWorkers_ = true;
  lastResult_ = 1;
  totalBytes_ = 0;
  StartCounting(0, generation_);
  speed_ = 0;
  received_ = 0;
  arrivedTotal_ = 0;
  writtenTotal_ = 0;
  mirrors_.Reset();
  cap_.Set(maxSpeed_);
  pauseEndedMs_ = 0;
  {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    contributors_.clear();
    soleOrigin_.clear();
    suspects_.clear();
  }
  volumeCount_ = 0;
  volumeIndex_ = 0;
  retryAttempt_ = 0;
  volumeWritten_ = 0;
  volumeLength_ = 0;
  volumeDone_ = false;
  volumeWriteFailed_ = false;
  downloadRun_ = false;
  unpacked_ = false;
  checkpointed_ = false;
  stagingSound_ = true;
  resumed_ = KwUnpackCheckpoint();
  packageBytes_ = 0;
  largestVolume_ = 0;
  unpackedBytes_ = 0;
  installStartMs_ = 0;
  downloadEndMs_ = 0;
  unpackIndex_ = 0;
  {
    std::lock_guard<std::mutex> lock(shownMutex_);
    shownDone_ = 0;
  }
  gate_.Reset(0);
  updated_ = false;
  updateBytes_ = -1;
  fullBytes_ = 0;
  {
    std::lock_guard<std::mutex> lock(textMutex_);
    updateFrom_.clear();
    updateNote_.clear();
    statusLine_.clear();
    failure_.clear();
    failureKey_.clear();
  }
  queues_ = std::make_unique<KwSegmentQueues>();
  buffers_ = std::make_unique<KwSegmentBufferPool>(kwengine::kSegmentBuffers,
                                                   CKWFileDownloadCtrl::kSegmentSize);
  control_ = std::make_unique<CKWFileDownloadCtrl>(this);
}

void CKWInstallEngine::Impl::Stop() {
  stopRequested_ = true;
  active_ = false;
  end_ = true;
  JoinThreads();
}

void CKWInstallEngine::Impl::JoinThreads() {
  if (runThread_.joinable()) runThread_.join();
  // The run thread joins the install thread; a run that never got that far
  // still has it ended here.
  gate_.Close();
  if (installThread_.joinable()) installThread_.join();
  // The run thread ends the others when it ends; a run that never started
  // still has them ended here.
  end_ = true;
  if (writerThread_.joinable()) writerThread_.join();
  for (auto& w : workers_) {
    if (w.joinable()) w.join();
  }
}

void CKWInstallEngine::Impl::WaitUntilFinished() {
  {
    std::unique_lock<std::mutex> lock(finishMutex_);
    finishedCv_.wait(lock, [this] { return finished_.load() || !runThread_.joinable(); });
  }
  JoinThreads();
}

void CKWInstallEngine::Impl::RunThread() {
  volumesReady_ = false;
  // The online installer downloads unless its dialog handed it package
  // files to install from; every other run mode installs from its source.
  downloadRun_ = runMode_ == 0 && packageSource_.empty();
  if (downloadRun_) {
    // The install thread starts inside the download phase, as soon as the
    // volumes are listed, and unpacks each one once it has verified.
    DownloadPhase();
    if (updated_) {
      // The update built the version in the staging folder; nothing is
      // left to unpack.
      downloadEndMs_ = kwengine::NowMs();
      if (active_) {
        FinishUpdate();
      } else {
        staging_.Abandon();
      }
      EndRun();
      return;
    }
    if (active_) {
      downloadEndMs_ = kwengine::NowMs();
      g_installStage = 2;
    } else {
      volumesReady_ = false;
      g_installStage = 1;
      gate_.Close();
    }
    if (installThread_.joinable()) installThread_.join();
    if (active_ && unpacked_) {
      FinishInstall(true);
    } else {
      if (active_) Fail("the package could not be installed", nullptr);
      // Volumes unpacked and removed stay in the staging folder for the
      // next run, which continues after them; the staging folder is never
      // the version folder until complete.
      if (!checkpointed_ || !stagingSound_) staging_.Abandon();
    }
  } else {
    // Nothing to download: the volumes are ready where they are.
    volumesReady_ = true;
    g_installStage = 2;
    InstallPhase();
  }
  EndRun();
}

void CKWInstallEngine::Impl::EndRun() {
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

KwEngineProgress CKWInstallEngine::Impl::Progress() const {
  KwEngineProgress p;
  int64_t done = 0;
  int64_t settled = 0;
  {
    std::lock_guard<std::mutex> lock(progressMutex_);
    done = doneBytes_ + arriving_;
    settled = doneBytes_;
  }
  if (downloadRun_) {
    p.downloadTotal = totalBytes_;
    p.downloadDone = done;
    p.unpackTotal = p.downloadTotal == 0 ? 0 : packageBytes_.load();
    p.unpackDone = unpackedBytes_;
    p.totalBytes = p.downloadTotal + p.unpackTotal;
    // A retried segment takes its bytes back from the download figure; the
    // bar, which counts both kinds of work, holds where it was.
    std::lock_guard<std::mutex> lock(shownMutex_);
    shownDone_ = std::max(shownDone_, std::min(p.downloadDone + p.unpackDone, p.totalBytes));
    p.doneBytes = shownDone_;
    p.volumeCount = volumeCount_;
    p.peakBytes = packageBytes_ + largestVolume_;
    // Verified or written downloads and unpacked bytes: what the stall
    // limit counts as movement, never bytes merely arriving.
    p.settledBytes = settled + p.unpackDone;
  } else {
    p.settledBytes = done;
    p.totalBytes = totalBytes_;
    p.doneBytes = done;
    p.unpackTotal = p.totalBytes;
    p.unpackDone = done;
  }
  p.unpackIndex = unpackIndex_;
  const int64_t startedAt = installStartMs_;
  const int64_t endedAt = downloadEndMs_;
  if (downloadRun_ && startedAt > 0) {
    p.overlapMs = std::max<int64_t>(0, (endedAt > 0 ? endedAt : kwengine::NowMs()) - startedAt);
  }
  p.speed = Paused() ? 0 : speed_.load();
  p.diskTotal = diskTotal_;
  p.diskFree = diskFree_;
  p.runActive = active_;
  p.runFinished = finished_;
  p.volumeCount = volumeCount_;
  p.volumeIndex = volumeIndex_;
  p.verifyTailMs = verifyTailMs_;
  p.retryAttempt = retryAttempt_;
  p.writtenBytes = writtenTotal_;
  p.speedCap = maxSpeed_;
  std::lock_guard<std::mutex> lock(textMutex_);
  p.statusLine = statusLine_;
  p.failure = failure_;
  p.updateFrom = updateFrom_;
  p.updateNote = updateNote_;
  p.updateBytes = updateBytes_;
  p.fullBytes = fullBytes_;
  p.fetchedBytes = received_;
  p.arrivedBytes = arrivedTotal_;
  return p;
}

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
  impl_->requiredSet_ = true;
}
void CKWInstallEngine::SetLowestSpeed(int64_t bytesPerSecond) {
  impl_->lowestSpeed_ = std::max<int64_t>(bytesPerSecond, 0);
}
void CKWInstallEngine::SetMaxSpeed(int64_t bytesPerSecond) {
  impl_->maxSpeed_ = std::max<int64_t>(bytesPerSecond, 0);
}
int64_t CKWInstallEngine::RequiredSpace() const {
  return impl_->NeededSpace();
}
void CKWInstallEngine::SetReleaseBytes(int64_t volumeBytes) {
  impl_->releaseBytes_ = volumeBytes;
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
void CKWInstallEngine::ProbeUpdate(const char* folder) {
  impl_->probe_.reset();
  if (folder != nullptr && *folder != '\0')
    impl_->probe_ = std::make_unique<KwUpdateProbe>(KwTrimFolder(folder));
}
KwUpdateEstimate CKWInstallEngine::UpdateEstimate() const {
  return impl_->probe_ ? impl_->probe_->Result() : KwUpdateEstimate();
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
