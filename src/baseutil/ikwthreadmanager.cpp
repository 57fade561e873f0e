// The worker pool.  The table and its lock sit in a block shared by the
// manager and every worker thread, so a worker that outlives the manager (its
// job was still running when the stop wait gave up) still has valid memory to
// look at, sees that the block is closed and ends without touching anything
// else.
#include "baseutil/ikwthreadmanager.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "baseutil/ikwlog.h"
#include "baseutil/kwboundedmutex.h"
#include "main/kwglobals.h"

namespace {

constexpr auto kLockBound = std::chrono::milliseconds(1000);
constexpr auto kIdlePoll = std::chrono::milliseconds(30);
constexpr auto kStopPoll = std::chrono::milliseconds(100);

std::atomic<int32_t> g_liveWorkers{0};

std::mutex g_instanceMutex;
std::atomic<CKWThreadManager*> g_instance{nullptr};

}  // namespace

// One record of the table.  Every field is guarded by the table lock.
struct KwWorkerRecord {
  std::thread::id thread;  // The worker's id; kept for diagnosis, never joined.
  int32_t index = 0;
  int32_t inUse = 0;
  int32_t finished = 1;
  // Bumped whenever a new thread is attached to the record, so a worker that
  // was freed but has not yet noticed never picks up a job meant for the
  // record's next worker.
  uint32_t generation = 0;
  char name[kKwWorkerNameSize] = {};
  KwThreadFunction function = nullptr;
  void* argument = nullptr;
};

struct KwWorkerTable {
  KwBoundedMutex lock;
  // Set when the manager is destroyed; read by the workers on every pass.
  std::atomic<bool> closed{false};
  std::vector<KwWorkerRecord> records;

  KwWorkerTable() : records(static_cast<size_t>(kKwWorkerCount)) {
    for (int32_t i = 0; i < kKwWorkerCount; ++i) records[static_cast<size_t>(i)].index = i;
  }

  // Caller holds the lock.
  int32_t CountInUse() const {
    int32_t n = 0;
    for (const KwWorkerRecord& r : records) n += r.inUse != 0 ? 1 : 0;
    return n;
  }
};

namespace {

void CopyName(char* dst, const char* name) {
  std::memset(dst, 0, kKwWorkerNameSize);
  KwCopyText(dst, kKwWorkerNameSize, name);
}

void RunJob(KwThreadFunction function, void* argument, const char* name) {
  if (function == nullptr) return;
  try {
    function(argument);
  } catch (const std::exception& e) {
    KW_LOG(1, "CKWThreadManager_runthread", "job %s threw: %s", name, e.what());
  } catch (...) {
    KW_LOG(1, "CKWThreadManager_runthread", "job %s threw", name);
  }
}

}  // namespace

// The body of every worker thread.  `generation` identifies this thread's
// claim on the record: once it differs, the record belongs to someone else.
void CKWThreadManager_runthread(KwWorkerTable& table, int32_t index, uint32_t generation) {
  KwWorkerRecord& rec = table.records[static_cast<size_t>(index)];
  bool ownsRecord = true;
  while (g_threadsMayRun.load() != 0 && !table.closed.load()) {
    std::unique_lock<KwBoundedMutex> lock(table.lock, std::defer_lock);
    if (!lock.try_lock_for(kLockBound)) continue;  // Try again on the next pass.
    if (table.closed.load() || rec.generation != generation) {
      ownsRecord = false;
      break;
    }
    if (rec.inUse == 0) {
      // Freed by trimming or by the stop wait.
      rec.finished = 1;
      ownsRecord = false;
      break;
    }
    if (rec.finished != 0) {
      lock.unlock();
      std::this_thread::sleep_for(kIdlePoll);
      continue;
    }
    KwThreadFunction function = rec.function;
    void* argument = rec.argument;
    char name[kKwWorkerNameSize];
    std::memcpy(name, rec.name, sizeof(name));
    lock.unlock();

    RunJob(function, argument, name);

    // Report the job done.  After the manager is gone nothing is logged or
    // changed: a job abandoned at stop just ends its thread here.
    for (;;) {
      if (table.closed.load()) return;
      if (lock.try_lock_for(kLockBound)) break;
    }
    if (table.closed.load() || rec.generation != generation) return;
    KW_LOG(4, "CKWThreadManager_runthread", "stop thread %s [%d] total:%d", name, index,
           table.CountInUse());
    rec.finished = 1;
    lock.unlock();
  }
  // Ended by the cleared run flag or a closed table while still owning the
  // record: free it so that no record stays "in use" without a thread.
  if (ownsRecord && !table.closed.load()) {
    std::unique_lock<KwBoundedMutex> lock(table.lock, std::defer_lock);
    if (lock.try_lock_for(kLockBound) && rec.generation == generation) {
      rec.inUse = 0;
      rec.finished = 1;
    }
  }
}

