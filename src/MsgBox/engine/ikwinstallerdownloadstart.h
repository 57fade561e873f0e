// The install engine: downloads the package volumes, verifies them, streams
// them through the unpacker into the install folder, registers the product
// and cleans up.
//
// The install page CKWinstaller owns one engine per visit and draws what
// Progress() returns; the engine talks back only through the owner interface
// (kwengineowner.h).  Everything here is free of windows so the same engine
// runs in the command-line installer and in tests.
//
// Threads: StartRun starts one run thread, one writer thread and four
// download workers.  They end when the run ends; Stop() and the destructor
// end every one of them and join them before returning, so no thread ever
// outlives the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MsgBox/engine/kwengineprobe.h"

class IKWInstallEngineOwner;
class IKWEngineDisk;
struct KwResumeEntry;

// Results of StartRun; each failure comes with the language key the page
// shows in a message box captioned "prompt".
enum KwStartRunResult : int {
  kKwStartOk = 0,
  kKwStartNotAgreed = -1,    // "pleasecheck"
  kKwStartNoPath = -2,       // "pleaseinputtopath"
  kKwStartInvalidPath = -3,  // "invalidpath2"
  kKwStartNotEnough = -4,    // "notenough"
  kKwStartBusy = -5,         // a run is still active; no message key
  kKwStartPathTooLong = -6,  // "pathtoolong": the folder is too long for the volume paths
};

// The designed free-space requirement: 42 GiB.
inline constexpr int64_t kKwDefaultRequiredSpace = 45097156608LL;

// A copy of what the page draws, taken under the engine's lock.
struct KwEngineProgress {
  int64_t totalBytes = 0;  // all the run's work in bytes; 0 while unknown
  // Bytes of that work done so far.  A download counts the bytes of
  // segments still arriving; a failed attempt's bytes are taken back from
  // downloadDone below, never from this figure, which never passes
  // totalBytes.
  int64_t doneBytes = 0;
  // The part of doneBytes that is on disk (a download: segments written,
  // volumes verified; the install phase: bytes unpacked).  Bytes still
  // arriving are not in it, so a server that sends and sends without a
  // segment ever landing does not move it: the measure of a stalled run.
  int64_t settledBytes = 0;
  int64_t speed = 0;      // download speed in bytes per second; 0 while paused
  int64_t diskTotal = 0;  // drive of the chosen folder, from the last MeasureDisk
  int64_t diskFree = 0;
  bool runActive = false;    // a run is wanted
  bool runFinished = false;  // the run thread has ended
  int volumeCount = 0;       // volumes of the current phase
  int volumeIndex = 0;       // the volume being worked on (0-based)
  // Time the download phase spent verifying after each volume's last
  // segment had landed: the part of the verify pass not hidden behind the
  // transfer.
  int64_t verifyTailMs = 0;
  // Updates: the installed version the run updates from (empty for a full
  // download, updateNote then says why), the bytes it downloads and the
  // full size of the release; updateBytes is -1 while not updating.
  std::string updateFrom;
  std::string updateNote;
  int64_t updateBytes = -1;
  int64_t fullBytes = 0;
  // Bytes received from the server in this run, retries included.
  int64_t fetchedBytes = 0;
  // Every byte that arrived from a server in this run; only grows, even
  // when a retried segment gives its bytes back above.  A slow but steady
  // link shows here long before its segment is whole and written.
  int64_t arrivedBytes = 0;
  // Failed attempts in a row to reach the install server while nothing it
  // sent arrived: 0 while the connection works.  The run keeps retrying;
  // the page says the connection was lost and which attempt this is.
  int retryAttempt = 0;
  // Bytes written into volume files in this run, rewrites included; only
  // grows.  Bytes that arrive and are thrown away never count here.
  int64_t writtenBytes = 0;
  // The bandwidth cap of the run in bytes per second (0: none); the speed
  // above is what actually arrives, so it stays within the cap.
  int64_t speedCap = 0;
  // The two kinds of work of a download run, which overlap: the install
  // phase unpacks each volume as soon as it has verified.  totalBytes and
  // doneBytes above are their sum there (so the bar never jumps back when
  // the download ends) and never step back; in runs without a download the
  // unpack figures equal them.
  int64_t downloadTotal = 0;
  int64_t downloadDone = 0;  // may step back on a retried segment
  int64_t unpackTotal = 0;
  int64_t unpackDone = 0;
  int unpackIndex = 0;  // the volume being unpacked (0-based)
  // How long unpacking ran while volumes were still downloading.
  int64_t overlapMs = 0;
  // Estimated most disk space the run takes at once (download runs): every
  // unpacked volume is removed, so about the package plus its largest
  // volume, not the package twice.  0 while unknown.
  int64_t peakBytes = 0;
  std::string statusLine;  // last file name the unpacker reported
  std::string failure;     // why the last run failed, for logs and the command line
};

