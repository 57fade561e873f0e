// The download speed measure: the bytes that arrived since the last sample
// divided by the time since then, taken at most once a second.
#pragma once

#include <cstdint>

class KwSpeedMeter {
 public:
  // Starts a new measure at `nowMs` with `received` bytes counted so far.
  void Reset(int64_t nowMs, int64_t received) {
    sampleMs_ = nowMs;
    sampleBytes_ = received;
    speed_ = 0;
  }

  // Takes a sample when more than 1000 ms have passed; returns true then.
  bool Sample(int64_t nowMs, int64_t received) {
    int64_t elapsed = nowMs - sampleMs_;
    if (elapsed <= 1000) return false;
    speed_ = (received - sampleBytes_) * 1000 / elapsed;
    if (speed_ < 0) speed_ = 0;
    sampleMs_ = nowMs;
    sampleBytes_ = received;
    return true;
  }

  int64_t speed() const { return speed_; }

 private:
  int64_t sampleMs_ = 0;
  int64_t sampleBytes_ = 0;
  int64_t speed_ = 0;
};
