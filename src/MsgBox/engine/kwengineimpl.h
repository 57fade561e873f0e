// The inside of the install engine, shared by its three source files:
// start, stop and the run thread (ikwinstallerdownloadstart.cpp), the
// download phase with its workers and writer (kwenginedownload.cpp), and
// the install phase (kwengineinstall.cpp).  Private to the engine.
//
// Flags and counters shared between threads are atomics.  `active_` says
// whether the run is still wanted (it decides 833 against 832); `end_` tells
// every thread of the run to leave its loop.  The run thread sets `end_` as
// its last act, Stop() sets it at once, and whoever ends a run joins all six
// threads, so none outlives the engine.  The queues, the buffer pool and the
// download control are made anew for each run and live until the next one
// (or the engine's end), after every thread of the run has been joined.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwenginecheckpoint.h"
#include "MsgBox/engine/kwenginefetch.h"
#include "MsgBox/engine/kwenginegate.h"
#include "MsgBox/engine/kwenginemirrors.h"
#include "MsgBox/engine/kwenginequeue.h"
#include "MsgBox/engine/kwenginerate.h"
#include "MsgBox/engine/kwenginesource.h"
#include "MsgBox/engine/kwenginespeed.h"
#include "MsgBox/engine/kwenginestaging.h"
#include "MsgBox/engine/kwengineverify.h"
#include "main/kwglobals.h"
#include "tool/http/kwbyteranges.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/http/kwpackageentry.h"
#include "tool/http/kwvolumejournal.h"

class CKWDownloadUtilFor;
class CKWUnzipPackage;
struct KwManifest;
class IKWEngineDisk;
class IKWInstallEngineOwner;
struct KwResumeEntry;

namespace kwengine {

inline constexpr int kWorkerCount = 4;
// Segment buffers of a run: one per worker in flight and as many waiting for
// the writer, which keeps the memory of a download near 100 MB.
inline constexpr int kSegmentBuffers = 2 * kWorkerCount;
// Largest single write of a segment into its volume file.  One write of a
// whole 12.8 MB segment lets the page cache take it in large folios, which
// measured several times slower than the same bytes written a megabyte at a
// time (the download's bottleneck without a rate limit); smaller pieces cost
// only a few more calls.
inline constexpr int64_t kWritePiece = 1 << 20;
// How often a volume's journal has the volume file flushed to disk, for a run
// after a crash of the machine; about as long as the kernel keeps written
// pages before it writes them itself, so a flush finds little left to do.
inline constexpr int64_t kJournalFlushEveryMs = 30000;
// Largest piece handed to the unpacker at once: a chunk record and its header.
inline constexpr int32_t kInstallChunk = 3200008;
// Below this much free space the disk counts as full.
inline constexpr int64_t kMinFreeToContinue = 1 << 20;
// Seconds a volume file may fail to be created before the run gives up.
inline constexpr int kPlanAttempts = 10;
// Whole downloads of one volume that may fail verification before the run
// gives up: one may be a transfer gone wrong, several mean the server sends
// other bytes than its list promises.
inline constexpr int kVerifyAttempts = 3;

// A transfer slower than the speed floor for this long moves elsewhere.
inline constexpr int64_t kFloorWindowMs = 5000;

inline int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Size of the file at `path`, or -1.
int64_t FileLength(const std::string& path);

}  // namespace kwengine

class CKWInstallEngine::Impl {
 public:
  Impl(IKWInstallEngineOwner* owner, IKWEngineDisk* disk);
  ~Impl();

  // ---- set-up (owner thread, while no run is active) -----------------------

  IKWInstallEngineOwner* owner_;
  IKWEngineDisk* disk_;
  int32_t runMode_;
  int64_t requiredSpace_ = kKwDefaultRequiredSpace;
  bool requiredSet_ = false;  // requiredSpace_ came from the ini file or the owner
  int64_t releaseBytes_ = 0;  // volumes of the release, when known
  int64_t NeededSpace() const {
    if (requiredSet_ || releaseBytes_ <= 0) return requiredSpace_;
    return releaseBytes_ > INT64_MAX / 2 ? INT64_MAX : 2 * releaseBytes_;
  }
  int64_t lowestSpeed_ = 0;  // bytes per second per transfer; 0 off
  int64_t maxSpeed_ = 0;     // bytes per second of the whole run; 0 off
  std::string installerFile_;
  std::string packageSource_;
  const KwResumeEntry* resume_ = nullptr;

  // ---- run state -------------------------------------------------------------

  std::atomic<bool> active_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> end_{true};
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> volumesReady_{false};
  std::atomic<bool> holdWorkers_{true};
  std::atomic<bool> downloadRun_{false};  // this run downloads (set by the run thread)
  std::atomic<int> lastResult_{1};