class CKWInstallEngine {
 public:
  // `owner` may be null (no repaints, no commands); `disk` null means the
  // platform's measure.  Neither is owned.
  explicit CKWInstallEngine(IKWInstallEngineOwner* owner, IKWEngineDisk* disk = nullptr);
  ~CKWInstallEngine();
  CKWInstallEngine(const CKWInstallEngine&) = delete;
  CKWInstallEngine& operator=(const CKWInstallEngine&) = delete;

  // Set-up; call only while no run is active.
  void SetOwner(IKWInstallEngineOwner* owner);
  // Empty: the install server; "^": the package appended to the installer's
  // own file; anything else: the path of the first local volume.
  void SetPackageSource(const char* source);
  // The online page's resume table (kKwResumeEntries entries) or null; read
  // only during runs, so it must outlive them.
  void SetResumeTable(const KwResumeEntry* table);
  // Free bytes a run in run mode 0 needs: a value set here or in the ini
  // file; without one, what the release needs once its volumes are known
  // (SetReleaseBytes), else 42 GiB.
  void SetRequiredSpace(int64_t bytes);
  int64_t RequiredSpace() const;
  // The summed length of the release's volumes.  The release then needs
  // room for the volumes and for the files unpacked from them, which take
  // at least as much again: twice the volumes.
  void SetReleaseBytes(int64_t volumeBytes);
  // Bytes per second below which a transfer moves to another file server
  // (or is tried again) after a few seconds; 0 (the default) turns it off.
  // Default: [INSTALL] LOWESTSPEED of the ini.
  void SetLowestSpeed(int64_t bytesPerSecond);
  // The bandwidth cap of a whole run in bytes per second; 0 (the default)
  // turns it off.  Default: [INSTALL] MAXSPEED of the ini.
  void SetMaxSpeed(int64_t bytesPerSecond);
  // The run mode the engine follows (default g_runMode).
  void SetRunMode(int32_t runMode);
  // The installer file that may carry an appended package (default g_exePath).
  void SetInstallerFile(const char* path);

  // The page's disk measure of the chosen folder; fills diskTotal and
  // diskFree of Progress().  Returns false when the drive could not be
  // measured.
  bool MeasureDisk(const char* folder);

  // Validates and starts a run.  `agreed` is the agreement box (ignored while
  // g_installStage is 1 or 2), `pathText` the path box text.  On a failure
  // *messageKey (when given) receives the language key to show; nothing is
  // changed.  On success the run's threads are running.
  int StartRun(bool agreed, const char* pathText, const char** messageKey);

  // Ends the run (if any), ends and joins every thread.  Posts nothing.
  void Stop();

  // Blocks until the run thread has ended (the run ended by itself or was
  // stopped), then joins every thread.  For the command line and tests.
  void WaitUntilFinished();

  KwEngineProgress Progress() const;
  // Starts finding out, on a thread of its own, what an install into
  // `folder` would download (an update of an installed version, or
  // everything); a probe started earlier is stopped first.
  void ProbeUpdate(const char* folder);
  // The last probe's answer; state kUnknown while it asks.
  KwUpdateEstimate UpdateEstimate() const;
  bool RunActive() const;
  bool RunFinished() const;
  // Result of the last finished run: 0 installed, negative failed, 1 while
  // running or never run.
  int LastResult() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};
