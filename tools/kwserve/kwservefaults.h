// Fault decisions of kwserve.  Every request takes the next number; whether
// a fault of a kind hits it depends only on the seed, that number and the
// kind, so a single-threaded test sees the same faults on every run.  An
// optional budget bounds the faults injected in all, so a client that
// retries is sure to get through.
#pragma once

#include <atomic>
#include <cstdint>

enum class KwFault : uint64_t { Fail = 1, Drop = 2, Short = 3, Corrupt = 4 };

class KwFaultPlan {
 public:
  KwFaultPlan(uint64_t seed, int64_t maxFaults) : m_seed(seed), m_budget(maxFaults) {}

  uint64_t NextRequest() { return m_next.fetch_add(1) + 1; }
  // True when `kind` hits request `request` at share `rate`; an injected
  // fault uses up one unit of the budget.
  bool Decide(uint64_t request, KwFault kind, double rate);
  int64_t injected() const { return m_injected.load(); }

  // The uniform draw in [0, 1) behind Decide.
  static double Draw(uint64_t seed, uint64_t request, KwFault kind);

 private:
  uint64_t m_seed;
  int64_t m_budget;  // -1: unbounded.
  std::atomic<uint64_t> m_next{0};
  std::atomic<int64_t> m_injected{0};
};

// Parses a Range header value against a resource of `size` bytes.  0: one
// satisfiable range [*first, *last]; 1: no usable single range, serve the
// whole resource; -1: not satisfiable (416).
int KwParseByteRange(const char* value, int64_t size, int64_t* first, int64_t* last);
