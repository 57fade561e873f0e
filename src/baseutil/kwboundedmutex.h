// A mutex whose acquisition can be bounded in time (a drop-in for
// std::timed_mutex with std::unique_lock / std::lock_guard).
//
// Why not std::timed_mutex: its try_lock_for/try_lock_until go through
// pthread_mutex_clocklock, which the thread sanitizer shipped with this
// toolchain (GCC 12) does not intercept.  The sanitizer then misses the lock,
// reports "unlock of an unlocked mutex" and false data races on everything the
// mutex guards, hiding real races in the noise.  This class is a plain mutex
// plus a condition variable, both of which the sanitizer follows.
//
// Not recursive; unlock must come from the thread that locked it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class KwBoundedMutex {
 public:
  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    released_.wait(guard, [&] { return !locked_; });
    locked_ = true;
  }

  bool try_lock() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (locked_) return false;
    locked_ = true;
    return true;
  }

  // Waits at most `bound` for the mutex; false when it stayed taken.
  template <class Rep, class Period>
  bool try_lock_for(const std::chrono::duration<Rep, Period>& bound) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!released_.wait_for(guard, bound, [&] { return !locked_; })) return false;
    locked_ = true;
    return true;
  }

  void unlock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      locked_ = false;
    }
    released_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable released_;
  bool locked_ = false;
};
