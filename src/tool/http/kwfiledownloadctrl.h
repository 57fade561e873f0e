// CKWFileDownloadCtrl: the one package volume the install engine is
// downloading at a time: where its file goes, how long it is, how much has
// been written, and whether it is complete.
//
// The engine's run thread sets the folder once per run and the name and
// length per volume while the download workers are held; the writer thread
// then alone adds written bytes and marks completion.  The counters are
// atomics so readers on other threads see a possibly stale, never torn value.
// A volume already on disk with the listed length and checksum is kept; one
// whose journal lists the ranges already written is continued; any other is
// fetched again from byte 0.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "tool/http/kwbyteranges.h"
#include "tool/http/kwpackageentry.h"

// The engine's task queue as planning sees it.  DiscardWaiting takes the
// queue's own lock only for its duration and frees every waiting task.
class IKwSegmentQueue {
 public:
  virtual ~IKwSegmentQueue() = default;
  virtual void DiscardWaiting() = 0;
  // Queues one segment of `volumeLength`-byte volume `entry`.
  virtual void QueueSegment(const PackageEntry& entry, int64_t offset, int32_t length,
                            int64_t volumeLength) = 0;
};

class CKWFileDownloadCtrl {
 public:
  static constexpr int64_t kSegmentSize = 12800000;
  static constexpr int kPlanQueued = 0;
  static constexpr int kPlanComplete = 2;
  static constexpr int kPlanFailed = -1;  // The volume file could not be created.

  explicit CKWFileDownloadCtrl(void* owner = nullptr) : m_owner(owner) {}
  virtual ~CKWFileDownloadCtrl() = default;

  // Run thread: once per run, then per volume (clears the written count).
  void SetFolder(const char* folder);
  void SetVolume(const char* name, int64_t length);

  // Plans `entry` (its name must be set): 2 when "%s/%s" of folder and name
  // already holds the volume (length, checksum and, when the entry lists
  // one, SHA-256, letter case ignored);
  // otherwise the file is created at full length (without writing its bytes)
  // and every 12,800,000-byte segment is queued: 0.  -1 when the file cannot
  // be created; nothing is queued then.
  //
  // With `onDisk` (the ranges a volume journal vouches for, the file being
  // at full length) the file is kept as it is and only the ranges it lacks
  // are queued, in segments of at most 12,800,000 bytes: 0, possibly with
  // nothing queued.  The whole volume is verified afterwards all the same.
  int PlanSegments(const PackageEntry& entry, IKwSegmentQueue& queue,
                   const KwByteRanges* onDisk = nullptr);

  // Writer: after each segment of `n` bytes.  Once written reaches length the
  // volume is complete: a leftover "%s.ctrl" control file is deleted and a
  // "%s.tmp" companion is renamed onto the volume only when the volume file
  // does not exist (an existing file is never replaced).
  void CompleteSegment(int64_t n);

  int64_t written() const { return m_written.load(); }
  int64_t length() const { return m_length.load(); }
  bool complete() const { return m_complete.load(); }
  const char* name() const { return m_name; }
  const char* folder() const { return m_folder; }
  void* owner() const { return m_owner; }
  // "%s/%s" of folder and name.
  void VolumePath(char* out, size_t size) const;

 private:
  std::atomic<int64_t> m_written{0};
  std::atomic<int64_t> m_length{0};
  char m_name[256] = {};
  char m_folder[1024] = {};
  std::atomic<bool> m_complete{false};
  void* m_owner;
};
