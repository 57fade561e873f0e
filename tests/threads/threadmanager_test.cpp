// The worker pool: reuse of idle workers, trimming, the bounded stop wait,
// and a job that outlives the destroyed manager.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "baseutil/ikwlog.h"
#include "baseutil/ikwthreadmanager.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 3000) {
  auto start = Clock::now();
  while (!done()) {
    if (MsSince(start) > timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// A gate the jobs wait at until the test opens it.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  void Open() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      open = true;
    }
    opened.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex);
    opened.wait(lock, [&] { return open; });
  }
};

// One job's argument: where it ran and how often.
struct Job {
  Gate* gate = nullptr;
  std::atomic<int> runs{0};
  std::atomic<bool> started{false};
  std::thread::id thread;
  std::atomic<bool> done{false};
};

void RunJob(void* arg) {
  Job* job = static_cast<Job*>(arg);
  job->thread = std::this_thread::get_id();
  job->started = true;
  if (job->gate != nullptr) job->gate->Wait();
  job->runs.fetch_add(1);
  job->done = true;
}

class ThreadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_threadsMayRun = 1;
    ASSERT_TRUE(WaitUntil([] { return CKWThreadManager::LiveWorkers() == 0; }));
  }
  void TearDown() override {
    manager_.reset();
    // Every worker must end once its manager is gone.
    EXPECT_TRUE(WaitUntil([] { return CKWThreadManager::LiveWorkers() == 0; }));
    g_threadsMayRun = 1;
  }
  bool AllIdle(size_t count) {
    auto records = manager_->InUseRecords();
    if (records.size() != count) return false;
    for (const KwWorkerInfo& r : records) {
      if (r.finished != 1) return false;
    }
    return true;
  }

  std::unique_ptr<CKWThreadManager> manager_ = std::make_unique<CKWThreadManager>();
};

TEST_F(ThreadManagerTest, JobAddedWhileAWorkerIsIdleRunsOnTheSameRecordAndThread) {
  Job first;
  manager_->AddJob("first", RunJob, &first);
  ASSERT_TRUE(WaitUntil([&] { return first.done.load(); }));
  ASSERT_TRUE(WaitUntil([&] { return AllIdle(1); }));

  Job second;
  std::string longName(80, 'n');
  manager_->AddJob(longName.c_str(), RunJob, &second);
  auto records = manager_->InUseRecords();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].index, 0);
  EXPECT_EQ(std::string(records[0].name), std::string(kKwWorkerNameSize - 1, 'n'));

  ASSERT_TRUE(WaitUntil([&] { return second.done.load(); }));
  EXPECT_EQ(second.thread, first.thread);
  EXPECT_EQ(second.runs.load(), 1);
  EXPECT_EQ(CKWThreadManager::LiveWorkers(), 1);
  EXPECT_TRUE(WaitUntil([&] { return AllIdle(1); }));
}

TEST_F(ThreadManagerTest, TwelveIdleWorkersTrimToElevenAndTheFirstIdleTakesTheJob) {
  Gate gate;
  std::vector<Job> jobs(12);
  for (Job& job : jobs) {
    job.gate = &gate;
    manager_->AddJob("busy", RunJob, &job);
  }
  ASSERT_TRUE(WaitUntil([&] {
    for (Job& job : jobs)
      if (!job.started) return false;
    return true;
  }));
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return AllIdle(12); }));
  ASSERT_EQ(CKWThreadManager::LiveWorkers(), 12);

  Job next;
  manager_->AddJob("next", RunJob, &next);
  auto records = manager_->InUseRecords();
  ASSERT_EQ(records.size(), 11u);
  EXPECT_EQ(records[0].index, 0);
  EXPECT_EQ(records[0].finished, 0);
  EXPECT_EQ(records.back().index, 10);  // Record 11 was the surplus idle one.

  ASSERT_TRUE(WaitUntil([&] { return next.done.load(); }));
  EXPECT_EQ(next.thread, jobs[0].thread);
  EXPECT_TRUE(WaitUntil([] { return CKWThreadManager::LiveWorkers() == 11; }));
}

TEST_F(ThreadManagerTest, ATrimmedWorkerNeverRunsTheJobOfItsRecordsNextWorker) {
  // Twelve idle workers; the next job trims record 11 and reuses record 0.
  // Ten more jobs take the other idle workers, and the one after that gets
  // the freed record 11 while its old worker may not yet have noticed.
  Gate warmup;
  std::vector<Job> first(12);
  for (Job& job : first) {
    job.gate = &warmup;
    manager_->AddJob("warm", RunJob, &job);
  }
  ASSERT_TRUE(WaitUntil([&] {
    for (Job& job : first)
      if (!job.started) return false;
    return true;
  }));
  warmup.Open();
  ASSERT_TRUE(WaitUntil([&] { return AllIdle(12); }));

  Gate gate;
  std::vector<Job> jobs(12);
  for (Job& job : jobs) {
    job.gate = &gate;
    manager_->AddJob("race", RunJob, &job);
  }
  auto records = manager_->InUseRecords();
  ASSERT_EQ(records.size(), 12u);
  EXPECT_EQ(records.back().index, 11);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // Several idle polls.
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] {
    for (Job& job : jobs)
      if (!job.done) return false;
    return true;
  }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (size_t i = 0; i < jobs.size(); ++i) EXPECT_EQ(jobs[i].runs.load(), 1) << "job " << i;
}

