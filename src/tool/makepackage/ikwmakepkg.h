// IKWMakePkg: packs a folder tree into numbered volumes "%s/%s_%03d.kwk" and
// writes their list.json.
//
// The owner (the make-package window or dialog, kwpack, tests) builds one
// maker per run, sets the folders, the package name, the callback and the
// completion target, then calls Start(), which runs Run() on a thread of the
// maker's own.  The owner may cancel by clearing the running flag (or any
// code may set g_makeStopFlag) and then waits for Done(); it may destroy the
// maker only when Done() is true (the destructor also cancels and waits).
//
// The walk is depth-first with each folder's entries sorted by name, so a tree
// gives the same bytes on every run and machine.  Names beginning with "." are
// skipped.  A symbolic link to a folder is never followed; other non-regular
// files (pipes, devices) are skipped; a stored name over 511 bytes, or one the
// unpacker would refuse (a backslash or control byte), is refused and logged.
//
// Chunks are compressed on `threads` threads and written in stream order, so
// the volumes are byte-identical for any thread count.  Files are cut into
// fixed 3,200,000-byte pieces, or, with KwPieceMode::kContent, at
// content-defined boundaries (kwcontentcut.h).  Beside list.json and
// release.json a successful run writes the release manifest (kwmanifest.h).  Memory stays at about
// two chunk buffers (3.2 MB in, 3.2 MB out) per compression thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "baseutil/kwsha256.h"
#include "tool/makepackage/kwmanifestbuilder.h"
#include "tool/makepackage/kwpkgchecksum.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwpkglist.h"

class KwChunkPipeline;

enum class KwPieceMode { kFixed, kContent };

// Receives the completion command (120) when the walk has ended.  The window
// implements it by posting the command to itself; it is called on the maker's
// thread, before list.json is written, exactly once per run.
class IKWMakeCompletion {
 public:
  virtual ~IKWMakeCompletion() = default;
  virtual void OnMakeCommand(int32_t command) = 0;
};

class IKWMakePkg {
 public:
  enum : int32_t { kCommandDone = 120 };
  enum : int32_t { kCodeStart = 0, kCodeFileBegin = 1, kCodeFileDone = 2, kCodeEnd = 3 };

  // `threads` <= 0 means one per core; `volumeThreshold` is the chunk payload
  // after which a volume is closed (tests lower it to exercise splits).
  explicit IKWMakePkg(int threads = 0, int64_t volumeThreshold = kwpkg::kVolumeThreshold);
  virtual ~IKWMakePkg();
  IKWMakePkg(const IKWMakePkg&) = delete;
  IKWMakePkg& operator=(const IKWMakePkg&) = delete;

  // Set-up; only while no run is under way.
  void SetSourceFolder(const char* folder) { m_sourceFolder = folder ? folder : ""; }
  void SetOutputFolder(const char* folder) { m_outputFolder = folder ? folder : ""; }
  void SetPackageName(const char* name) { m_packageName = name ? name : ""; }
  void SetCallback(KwPkgCallback callback, void* context) {
    m_callback = callback;
    m_context = context;
  }
  void SetCompletion(IKWMakeCompletion* owner) { m_owner = owner; }
  void SetPieceMode(KwPieceMode mode) { m_pieceMode = mode; }
  // Packages hold no links and no special files.  By default a link to a
  // folder or a pipe, socket or device in the tree fails the run (after the
  // walk, so every such entry is named); with skipping asked for they are
  // left out and only reported.
  void SetSkipUnpackable(bool skip) { m_skipUnpackable = skip; }

  // Resets the per-run state, sets running and clears done together, clears
  // g_makeStopFlag (a stop request belongs to the run it was made for, so it
  // must not stop every later run), and starts the maker's thread.  Returns 0,
  // or -1 when a run is under way.
  int32_t Start();
  // Cancel: clears running; the walk and the chunk loop stop after the current
  // chunk, the open file still gets its end record, and the partial package
  // is closed and listed.  WaitDone polls every 10 ms.
  void Cancel() { m_running = 0; }
  void WaitDone();
  bool Done() const { return m_done.load() != 0; }
  bool Running() const { return m_running.load() != 0; }

  // The thread procedure; tests and kwpack may call it directly after setting
  // running (SetRunning) instead of Start().
  void Run();
  void SetRunning() {
    m_done = 0;
    m_running = 1;
  }