  std::atomic<int64_t> totalBytes_{0};
  std::atomic<int64_t> doneBytes_{0};
  std::atomic<int64_t> diskTotal_{0};
  std::atomic<int64_t> diskFree_{0};
  std::atomic<int64_t> speed_{0};
  std::atomic<int64_t> received_{0};
  std::atomic<int64_t> arrivedTotal_{0};  // see KwEngineProgress::arrivedBytes
  std::atomic<int64_t> writtenTotal_{0};  // see KwEngineProgress::writtenBytes
  std::atomic<int> volumeCount_{0};
  std::atomic<int> volumeIndex_{0};
  // See KwEngineProgress::retryAttempt.  Each asker keeps its own count of
  // failures in a row and raises this to it; any answer clears it.
  std::atomic<int> retryAttempt_{0};

  // The volume being downloaded.
  std::atomic<int64_t> volumeWritten_{0};
  std::atomic<int64_t> volumeLength_{0};
  std::atomic<bool> volumeDone_{false};
  std::atomic<bool> volumeWriteFailed_{false};
  // Why the current planning ends before its volume is complete: a file
  // server answered a ranged request with the whole file (the volume is
  // planned again as one stream), or such a stream broke (tried again).
  enum PlanningEnd : int { kPlanningGoesOn = 0, kPlanningToStream = 1, kPlanningStreamBroken = 2 };
  std::atomic<int> planningEnd_{kPlanningGoesOn};
  // The file servers of this run (the first address of each volume and its
  // mirrors): speeds, failures, those sending whole files, those dropped.
  KwMirrorSet mirrors_;
  KwRateCap cap_;
  std::atomic<int64_t> pauseEndedMs_{0};  // when the last pause ended
  // Which servers brought the bytes of the current planning, so a volume
  // that fails verification can be traced to a server that sends wrong
  // bytes.  With several, the next planning fetches from `soleOrigin_`
  // alone and `suspects_` are the others.
  std::mutex sourcesMutex_;
  std::set<std::string> contributors_;
  std::string soleOrigin_;
  std::set<std::string> suspects_;
  // The parts of the current volume known to be in its file: the segments
  // the writer has written in this planning (and those a journal vouched
  // for).  The verify pass reads the file as far as they reach from byte 0.
  std::mutex onDiskMutex_;
  std::condition_variable onDiskGrew_;
  KwByteRanges volumeOnDisk_;
  // Owned by the run thread, lent to the volume's follower thread while the
  // volume downloads (see WaitForVolume); never touched by both at once.
  KwVolumeVerifier verifier_;
  std::atomic<int64_t> verifyTailMs_{0};  // see KwEngineProgress
  // The journal of the current volume and the ranges it lists (run thread).
  KwVolumeJournal journal_;
  KwByteRanges journaled_;
  int64_t journalFlushedMs_ = 0;   // when the volume file was last flushed
  bool journalUnflushed_ = false;  // ranges recorded since that flush
  std::atomic<uint64_t> generation_{0};

  // Bytes of the current planning's segments that have arrived from the
  // server but are not in the volume file yet.  Progress() shows them with
  // doneBytes_ so the bar moves while a segment arrives, not only when it
  // lands.  progressMutex_ guards them and every change of doneBytes_ during
  // a download, so a reader never sees a segment counted both as arriving
  // and as written, or as neither.
  mutable std::mutex progressMutex_;
  int64_t arriving_ = 0;
  uint64_t arrivingGeneration_ = 0;

  mutable std::mutex textMutex_;
  std::string statusLine_;
  std::string failure_;
  std::string failureKey_;

  // Updates (kwengineupdatephase.cpp): the release manifest of this run
  // (its bytes are kept beside the version folder once installed), the
  // version updated from, and the sizes the user is shown.
  std::string manifestBytes_;
  std::unique_ptr<KwManifest> nextManifest_;
  bool updated_ = false;  // this run built the version folder by an update
  std::string updateFrom_;
  std::string updateNote_;  // why the run downloads everything; textMutex_
  std::atomic<int64_t> updateBytes_{-1};
  std::atomic<int64_t> fullBytes_{0};
  std::unique_ptr<KwUpdateProbe> probe_;  // owner thread only

  std::string installPath_;
  std::string version_;
  std::vector<std::string> downloaded_;  // local paths of the volumes this run downloaded
  std::string destination_;
  std::unique_ptr<KwSegmentQueues> queues_;
  std::unique_ptr<KwSegmentBufferPool> buffers_;
  std::unique_ptr<CKWFileDownloadCtrl> control_;

  std::mutex speedMutex_;
  KwSpeedMeter speedMeter_;