namespace {

void WorkerMain(std::shared_ptr<KwWorkerTable> table, int32_t index, uint32_t generation) {
  CKWThreadManager_runthread(*table, index, generation);
  table.reset();
  g_liveWorkers.fetch_sub(1);
}

}  // namespace

CKWThreadManager::CKWThreadManager() : table_(std::make_shared<KwWorkerTable>()) {}

CKWThreadManager::~CKWThreadManager() {
  KW_LOG(1, "CKWThreadManager::~CKWThreadManager", "begin");
  table_->closed.store(true);
  std::unique_lock<KwBoundedMutex> lock(table_->lock, std::defer_lock);
  if (lock.try_lock_for(kLockBound)) {
    for (KwWorkerRecord& r : table_->records) r.inUse = 0;
  }
  // The block itself is freed by whoever drops the last reference: this
  // manager, or the last worker whose job was still running.
  KW_LOG(1, "CKWThreadManager::~CKWThreadManager", "end");
}

CKWThreadManager* CKWThreadManager::Instance() {
  std::lock_guard<std::mutex> guard(g_instanceMutex);
  CKWThreadManager* m = g_instance.load();
  if (m == nullptr) {
    m = new CKWThreadManager();
    g_instance.store(m);
  }
  return m;
}

CKWThreadManager* CKWThreadManager::Current() {
  return g_instance.load();
}

void CKWThreadManager::DestroyInstance() {
  std::lock_guard<std::mutex> guard(g_instanceMutex);
  delete g_instance.exchange(nullptr);
}

void CKWThreadManager::addThreadFunction(const char* name, KwThreadFunction function,
                                         void* argument) {
  // Holding the instance lock keeps the manager alive while the job is added,
  // even if the stop sequence runs on another thread at the same moment.
  std::lock_guard<std::mutex> guard(g_instanceMutex);
  if (g_threadsMayRun.load() == 0) {
    KW_LOG(1, "CKWThreadManager::addThreadFunction", "stopping, thread [%s] dropped",
           name != nullptr ? name : "");
    return;
  }
  CKWThreadManager* m = g_instance.load();
  if (m == nullptr) {
    m = new CKWThreadManager();
    g_instance.store(m);
  }
  m->AddJob(name, function, argument);
}