  // Walks folder `source` whose stored prefix is `relative` ("" at the root).
  // Returns 0, or 1 when the walk was cancelled.
  int32_t startcopyfrom(const std::string& source, const std::string& relative);
  // Packs one file.  Returns 0, or -1 when no volume could be opened, the
  // source cannot be opened or read, or the name is refused.
  int32_t makeonefile(const std::string& sourcePath, const std::string& storedName);
  // Completes the list entry of the volume just closed (size, checksum and
  // SHA-256).  The sums are those taken while the volume was written, when
  // the file's size confirms that every byte arrived; else the file is read
  // back.
  void AddToList();

  // Results, valid once Done().
  const std::vector<KwVolumeEntry>& Volumes() const { return m_volumes; }
  int64_t Total() const { return m_total; }
  // Source bytes read into chunks so far; any thread may poll it for a
  // progress display finer than the per-file callback.
  int64_t BytesRead() const { return m_bytesRead.load(); }
  int32_t FilesPacked() const { return m_filesPacked; }
  int32_t FilesFailed() const { return m_filesFailed; }
  // Every file that could not be packed, as "stored name: reason", in walk
  // order; and every link to a folder or special file left out, the same way.
  const std::vector<std::string>& FailedFiles() const { return m_failedFiles; }
  const std::vector<std::string>& SkippedEntries() const { return m_skippedEntries; }
  // 0 when every file was packed and everything was written; -1 when the run
  // was cancelled, a file failed, or writing a volume or the list failed.
  // ErrorText() holds the first reason.
  int32_t Result() const { return m_result; }
  const std::string& ErrorText() const { return m_errorText; }
  // The walk was stopped before its end (Cancel, the stop flag or the
  // destructor); such a run writes no list.
  bool Cancelled() const { return m_cancelled; }
  bool ListWritten() const { return m_listWritten; }
  bool ManifestWritten() const { return m_manifestWritten; }

 private:
  friend class KwChunkPipeline;
  bool ShouldGo() const;
  int32_t OpenVolume(bool logPath);
  void CloseVolume();
  // Writes one record into the open volume, splitting after a data record that
  // reaches the threshold, and notes it in the manifest (a data record with
  // its uncompressed length `plain` and their SHA-256).  Called in stream
  // order; returns false on failure.
  bool WriteRecord(int32_t type, const uint8_t* payload, int32_t length, int32_t plain = 0,
                   const uint8_t* sha256 = nullptr);
  // Reads the file's content into pieces cut at content-defined boundaries.
  // Returns the bytes read, or -1 when the file could not be read.
  int64_t ReadContentPieces(int src, int64_t size);
  // Writes manifest.kwm and release.json (naming it) after the list.
  void WriteReleaseFiles();
  // Writes to the open volume and adds the bytes to its running checksum.
  bool WriteVolume(struct iovec* iov, int count);
  void NoteError(const std::string& why);
  void Report(int32_t code, const char* text);
  // True for a file this run created as a volume: when the output folder lies
  // inside the source tree the package must not swallow itself.
  bool IsProducedVolume(uint64_t dev, uint64_t ino) const;

  std::vector<KwVolumeEntry> m_volumes;  // Completed entries.
  std::string m_openPath;                // Path of the open volume.
  IKWMakeCompletion* m_owner = nullptr;
  int m_volumeFd = -1;
  int32_t m_nextVolume = 0;
  int64_t m_volumePayload = 0;
  // Summed as the open volume is written, so closing a volume does not read
  // it back while the compressing threads wait.
  KwVolumeChecksum m_volumeSum;
  KwSha256 m_volumeSha;  // the same bytes, for release.json
  std::atomic<int32_t> m_running{0};
  std::atomic<int32_t> m_done{1};
  std::atomic<int64_t> m_bytesRead{0};
  std::string m_outputFolder;
  std::string m_packageName;
  std::string m_sourceFolder;
  int64_t m_total = 0;
  void* m_context = nullptr;
  KwPkgCallback m_callback = nullptr;

  int m_threads;
  int64_t m_threshold;
  std::unique_ptr<KwChunkPipeline> m_pipeline;
  std::thread m_thread;
  bool m_writeFailed = false;
  bool m_listWritten = false;
  bool m_manifestWritten = false;
  KwPieceMode m_pieceMode = KwPieceMode::kFixed;
  KwManifestBuilder m_manifest;
  std::unique_ptr<uint8_t[]> m_stage;  // content mode: bytes read, not yet cut
  int32_t m_filesPacked = 0;
  int32_t m_filesFailed = 0;
  bool m_skipUnpackable = false;
  std::vector<std::string> m_failedFiles;
  std::vector<std::string> m_skippedEntries;
  int32_t m_result = 0;
  std::string m_errorText;
  bool m_cancelled = false;
  std::vector<std::pair<uint64_t, uint64_t>> m_producedVolumes;  // (device, inode).
};
