// KwRateCap; see kwenginerate.h.
#include "MsgBox/engine/kwenginerate.h"

#include <algorithm>

void KwRateCap::Set(int64_t bytesPerSecond) {
  std::lock_guard<std::mutex> lock(mutex_);
  rate_ = std::max<int64_t>(bytesPerSecond, 0);
  paidUntilUs_ = 0;
}

int64_t KwRateCap::Take(int64_t bytes, int64_t nowUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (rate_ <= 0 || bytes <= 0) return 0;
  // Time unused before now is not saved up beyond one burst.
  const int64_t from = std::max(paidUntilUs_, nowUs - kBurstUs);
  paidUntilUs_ = from + bytes * 1000000 / rate_;
  return std::max<int64_t>(0, paidUntilUs_ - nowUs - kBurstUs);
}
