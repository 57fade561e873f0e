#include "MsgBox/kwenginequeue.h"

#include <chrono>
#include <cstdio>

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
  std::unique_lock<std::timed_mutex> lock(queueMutex_, kQueueWait);
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
  std::unique_lock<std::timed_mutex> lock(queueMutex_, kQueueWait);
  if (tasks_.Push(task.get()) == 0) task.release();
}

std::unique_ptr<KwSegmentTask> KwSegmentQueues::TakeTask() {
  std::unique_lock<std::timed_mutex> lock(queueMutex_, kQueueWait);
  if (!lock.owns_lock()) return nullptr;
  return std::unique_ptr<KwSegmentTask>(static_cast<KwSegmentTask*>(tasks_.Pop(0)));
}

bool KwSegmentQueues::PutResult(std::unique_ptr<KwSegmentResult>& result) {
  std::unique_lock<std::timed_mutex> lock(queueMutex_, kQueueWait);
  if (!lock.owns_lock()) return false;
  if (results_.Push(result.get()) != 0) return false;
  result.release();
  return true;
}

std::unique_ptr<KwSegmentResult> KwSegmentQueues::TakeResult() {
  std::unique_lock<std::timed_mutex> lock(queueMutex_, kQueueWait);
  if (!lock.owns_lock()) return nullptr;
  return std::unique_ptr<KwSegmentResult>(static_cast<KwSegmentResult*>(results_.Pop(0)));
}

int32_t KwSegmentQueues::ResultsWaiting() {
  return results_.Count();
}
int32_t KwSegmentQueues::TasksWaiting() {
  return tasks_.Count();
}
