// The segment tasks the run thread queues for the download workers and the
// segment results the workers hand to the writer, with the two bounded
// queues between them.  The engine owns one KwSegmentQueues per run; a task
// or result belongs to whoever took it from its queue.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "MsgBox/engine/kwenginefetch.h"
#include "baseutil/kwboundedmutex.h"
#include "baseutil/kwfifolist.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/http/kwpackageentry.h"

inline constexpr int32_t kKwTaskQueueCapacity = 8192;
inline constexpr int32_t kKwResultQueueCapacity = 120;
// The workers wait while more results than this wait for the writer.
inline constexpr int32_t kKwResultsWaitingMax = 100;

struct KwSegmentTask {
  char fileName[512] = {};
  int64_t offset = 0;
  int32_t length = 0;
  int64_t volumeLength = 0;
  int32_t zero = 0;
  PackageEntry entry;
  uint64_t generation = 0;  // the planning the segment belongs to
};

struct KwSegmentResult {
  KwSegmentTask head;
  char* data = nullptr;  // head.length bytes in a buffer of the run's pool (not owned)
};

// Both queues; the queue mutex orders every access to them, as planning,
// workers and writer run on different threads.  The task queue also keeps its
// own lock for planning's discards.
class KwSegmentQueues : public IKwSegmentQueue {
 public:
  KwSegmentQueues();
  ~KwSegmentQueues() override;

  // IKwSegmentQueue, used by the download control's planning.
  void DiscardWaiting() override;
  void QueueSegment(const PackageEntry& entry, int64_t offset, int32_t length,
                    int64_t volumeLength) override;

  // Splits the segments of the last round (the tasks left over when the
  // others are taken `workers` at a time) into up to `workers` equal pieces,
  // so no worker idles while one fetches the volume's last segment alone.
  // Call while the workers are held, after planning.
  void BalanceLastRound(int workers);

  // Tasks queued from now on carry this generation.
  void SetGeneration(uint64_t g) { generation_ = g; }

  // Null when no task waits (or the lock could not be had in time).
  std::unique_ptr<KwSegmentTask> TakeTask();
  // False when the result queue is full or the lock timed out; the result
  // then stays with the caller.
  bool PutResult(std::unique_ptr<KwSegmentResult>& result);
  // Waits up to `waitMs` for a result when none is queued; null when none came.
  std::unique_ptr<KwSegmentResult> TakeResult(int32_t waitMs = 0);
  int32_t ResultsWaiting();
  int32_t TasksWaiting();

 private:
  KwBoundedMutex queueMutex_;
  std::mutex taskLock_;
  CKWFIFOList tasks_;
  CKWFIFOList results_;
  uint64_t generation_ = 0;
};