  // The install phase of a download run works beside the download: the run
  // thread begins the staging folder and starts the install thread once the
  // volumes are listed; the gate hands it each volume when it has verified;
  // after joining it the run thread commits or abandons the staging folder.
  KwVolumeGate gate_;
  KwStaging staging_;
  std::thread installThread_;
  std::atomic<bool> unpacked_{false};       // the install thread unpacked every volume
  std::atomic<int64_t> packageBytes_{0};    // sum of the volume lengths (download runs)
  std::atomic<int64_t> largestVolume_{0};   // of the listed volumes (download runs)
  std::atomic<int64_t> unpackedBytes_{0};   // volume bytes through the unpacker (download runs)
  std::atomic<int64_t> installStartMs_{0};  // the first volume went to the unpacker
  std::atomic<int64_t> downloadEndMs_{0};   // the last volume verified
  std::atomic<int> unpackIndex_{0};         // the volume being unpacked
  // What an earlier download run left unpacked (run thread, before the
  // install thread starts; read-only afterwards).
  KwUnpackCheckpoint resumed_;
  std::atomic<bool> checkpointed_{false};  // the staging folder holds a checkpoint
  // False once the staged files are known to be wrong: then they are not
  // kept for a later run.
  std::atomic<bool> stagingSound_{true};
  mutable std::mutex shownMutex_;
  mutable int64_t shownDone_ = 0;  // the bar never runs backwards

  std::thread runThread_;
  std::thread writerThread_;
  std::thread workers_[kwengine::kWorkerCount];

  std::mutex finishMutex_;
  std::condition_variable finishedCv_;

  // ---- owner calls and helpers (ikwinstallerdownloadstart.cpp) ----------------

  void Repaint();
  // Ends the run for a reason; the first reason wins.
  void Fail(const std::string& why, const char* key);
  void SetStatus(const char* text);
  // Sleeps up to `ms` in small steps, returning early when the run ends.
  void Nap(int ms);
  bool Paused() const { return g_pauseState.load() == 2; }

  // ---- start and stop ----------------------------------------------------------

  int StartRun(bool agreed, const char* pathText, const char** messageKey);
  static bool ProbeFolder(const std::string& folder);
  // Names of volumes an earlier download may have left in the folder.
  std::vector<std::string> DownloadedVolumeNames() const;
  void ResetRunState();
  void Stop();
  void JoinThreads();
  void WaitUntilFinished();
  KwEngineProgress Progress() const;

  // ---- run thread ------------------------------------------------------------

  void RunThread();
  void EndRun();

  // ---- download phase (kwenginedownload.cpp) -----------------------------------

  static void OnReceived(void* context, int32_t count);
  // One attempt at one segment: the bytes it has added to arriving_, so a
  // failed attempt can take them back before the segment is fetched again.
  // Attempts after a failed one count only what goes beyond the bytes an
  // earlier attempt already showed, so a lost connection never takes the
  // progress back and a retry never counts the same bytes twice.
  struct SegmentArrival {
    Impl* self;
    uint64_t generation;
    int64_t counted;      // shown for this segment so far (the most any attempt brought)
    int64_t attempt = 0;  // brought by the attempt under way
  };
  static void OnSegmentBytes(void* context, int32_t count);
  // Takes back what a failed attempt counted, as arriving and as received:
  // bytes nobody keeps are no progress and no speed.
  void TakeBack(SegmentArrival& a);
  // Adds `count` (negative: takes back) to arriving_ for `a`, unless its
  // planning is no longer the current one.
  void CountArriving(SegmentArrival& a, int64_t count);
  // Sets doneBytes_ at a new planning of a volume; what arrived for the
  // earlier planning no longer counts.
  void StartCounting(int64_t done, uint64_t generation);
  // A request to the server failed for the `streak`-th time in a row (it
  // is counted up here), or answered (the count goes back to 0).
  void NoteRetry(int* streak);
  void NoteAnswer(int* streak);
  // Lets a running transfer end at once when the run ends.
  static bool ShouldAbort(void* context) { return static_cast<Impl*>(context)->end_.load(); }
  void DownloadPhase();
  bool DownloadVolume(const PackageEntry& e);
  // Waits for the planned segments, advancing the verify pass over what has
  // been written meanwhile; false when the run ended.
  bool WaitForVolume(const std::string& path);
  // Advances verifier_ over the written prefix of the volume until `stop`.
  void FollowWriter(const std::atomic<bool>& stop);
  // Flushes the volume file and appends to its journal the ranges written
  // since the last call.
  void JournalWritten(const std::string& path);
  // Finishes the verify pass; true when length, checksum and (when listed)
  // SHA-256 all match.
  bool VerifyVolume(const PackageEntry& e);
  bool HasRoomFor(const std::string& path, int64_t length);
  bool CheckDiskLeft();
  void WorkerThread();
  void FetchSegment(CKWDownloadUtilFor& util, const KwSegmentTask& task);
  // One attempt at a segment, watched for the speed floor and for a faster
  // server that should take it over.
  struct AttemptWatch {
    Impl* self;
    SegmentArrival* arrival;
    const std::vector<std::string>* addresses;
    std::string origin;
    int64_t length;
    int64_t startMs;
    int64_t windowMs;     // start of the speed-floor window
    int64_t windowBytes;  // bytes counted at its start
    int64_t checkedMs;    // last look for a faster server
    enum Reason { kNone, kBelowFloor, kMoved } reason;
  };
  static bool AttemptShouldEnd(void* context);
  // Holds the calling transfer as long as the bandwidth cap asks.
  void Throttle(int64_t bytes);
  // A note for the owner's log, also written to the engine's log.
  void Note(const std::string& text);
  void AddContributor(const std::string& origin, uint64_t generation);
  std::string SoleOrigin();
  // After verifying a volume: drops the server found to send wrong bytes.
  void JudgeSources(const PackageEntry& e, bool verified);
  void WriterThread();
  void WriteSegment(const KwSegmentResult& r, const char* data);