TEST_F(ThreadManagerTest, StopWaitEndsAtOnceWithoutRunningJobsAndFreesIdleWorkers) {
  Job quick;
  manager_->AddJob("quick", RunJob, &quick);
  ASSERT_TRUE(WaitUntil([&] { return AllIdle(1); }));

  // The event loop's job is never waited for.
  Gate gate;
  Job loop;
  loop.gate = &gate;
  manager_->AddJob(kKwEventLoopJobName, RunJob, &loop);  // Reuses the idle worker.
  Job other;
  manager_->AddJob("other", RunJob, &other);
  ASSERT_TRUE(WaitUntil([&] { return other.done.load() && loop.started.load(); }));
  ASSERT_TRUE(WaitUntil([&] { return manager_->InUseRecords().size() == 2; }));

  auto start = Clock::now();
  EXPECT_EQ(manager_->WaitAllFinished(), 0);
  // Not the whole stop bound: the event loop's job is not waited for.  The
  // margin is the bound itself, so a busy machine cannot fail it.
  EXPECT_LT(MsSince(start), kKwStopWaitMs);
  auto records = manager_->InUseRecords();
  ASSERT_EQ(records.size(), 1u);  // Only the event loop's record is left.
  EXPECT_STREQ(records[0].name, kKwEventLoopJobName);
  EXPECT_TRUE(WaitUntil([] { return CKWThreadManager::LiveWorkers() == 1; }));
  gate.Open();
}

TEST_F(ThreadManagerTest, StopWaitGivesUpOnAStuckJobWhichThenEndsWithoutTouchingTheManager) {
  Gate gate;
  Job stuck;
  stuck.gate = &gate;
  manager_->AddJob("stuck", RunJob, &stuck);
  ASSERT_TRUE(WaitUntil([&] { return stuck.started.load(); }));

  auto start = Clock::now();
  EXPECT_EQ(manager_->WaitAllFinished(), 1);
  int64_t waited = MsSince(start);
  EXPECT_GE(waited, kKwStopWaitMs);
  EXPECT_LT(waited, 2 * kKwStopWaitMs);  // Gave up after the bound, not much later.

  // The rest of the stop sequence, then the job returns: its worker must end
  // without using the destroyed manager (the sanitizer builds check this).
  g_threadsMayRun = 0;
  manager_.reset();
  ASSERT_FALSE(stuck.done.load());
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return stuck.done.load(); }));
  EXPECT_TRUE(WaitUntil([] { return CKWThreadManager::LiveWorkers() == 0; }));
}

TEST_F(ThreadManagerTest, ProcessWideManagerStopsAndRefusesJobsAfterStop) {
  manager_.reset();
  Job job;
  CKWThreadManager::addThreadFunction("process", RunJob, &job);
  ASSERT_NE(CKWThreadManager::Current(), nullptr);
  ASSERT_TRUE(WaitUntil([&] { return job.done.load(); }));

  CKWThreadManager::StopAll(0);
  EXPECT_EQ(CKWThreadManager::Current(), nullptr);
  EXPECT_EQ(g_threadsMayRun.load(), 0);

  Job late;
  CKWThreadManager::addThreadFunction("late", RunJob, &late);
  EXPECT_EQ(CKWThreadManager::Current(), nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(late.started.load());

  CKWThreadManager::StopAll(0);  // Nothing to stop: a no-op.
}

TEST_F(ThreadManagerTest, JobsAddedFromSeveralThreadsEachRunExactlyOnce) {
  constexpr int kPerThread = 150;
  std::vector<Job> jobs(2 * kPerThread);
  std::vector<std::thread> adders;
  for (int t = 0; t < 2; ++t) {
    adders.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        manager_->AddJob("many", RunJob, &jobs[static_cast<size_t>(t * kPerThread + i)]);
        if (i % 10 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  for (std::thread& t : adders) t.join();
  ASSERT_TRUE(WaitUntil(
      [&] {
        for (Job& job : jobs)
          if (!job.done) return false;
        return true;
      },
      5000));
  for (size_t i = 0; i < jobs.size(); ++i) ASSERT_EQ(jobs[i].runs.load(), 1) << "job " << i;
  EXPECT_EQ(manager_->WaitAllFinished(), 0);
}

TEST_F(ThreadManagerTest, LogsJobStartsEndsTheStopWaitAndTheDestruction) {
  kwtest::TempDir dir;
  KwLogConfigure(dir.path().c_str(), "INS", 1, 1);
  Job alpha;
  manager_->AddJob("alpha", RunJob, &alpha);
  ASSERT_TRUE(WaitUntil([&] { return alpha.done.load(); }));
  ASSERT_TRUE(WaitUntil([&] { return AllIdle(1); }));
  Gate gate;
  Job gated;
  gated.gate = &gate;
  manager_->AddJob("gated", RunJob, &gated);
  ASSERT_TRUE(WaitUntil([&] { return gated.started.load(); }));
  EXPECT_EQ(manager_->WaitAllFinished(150), 1);
  gate.Open();
  ASSERT_TRUE(WaitUntil([&] { return gated.done.load(); }));
  manager_.reset();
  KwLogShutdown();

  std::string log;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
    if (entry.is_regular_file()) log += kwtest::ReadFile(entry.path().string());
  }
  for (const char* line :
       {"CKWThreadManager::addThreadFunction(", "start thread [alpha], total: 1",
        "CKWThreadManager_runthread(", "stop thread alpha [0] total:1",
        "start thread [gated], total: 1", "name:gated [0] valid:1, finished:0", "> 5 sec, close",
        "CKWThreadManager::~CKWThreadManager(", " begin", " end"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
}

}  // namespace
