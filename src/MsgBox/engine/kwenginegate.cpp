// KwVolumeGate; see kwenginegate.h.
#include "MsgBox/engine/kwenginegate.h"

void KwVolumeGate::Reset(size_t count) {
  std::lock_guard<std::mutex> lock(mutex_);
  verified_.assign(count, false);
  closed_ = false;
}

void KwVolumeGate::MarkVerified(size_t index) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < verified_.size()) verified_[index] = true;
  }
  changed_.notify_all();
}

bool KwVolumeGate::IsVerified(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < verified_.size() && verified_[index];
}

bool KwVolumeGate::WaitVerified(size_t index) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return closed_ || (index < verified_.size() && verified_[index]); });
  return index < verified_.size() && verified_[index] && !closed_;
}

void KwVolumeGate::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}