  // ---- whole-volume streams (kwenginestream.cpp) ---------------------------------

  // Whether every file server of `e` still in use sends whole files.
  bool SendsWholeFiles(const PackageEntry& e);
  // Remembers that the server of `url` does, with a note the first time.
  void NoteWholeFiles(const char* url);
  // Fetches the whole volume `e` in one GET and writes it in order into its
  // file (planned in `generation`), counting only what is written; sets
  // volumeDone_ when every byte came, planningEnd_ when the stream broke,
  // and fails the run when the server sends another length than listed.
  void StreamVolume(const PackageEntry& e, uint64_t generation);
  struct StreamTarget {
    Impl* self;
    int fd;
    uint64_t generation;
  };
  static bool OnStreamPiece(void* context, int64_t offset, const char* data, int32_t count);
  // Ends a stream when the run ends or its volume is planned anew.
  static bool StreamShouldStop(void* context);
  // ---- updates (kwengineupdatephase.cpp) -----------------------------------------

  // Fetches and checks the manifest the version answer names; false (the
  // reason noted) when there is none usable.
  bool FetchReleaseManifest(CKWDownloadUtilFor& util, const std::vector<PackageEntry>& entries);
  // Plans and runs an update into destination_ when an installed version
  // kept its manifest.  False: go on with the full download.  True: the
  // update ran (active_ tells whether it succeeded).
  bool TryUpdate(CKWDownloadUtilFor& util, const std::vector<PackageEntry>& entries);
  void NoteFullDownload(const std::string& why);
  // Writes the release manifest beside the version folder.
  void KeepManifest();
  // The finishing steps after an update.
  void FinishUpdate();

  // ---- install phase (kwengineinstall.cpp) -------------------------------------

  static int OnUnpacked(void* context, int32_t code, const char* text, int64_t total);
  // Run modes without a download: lists the volumes from their source,
  // unpacks them into the staging folder and finishes.
  void InstallPhase();
  // Download runs: begins the staging folder for the listed volumes and
  // starts the install thread beside the download.  False after Fail.
  bool StartInstallBeside(const std::vector<PackageEntry>& entries);
  // The install thread: each volume as soon as it verified, removed once
  // unpacked.
  void InstallBeside(std::vector<KwSourceVolume> volumes);
  // Moves the staging folder into place, records and registers the version.
  void FinishInstall(bool downloaded);
  // Begins staging_ for version_; false after Fail.
  bool BeginStaging();
  void WriteUnzipMarker();
  // Reads every volume of `source` into the unpacker writing below `folder`,
  // checking streamed volumes against their listing; false (after Fail) when
  // the tree is not complete and exact.  With `gate`, each volume is read
  // only once it has verified, and removed from the disk once unpacked;
  // progress then goes to unpackedBytes_, else to doneBytes_.
  bool UnpackInto(KwVolumeSource& source, const std::string& folder, KwVolumeGate* gate);
  // A file that could not be written (`writeErrno` from the unpacker): the
  // disk may be full.
  void FailUnpacked(const std::string& volume, int writeErrno);
  // Records in the staging folder that the first `unpacked` volumes are in
  // it, with the unpacker's place; false when it cannot be written.
  bool SaveCheckpoint(const std::vector<KwSourceVolume>& volumes, size_t unpacked,
                      const CKWUnzipPackage& unpacker);
};
