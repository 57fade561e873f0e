// The bounded queue: capacity, order, the wake behaviour of Pop, release of
// queued items, and many threads pushing and popping at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "baseutil/kwfifolist.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

void* Tag(intptr_t n) {
  return reinterpret_cast<void*>(n);
}

// Records every release in order, for queues whose items are plain tags.
std::vector<intptr_t> g_released;
void RecordRelease(void* item) {
  g_released.push_back(reinterpret_cast<intptr_t>(item));
}

TEST(FifoList, HoldsOneLessThanCapacityAndKeepsOrderAcrossTheWrap) {
  CKWFIFOList queue(120, nullptr);
  for (intptr_t i = 1; i <= 119; ++i) ASSERT_EQ(queue.Push(Tag(i)), 0) << i;
  EXPECT_EQ(queue.Count(), 119);
  EXPECT_EQ(queue.Push(Tag(120)), -1);
  EXPECT_EQ(queue.Count(), 119);

  // Take half, refill past the end of the slot array, then drain: the order
  // must survive the wrap and Count must follow it.
  for (intptr_t i = 1; i <= 60; ++i) ASSERT_EQ(queue.Pop(0), Tag(i));
  for (intptr_t i = 120; i <= 179; ++i) ASSERT_EQ(queue.Push(Tag(i)), 0) << i;
  EXPECT_EQ(queue.Count(), 119);
  EXPECT_EQ(queue.Push(Tag(999)), -1);
  for (intptr_t i = 61; i <= 179; ++i) ASSERT_EQ(queue.Pop(0), Tag(i));
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_EQ(queue.Pop(0), nullptr);
}

TEST(FifoList, RefusesNullItemsAndDegenerateCapacities) {
  CKWFIFOList queue(4, nullptr);
  EXPECT_EQ(queue.Push(nullptr), -1);
  EXPECT_EQ(queue.Count(), 0);

  CKWFIFOList none(0, nullptr);
  EXPECT_EQ(none.Push(Tag(1)), -1);
  EXPECT_EQ(none.Count(), 0);
  EXPECT_EQ(none.Pop(0), nullptr);
}

TEST(FifoList, DestructorReleasesOnlyTheItemsStillQueuedInOrder) {
  g_released.clear();
  {
    CKWFIFOList queue(8, &RecordRelease);
    for (intptr_t i = 1; i <= 5; ++i) ASSERT_EQ(queue.Push(Tag(i)), 0);
    ASSERT_EQ(queue.Pop(0), Tag(1));
    ASSERT_EQ(queue.Pop(0), Tag(2));
    for (intptr_t i = 6; i <= 9; ++i) ASSERT_EQ(queue.Push(Tag(i)), 0);  // Wraps.
  }
  EXPECT_EQ(g_released, (std::vector<intptr_t>{3, 4, 5, 6, 7, 8, 9}));

  // With the default release function, malloc'd items are freed (the leak
  // checker of the address-sanitizer build notices if they are not).
  CKWFIFOList owning(4);
  ASSERT_EQ(owning.Push(std::malloc(16)), 0);
  ASSERT_EQ(owning.Push(std::malloc(32)), 0);
}

TEST(FifoList, PopReturnsNullWhenAPushWakesItAndTheItemOnTheNextCall) {
  CKWFIFOList queue(4, nullptr);
  auto start = Clock::now();
  EXPECT_EQ(queue.Pop(150), nullptr);
  EXPECT_GE(MsSince(start), 140);

  std::thread pusher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    queue.Push(Tag(7));
  });
  start = Clock::now();
  void* first = queue.Pop();  // The full 3000 ms bound.
  int64_t waited = MsSince(start);
  pusher.join();
  EXPECT_EQ(first, nullptr);
  EXPECT_LT(waited, 2500) << "the push should have ended the wait";
  EXPECT_EQ(queue.Pop(0), Tag(7));
}

TEST(FifoList, ManyProducersAndConsumersPassEveryItemExactlyOnce) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 5000;
  CKWFIFOList queue(16, nullptr);  // Small, so producers hit "full" often.
  std::vector<std::atomic<int>> seen(kProducers * kPerProducer + 1);
  std::atomic<int> taken{0};

  std::vector<std::thread> threads;
  for (int p = 0; p < kProducers; ++p) {
    threads.emplace_back([&, p] {
      for (int i = 1; i <= kPerProducer; ++i) {
        void* item = Tag(p * kPerProducer + i);
        while (queue.Push(item) != 0) std::this_thread::yield();
      }
    });
  }
  for (int c = 0; c < 2; ++c) {
    threads.emplace_back([&] {
      while (taken.load() < kProducers * kPerProducer) {
        void* item = queue.Pop(10);
        if (item == nullptr) continue;
        seen[static_cast<size_t>(reinterpret_cast<intptr_t>(item))].fetch_add(1);
        taken.fetch_add(1);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(queue.Count(), 0);
  for (size_t i = 1; i < seen.size(); ++i) ASSERT_EQ(seen[i].load(), 1) << "item " << i;
}

}  // namespace
