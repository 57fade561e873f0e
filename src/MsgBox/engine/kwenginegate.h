// The handover of verified volumes from the download phase to the install
// phase, which runs beside it: the install phase takes volume 0 as soon as
// it has verified, and each next one when it has, while later volumes are
// still arriving.  The unpacker never sees a volume before it verified.
//
// The download side marks volumes verified; the install side waits for the
// one it needs next.  Closing wakes every waiter (the run ended).  Made anew
// for each run; any thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

class KwVolumeGate {
 public:
  // Opens the gate for `count` volumes, none verified.
  void Reset(size_t count);
  void MarkVerified(size_t index);
  bool IsVerified(size_t index) const;
  // Waits until volume `index` has verified (true) or the gate is closed
  // (false).
  bool WaitVerified(size_t index);
  void Close();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<bool> verified_;
  bool closed_ = false;
};
