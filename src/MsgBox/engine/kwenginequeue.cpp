#include "MsgBox/engine/kwenginequeue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

// The queue mutex is waited for with a generous bound, as in the design: a
// stuck holder must not stall the other threads forever.
constexpr std::chrono::milliseconds kQueueWait(100000);

void ReleaseTask(void* p) {
  delete static_cast<KwSegmentTask*>(p);
}
void ReleaseResult(void* p) {
  delete static_cast<KwSegmentResult*>(p);
}

}  // namespace

KwSegmentQueues::KwSegmentQueues()
    : tasks_(kKwTaskQueueCapacity, &ReleaseTask),
      results_(kKwResultQueueCapacity, &ReleaseResult) {}

KwSegmentQueues::~KwSegmentQueues() = default;

void KwSegmentQueues::DiscardWaiting() {
  std::lock_guard<std::mutex> own(taskLock_);
  std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
  while (void* p = tasks_.Pop(0)) ReleaseTask(p);
}

void KwSegmentQueues::QueueSegment(const PackageEntry& entry, int64_t offset, int32_t length,
                                   int64_t volumeLength) {
  auto task = std::make_unique<KwSegmentTask>();
  std::snprintf(task->fileName, sizeof(task->fileName), "%s", entry.name);
  task->offset = offset;
  task->length = length;
  task->volumeLength = volumeLength;
  task->entry = entry;
  task->generation = generation_;
  std::lock_guard<std::mutex> own(taskLock_);
  std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
  if (tasks_.Push(task.get()) == 0) task.release();
}

std::unique_ptr<KwSegmentTask> KwSegmentQueues::TakeTask() {
  std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
  if (!lock.owns_lock()) return nullptr;
  return std::unique_ptr<KwSegmentTask>(static_cast<KwSegmentTask*>(tasks_.Pop(0)));
}

bool KwSegmentQueues::PutResult(std::unique_ptr<KwSegmentResult>& result) {
  std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
  if (!lock.owns_lock()) return false;
  if (results_.Push(result.get()) != 0) return false;
  result.release();
  return true;
}

std::unique_ptr<KwSegmentResult> KwSegmentQueues::TakeResult(int32_t waitMs) {
  auto take = [this]() -> void* {
    std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
    return lock.owns_lock() ? results_.Pop(0) : nullptr;
  };
  void* p = take();
  if (p == nullptr && waitMs > 0) {
    // The queue's own wait, outside the queue mutex so the workers can push;
    // it hands out an item only when one was there already.
    p = results_.Pop(waitMs);
    if (p == nullptr) p = take();
  }
  return std::unique_ptr<KwSegmentResult>(static_cast<KwSegmentResult*>(p));
}

int32_t KwSegmentQueues::ResultsWaiting() {
  return results_.Count();
}
int32_t KwSegmentQueues::TasksWaiting() {
  return tasks_.Count();
}

void KwSegmentQueues::BalanceLastRound(int workers) {
  // Pieces below this size are not worth a request of their own.
  constexpr int64_t kMinPiece = 1 << 20;
  std::lock_guard<std::mutex> own(taskLock_);
  std::unique_lock<KwBoundedMutex> lock(queueMutex_, kQueueWait);
  std::vector<std::unique_ptr<KwSegmentTask>> tasks;
  while (void* p = tasks_.Pop(0)) tasks.emplace_back(static_cast<KwSegmentTask*>(p));
  std::sort(tasks.begin(), tasks.end(),
            [](const auto& a, const auto& b) { return a->offset < b->offset; });
  size_t n = tasks.size();
  size_t first = n == 0 ? 0 : (n - 1) / static_cast<size_t>(workers) * static_cast<size_t>(workers);
  bool contiguous = n > 0;
  for (size_t i = first + 1; i < n; ++i) {
    if (tasks[i]->offset != tasks[i - 1]->offset + tasks[i - 1]->length) contiguous = false;
  }
  std::vector<std::unique_ptr<KwSegmentTask>> out;
  for (size_t i = 0; i < first; ++i) out.push_back(std::move(tasks[i]));
  if (contiguous) {
    int64_t start = tasks[first]->offset;
    int64_t end = tasks[n - 1]->offset + tasks[n - 1]->length;
    int64_t pieces = std::min<int64_t>(workers, std::max<int64_t>(1, (end - start) / kMinPiece));
    int64_t step = (end - start + pieces - 1) / pieces;
    for (int64_t at = start; at < end; at += step) {
      auto t = std::make_unique<KwSegmentTask>(*tasks[first]);
      t->offset = at;
      t->length = static_cast<int32_t>(std::min(step, end - at));
      out.push_back(std::move(t));
    }
  } else {
    for (size_t i = first; i < n; ++i) out.push_back(std::move(tasks[i]));
  }
  for (auto& t : out) {
    if (tasks_.Push(t.get()) == 0) t.release();
  }
}
