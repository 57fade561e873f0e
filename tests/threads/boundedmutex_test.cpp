// The bounded mutex: a timed acquisition gives up while another thread holds
// the mutex and succeeds once it is released.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "baseutil/kwboundedmutex.h"

namespace {

TEST(BoundedMutex, TimedLockGivesUpWhileHeldAndSucceedsAfterRelease) {
  KwBoundedMutex mutex;
  std::atomic<bool> held{false};
  std::atomic<bool> release{false};
  std::thread holder([&] {
    std::lock_guard<KwBoundedMutex> guard(mutex);
    held = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(mutex.try_lock_for(std::chrono::milliseconds(80)));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(75));
  EXPECT_FALSE(mutex.try_lock());

  release = true;
  EXPECT_TRUE(mutex.try_lock_for(std::chrono::milliseconds(2000)));
  mutex.unlock();
  holder.join();

  // Counting under the mutex from several threads loses no increment.
  int counter = 0;
  std::thread a([&] {
    for (int i = 0; i < 20000; ++i) {
      std::unique_lock<KwBoundedMutex> lock(mutex, std::defer_lock);
      if (lock.try_lock_for(std::chrono::seconds(5))) ++counter;
    }
  });
  for (int i = 0; i < 20000; ++i) {
    std::lock_guard<KwBoundedMutex> lock(mutex);
    ++counter;
  }
  a.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
