// KwInflatePool: inflates the unpacker's data chunks on worker threads while
// the pushing thread parses and writes files.
//
// The unpacker copies each compressed chunk into a free slot (Acquire, then
// Submit) and later collects the slots in stream order (Wait).  The number of
// slots is bounded (two per worker), each with one compressed record's room
// (4,200,000 bytes) and one chunk's output (3,200,000 bytes), so memory does
// not grow with the package.  Each worker has an inflater of its own.  Owned
// by one unpacker; used by its pushing thread only, apart from the workers it
// runs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tool/makepackage/kwchunkbuffer.h"
#include "tool/makepackage/kwinflater.h"

class KwInflatePool {
 public:
  struct Slot {
    KwChunkBuffer in;
    KwChunkBuffer out;
    int32_t length = 0;      // Compressed bytes in `in`.
    KwInflateResult result;  // Verdict and inflated bytes in `out`.
    bool busy = false;
    bool done = false;
  };

  KwInflatePool(int workers, KwInflaterKind kind);
  ~KwInflatePool();
  KwInflatePool(const KwInflatePool&) = delete;
  KwInflatePool& operator=(const KwInflatePool&) = delete;

  // A free slot index, or -1 when all are busy.
  int TryAcquire();
  Slot& At(int i) { return m_slots[static_cast<size_t>(i)]; }
  // Queues slot `i` (its `in` and `length` filled) for inflation.
  void Submit(int i);
  // Waits until slot `i` is inflated; returns it.  Release() frees it.
  Slot& Wait(int i);
  bool IsDone(int i);
  void Release(int i);

 private:
  void Worker(KwInflaterKind kind);

  std::vector<Slot> m_slots;
  std::mutex m_mutex;
  std::condition_variable m_work;
  std::condition_variable m_doneCv;
  std::deque<int> m_jobs;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
};
