#include "baseview/basectrl/kwviewlocks.h"

#include <chrono>
#include <vector>

#include "baseutil/ikwlog.h"

namespace {

std::atomic<int> g_orderViolations{0};

// Ranks of the view locks this thread holds, innermost last.
std::vector<int>& HeldRanks() {
  thread_local std::vector<int> held;
  return held;
}

}  // namespace

KwViewLockGuard::KwViewLockGuard(KwViewMutex& m, int timeoutMs) : m_(m) {
  std::vector<int>& held = HeldRanks();
  if (!held.empty() && held.back() > m.rank()) {
    ++g_orderViolations;
    KW_LOG(1, "KwViewLockGuard::KwViewLockGuard", "lock rank %d taken while holding %d",
           static_cast<int>(m.rank()), held.back());
  }
  owns_ = m_.native().try_lock_for(std::chrono::milliseconds(timeoutMs));
  if (owns_) {
    held.push_back(m.rank());
  } else {
    KW_LOG(1, "KwViewLockGuard::KwViewLockGuard", "lock rank %d not taken within %d ms",
           static_cast<int>(m.rank()), timeoutMs);
  }
}

KwViewLockGuard::~KwViewLockGuard() {
  if (!owns_) return;
  std::vector<int>& held = HeldRanks();
  // Guards are scoped, so the innermost one is released first.
  if (!held.empty()) held.pop_back();
  m_.native().unlock();
}

int KwViewLockOrderViolations() {
  return g_orderViolations.load();
}
