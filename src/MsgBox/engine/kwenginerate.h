// The bandwidth cap of a run: every byte received is paid for in time, so
// over any stretch longer than a short burst the run's bytes per second
// stay within the cap, whichever transfers bring them.  Shared by the
// download workers; times are passed in, so tests decide the clock.
#pragma once

#include <cstdint>
#include <mutex>

class KwRateCap {
 public:
  // Bytes the transfers may bring at once beyond the cap: this much time's
  // worth.  A one-second stretch can hold a burst saved up at its start and
  // one taken ahead at its end, so the speed shown (measured over about a
  // second) can read up to twice this above the cap: 50 ms keeps that within
  // a tenth, even when a busy machine holds the receivers back and then lets
  // them all go at once.
  static constexpr int64_t kBurstUs = 50000;

  // 0 lifts the cap.
  void Set(int64_t bytesPerSecond);
  int64_t rate() const { return rate_; }
  // Takes `bytes` received at `nowUs`; returns how many microseconds the
  // receiver must wait before taking more (0: none).
  int64_t Take(int64_t bytes, int64_t nowUs);

 private:
  std::mutex mutex_;
  int64_t rate_ = 0;
  int64_t paidUntilUs_ = 0;  // when the bytes taken so far are paid for
};
