// CKWUnzipPackage: the push parser that turns a package stream back into
// files under a target folder.
//
// The owner (the install engine, kwpack) creates one unpacker per
// installation, sets the target folder and the callback, then pushes the
// bytes of every volume after its 24-byte header, volume after volume, in
// buffers of any size and at any boundaries.  The same stream gives the same
// files, callbacks and totals however it is split.
//
// Memory is bounded by the format, not by the push size: one partial record
// (at most 8 + 4,200,000 bytes) is kept between pushes, and a chunk inflates
// into a 3,200,000-byte buffer; whole records inside a push are parsed in place.
//
// A file's mode comes from its content (kwrunbits.h): programs and scripts
// get the run bits, everything else does not.
//
// Stored names that could leave the target folder are refused with a log
// record and their data is skipped; folders and files are created only
// through real folders of the target tree, never through a symbolic link.
//
// A malformed record (bad type/length combination, negative or oversized
// length, a chunk that inflates beyond 3,200,000 bytes) puts the unpacker into
// a failed state: the output file is closed, further pushes are ignored, and
// the owner can read the reason and the stream offset of the bad record.
//
// One thread at a time; the callback runs on the pushing thread and must not
// push into the same unpacker.  The destructor closes a file left open by a
// stream that ended early (it stays on disk with the bytes written so far).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "tool/makepackage/kwchunkbuffer.h"
#include "tool/makepackage/kwinflater.h"
#include "tool/makepackage/kwpkgformat.h"
#include "tool/makepackage/kwrunbits.h"

class KwInflatePool;

class CKWUnzipPackage {
 public:
  // Callback codes, called with the stored name (or "" for 103) and the total.
  enum : int32_t { kFileBegun = 101, kFileEnded = 102, kChunkWritten = 103 };

  CKWUnzipPackage();
  virtual ~CKWUnzipPackage();
  CKWUnzipPackage(const CKWUnzipPackage&) = delete;
  CKWUnzipPackage& operator=(const CKWUnzipPackage&) = delete;

  // Set-up before the first push.  The target folder is the prefix to which
  // stored names ("/bin/app.dll") are appended; it is created when missing.
  void SetTargetFolder(const char* folder);
  const char* TargetFolder() const { return m_targetFolder.c_str(); }
  void SetCallback(KwPkgCallback callback, void* context);
  // The owner's status-line buffer; kept for the owner, never used here.
  void SetOwnerText(char* text) { m_ownerText = text; }
  char* OwnerText() const { return m_ownerText; }

  // Inflates chunks on `threads` worker threads; 1 (the default) inflates on
  // the pushing thread and finishes every record within its push.  With more,
  // files are still created, written and reported in stream order on the
  // pushing thread, but a record's work may complete during a later push:
  // call Finish() after the last push.  Set before the first push.
  void SetThreads(int threads);
  // Which library inflates the chunks (libdeflate unless told otherwise); the
  // files, reports and verdicts are the same with either.  Set before the
  // first push, before SetThreads.
  void SetInflater(KwInflaterKind kind);
  // Completes all queued work.  Returns 0, or -1 when the unpacker failed.
  int32_t Finish();

  // Appends `length` bytes of the stream and acts on every complete record.
  // Returns 0, or -1 when the unpacker is (or just became) failed; a
  // negative length or a null pointer with a positive length fails it too.
  int32_t PutBuffer(const void* data, int32_t length);

  // The counters and states below are exact after Finish() (always, with one
  // thread).
  // Decompressed bytes written through this unpacker; never reset.
  int64_t Total() const { return m_total; }
  // Stream bytes accepted so far (the offset of the next pushed byte).
  // After a failure this and Pending() say how far reading got, which
  // depends on how the stream was split; ErrorOffset() does not.
  int64_t StreamOffset() const { return m_streamOffset; }
  // Bytes of an incomplete record held for the next push; 0 at a boundary.
  int32_t Pending() const { return m_fill; }
  // True while a file is open (between a begin and an end record).
  bool InsideFile() const { return m_inFile; }

  // Files ended in error so far: refused names, files that could not be
  // created, bad chunks, and files whose written size differs from their
  // descriptor.  A caller that needs an exact tree checks this is 0.
  int32_t BadFiles() const { return m_badFiles; }
  int32_t FilesEnded() const { return m_filesEnded; }