void CKWThreadManager::AddJob(const char* name, KwThreadFunction function, void* argument) {
  const char* jobName = name != nullptr ? name : "";
  if (g_threadsMayRun.load() == 0) {
    // A new worker would end at once and leave its job pending forever.
    KW_LOG(1, "CKWThreadManager::addThreadFunction", "stopping, thread [%s] dropped", jobName);
    return;
  }
  KwWorkerTable& table = *table_;
  std::unique_lock<KwBoundedMutex> lock(table.lock, std::defer_lock);
  if (!lock.try_lock_for(kLockBound)) {
    KW_LOG(1, "CKWThreadManager::addThreadFunction", "lock timeout, thread [%s] dropped", jobName);
    return;
  }

  // Keep at most 11 idle workers; the surplus end on their next poll.
  int32_t idleKept = 0;
  for (KwWorkerRecord& r : table.records) {
    if (r.inUse != 0 && r.finished != 0 && ++idleKept > kKwMaxIdleWorkers) r.inUse = 0;
  }

  // Reuse the first idle worker; it starts the job on its next poll.
  for (KwWorkerRecord& r : table.records) {
    if (r.inUse != 0 && r.finished != 0) {
      KW_LOG(4, "CKWThreadManager::addThreadFunction", "start thread [%s], total: %d", jobName,
             table.CountInUse());
      r.finished = 0;
      CopyName(r.name, jobName);
      r.function = function;
      r.argument = argument;
      return;
    }
  }

  auto freeRecord = std::find_if(table.records.begin(), table.records.end(),
                                 [](const KwWorkerRecord& r) { return r.inUse == 0; });
  if (freeRecord == table.records.end()) return;  // Full table: the job is dropped.
  KwWorkerRecord& r = *freeRecord;
  r.inUse = 1;
  r.finished = 0;
  ++r.generation;
  CopyName(r.name, jobName);
  r.function = function;
  r.argument = argument;
  KW_LOG(4, "CKWThreadManager::addThreadFunction", "start thread [%s], total: %d", jobName,
         table.CountInUse());
  g_liveWorkers.fetch_add(1);
  try {
    std::thread worker(WorkerMain, table_, r.index, r.generation);
    r.thread = worker.get_id();
    worker.detach();
  } catch (const std::exception& e) {
    g_liveWorkers.fetch_sub(1);
    r.inUse = 0;
    r.finished = 1;
    KW_LOG(1, "CKWThreadManager::addThreadFunction", "thread [%s] not started: %s", jobName,
           e.what());
  }
}

int32_t CKWThreadManager::WaitAllFinished(int32_t limitMs) {
  const auto start = std::chrono::steady_clock::now();
  KwWorkerTable& table = *table_;
  for (;;) {
    int32_t running = 0;
    std::unique_lock<KwBoundedMutex> lock(table.lock, std::defer_lock);
    if (lock.try_lock_for(kLockBound)) {
      for (KwWorkerRecord& r : table.records) {
        if (r.inUse != 0 && r.finished != 0) r.inUse = 0;
      }
      for (const KwWorkerRecord& r : table.records) {
        if (r.inUse == 0 || std::strcmp(r.name, kKwEventLoopJobName) == 0) continue;
        ++running;
        KW_LOG(1, "CKWThreadManager::WaitAllFinished", "name:%s [%d] valid:%d, finished:%d", r.name,
               r.index, r.inUse, r.finished);
      }
      lock.unlock();
    } else {
      // The table could not be read: count it as still busy so the wait
      // goes on until its limit.
      running = 1;
      KW_LOG(1, "CKWThreadManager::WaitAllFinished", "lock timeout");
    }
    if (running == 0) return 0;
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (elapsed.count() >= limitMs) {
      KW_LOG(1, "CKWThreadManager::WaitAllFinished", "> 5 sec, close");
      return running;
    }
    std::this_thread::sleep_for(kStopPoll);
  }
}

void CKWThreadManager::StopAll(int32_t settleMs) {
  CKWThreadManager* m = Current();
  if (m == nullptr) return;
  m->WaitAllFinished(kKwStopWaitMs);
  g_threadsMayRun.store(0);
  if (settleMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
  DestroyInstance();
}

std::vector<KwWorkerInfo> CKWThreadManager::InUseRecords() const {
  std::vector<KwWorkerInfo> out;
  std::unique_lock<KwBoundedMutex> lock(table_->lock, std::defer_lock);
  if (!lock.try_lock_for(kLockBound)) return out;
  for (const KwWorkerRecord& r : table_->records) {
    if (r.inUse == 0) continue;
    KwWorkerInfo info;
    info.index = r.index;
    info.inUse = r.inUse;
    info.finished = r.finished;
    std::memcpy(info.name, r.name, sizeof(info.name));
    out.push_back(info);
  }
  return out;
}

int32_t CKWThreadManager::LiveWorkers() {
  return g_liveWorkers.load();
}
