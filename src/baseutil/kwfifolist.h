// A bounded first-in-first-out queue of pointers with a blocking pop that
// times out, used to hand work items from one thread to another.
//
// Capacity: a queue made with capacity N holds at most N - 1 items; one slot
// always stays empty to tell a full queue from an empty one.
//
// Ownership: an item belongs to the queue from a successful Push until a Pop
// returns it; then it belongs to the taker.  A Push that fails leaves the item
// with the caller.  Items still queued when the queue is destroyed are handed
// to the release function given at construction, in queue order.  The default
// release function is std::free, so callers that queue objects made with new
// must pass a release function that deletes them (or nullptr when the queue
// never owns what it holds).
//
// Null items are refused by Push: Pop uses null to mean "nothing taken", so a
// queued null could never be told apart from an empty queue.
//
// Thread safety: Push, Pop and Count may be called from any thread at once.
// The destructor must not run while another thread is inside Push or Pop.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

inline constexpr int32_t kKwFifoPopWaitMs = 3000;

class CKWFIFOList {
 public:
  using ReleaseFunction = void (*)(void*);

  // A capacity below 1 is taken as 1, a queue that refuses every item.
  explicit CKWFIFOList(int32_t capacity, ReleaseFunction release = &DefaultRelease);
  virtual ~CKWFIFOList();
  CKWFIFOList(const CKWFIFOList&) = delete;
  CKWFIFOList& operator=(const CKWFIFOList&) = delete;

  // Stores the item at the tail.  Returns 0 when stored, -1 when the queue is
  // full or the item is null.  Wakes one waiting Pop.
  int32_t Push(void* item);

  // Returns the oldest item, or null.  When the queue is empty it waits up to
  // waitMs for a Push and then returns null even when a Push woke it: the
  // caller calls Pop again to take the item.  Waking early (for a push or
  // spuriously) is therefore just an early null.
  void* Pop(int32_t waitMs = kKwFifoPopWaitMs);

  // Number of queued items.
  int32_t Count();

  int32_t Capacity() const { return capacity_; }

  static void DefaultRelease(void* item);

 private:
  std::mutex mutex_;
  std::condition_variable pushed_;
  ReleaseFunction release_;
  int32_t capacity_;
  std::vector<void*> slots_;
  int32_t readIndex_ = 0;
  int32_t writeIndex_ = 0;
};