  // The file being written while InsideFile(): its stored name, the size its
  // begin record announced and the bytes written so far.
  const std::string& CurrentName() const { return m_currentName; }
  int64_t CurrentSize() const { return m_expectedSize; }
  int64_t CurrentWritten() const { return m_written; }
  // The file being written already went wrong (it will end in error).
  bool CurrentFileBad() const { return m_inFile && m_fileBad; }
  // The error of the last failed file creation or write (ENOSPC for a full
  // disk), 0 when none failed.
  int WriteErrno() const { return m_writeErrno; }

  // Continues a stream that an earlier unpacker left inside a file (its
  // CurrentName, CurrentSize and CurrentWritten at a volume's end, when the
  // next volume's bytes are pushed into this one): the file below the target
  // folder is cut to `written` bytes and further chunks are appended to it.
  // Call before the first push.  0, or -1 when the file cannot be opened or
  // is shorter than `written`.
  int32_t ContinueFile(const char* storedName, int64_t expectedSize, int64_t written);

  // Failed state: the reason and the stream offset of the record that caused it.
  bool Failed() const { return m_failed; }
  const std::string& ErrorText() const { return m_errorText; }
  int64_t ErrorOffset() const { return m_errorOffset; }

 private:
  // Handles one complete record that starts at stream offset `offset`.
  void OnRecord(int32_t type, const uint8_t* payload, int32_t length, int64_t offset);
  void OnBeginFile(const uint8_t* payload);
  void OnWriteFile(const uint8_t* payload, int32_t length, int64_t offset);
  // Appends one inflated chunk to the current file, or reports why not.
  void WriteInflated(const KwInflateResult& r, const uint8_t* out, int32_t length, int64_t offset);
  // Threaded mode: queues a record in stream order, and acts on queued records
  // whose chunks are ready (all of them, or at least the oldest, when `wait`).
  void Queue(int32_t type, const uint8_t* payload, int32_t length, int64_t offset);
  void Drain(bool all);
  void DrainOne();
  void DiscardQueue();
  void OnEndFile(const uint8_t* payload);
  void Fail(int64_t offset, const std::string& why);
  void FailParse(int64_t offset, const std::string& why);
  void CloseOutput();
  // Opens the file for `name` below the target folder without following any
  // symbolic link inside the target tree; -1 on failure.
  int OpenTargetFile(const char* name, bool truncate = true);
  void Report(int32_t code, const char* text);

  int64_t m_total = 0;
  int m_fd = -1;  // Output file, or -1.
  std::string m_targetFolder;
  KwChunkBuffer m_input;   // One partial record.
  KwChunkBuffer m_output;  // One inflated chunk.
  char* m_ownerText = nullptr;
  int32_t m_fill = 0;
  int64_t m_expectedSize = 0;
  int64_t m_written = 0;
  KwRunBits m_runBits;  // The current file's first bytes, which decide its mode.
  int m_umask = -1;     // Read at the first file end.
  KwPkgCallback m_callback = nullptr;
  void* m_context = nullptr;

  int64_t m_streamOffset = 0;
  bool m_inFile = false;   // Between a begin and an end record.
  bool m_fileBad = false;  // The current file already went wrong.
  bool m_targetReady = false;
  std::string m_currentName;
  std::string m_currentPath;
  int32_t m_badFiles = 0;
  int m_writeErrno = 0;
  int32_t m_filesEnded = 0;
  bool m_failed = false;
  std::string m_errorText;
  int64_t m_errorOffset = -1;

  struct QueuedRecord {
    int32_t type;
    int slot;  // Data records: the pool slot; else -1.
    int32_t length;
    int64_t offset;
    std::unique_ptr<uint8_t[]> desc;  // File records: the 528-byte descriptor.
  };
  int m_threads = 1;
  KwInflaterKind m_inflaterKind = KwInflaterKind::kLibdeflate;
  std::unique_ptr<KwInflater> m_inflater;  // Inflates on the pushing thread.
  std::unique_ptr<KwInflatePool> m_pool;
  std::deque<QueuedRecord> m_queue;
};
