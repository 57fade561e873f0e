// The bounded queue: a ring of slots guarded by one mutex, with a condition
// variable on which Pop waits for a Push.
#include "baseutil/kwfifolist.h"

#include <chrono>
#include <cstdlib>

void CKWFIFOList::DefaultRelease(void* item) {
  std::free(item);
}

CKWFIFOList::CKWFIFOList(int32_t capacity, ReleaseFunction release)
    : release_(release), capacity_(capacity < 1 ? 1 : capacity) {
  slots_.assign(static_cast<size_t>(capacity_), nullptr);
}

CKWFIFOList::~CKWFIFOList() {
  std::lock_guard<std::mutex> lock(mutex_);
  // Push refuses null items, so every slot between the indices holds a real
  // item and all of them are released.
  while (readIndex_ != writeIndex_) {
    void* item = slots_[static_cast<size_t>(readIndex_)];
    slots_[static_cast<size_t>(readIndex_)] = nullptr;
    readIndex_ = (readIndex_ + 1) % capacity_;
    if (release_ != nullptr && item != nullptr) release_(item);
  }
  readIndex_ = 0;
  writeIndex_ = 0;
}

int32_t CKWFIFOList::Push(void* item) {
  if (item == nullptr) return -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int32_t next = (writeIndex_ + 1) % capacity_;
    if (next == readIndex_) return -1;
    slots_[static_cast<size_t>(writeIndex_)] = item;
    writeIndex_ = next;
  }
  // Waking after leaving the lock lets the woken Pop take it at once.
  pushed_.notify_one();
  return 0;
}

void* CKWFIFOList::Pop(int32_t waitMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (readIndex_ != writeIndex_) {
    void* item = slots_[static_cast<size_t>(readIndex_)];
    slots_[static_cast<size_t>(readIndex_)] = nullptr;
    readIndex_ = (readIndex_ + 1) % capacity_;
    if (item != nullptr) return item;
  }
  // Empty: wait once for a push (or the bound), then report nothing taken.
  // The caller's next Pop takes whatever arrived meanwhile.
  if (waitMs > 0) pushed_.wait_for(lock, std::chrono::milliseconds(waitMs));
  return nullptr;
}

int32_t CKWFIFOList::Count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return (writeIndex_ - readIndex_ + capacity_) % capacity_;
}
