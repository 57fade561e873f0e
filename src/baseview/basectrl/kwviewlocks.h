// The four locks of a view and the order they are taken in.
//
// Painting, mouse routing and worker threads that change page data all meet
// in a view, so the view guards its data with four re-entrant locks, each
// waited for at most 1000 ms: the paint lock (held for a whole draw), the
// row lock (the row table), the line-list lock (the rows and their cells)
// and the repaint lock (the repaint-requested flag).  They are always taken
// paint, then row, then line list; the repaint lock is a leaf that is never
// held while taking another.  A wait that runs out skips the guarded work
// (and logs it) rather than touching the data unguarded.
#pragma once

#include <atomic>
#include <mutex>

enum KwViewLockRank : int {
  kKwLockPaint = 1,
  kKwLockRow = 2,
  kKwLockLineList = 3,
  kKwLockRepaint = 4,
};

class KwViewMutex {
 public:
  explicit KwViewMutex(KwViewLockRank rank) : rank_(rank) {}
  KwViewLockRank rank() const { return rank_; }
  std::recursive_timed_mutex& native() { return m_; }

 private:
  std::recursive_timed_mutex m_;
  KwViewLockRank rank_;
};

// Holds one view lock for a scope.  Check owns() before touching the data.
class KwViewLockGuard {
 public:
  explicit KwViewLockGuard(KwViewMutex& m, int timeoutMs = 1000);
  ~KwViewLockGuard();
  KwViewLockGuard(const KwViewLockGuard&) = delete;
  KwViewLockGuard& operator=(const KwViewLockGuard&) = delete;
  bool owns() const { return owns_; }

 private:
  KwViewMutex& m_;
  bool owns_ = false;
};

// Number of times a thread took a view lock against the order above since
// the program started; tests expect it to stay 0.
int KwViewLockOrderViolations();
