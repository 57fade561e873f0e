// The process-wide pool of named worker threads.
//
// A job is a function taking one pointer and a name.  A worker that has
// finished its job stays alive, idle, polling every 30 ms, and is handed the
// next job, so short jobs do not each create a thread.  When a job arrives and
// more than 11 workers are idle, the surplus idle workers are told to end.
// At stop the manager waits a bounded time for running jobs and the idle
// workers end.
//
// Ownership and lifetimes:
// - The manager is a singleton reached through Instance(); it is created on
//   first use and destroyed by StopAll() (or DestroyInstance()) during the
//   stop sequence.  Tests may also construct private managers.
// - The worker table and its lock live in a shared block that every worker
//   thread holds a reference to.  Destroying the manager closes that block:
//   the idle workers end on their next poll, and a worker whose job is still
//   running when the manager goes away only drops its reference when the job
//   returns.  It never touches the destroyed manager, so a job abandoned by the
//   stop wait is harmless when it finally ends.
// - The job's argument is not owned by the manager.
//
// Locking: every acquisition of the table lock is bounded to 1000 ms.  The
// table is never changed without the lock.  When the bound is reached, adding
// a job drops the job (logged at level 1), a worker retries on its next pass,
// and the stop wait counts the pass as "still running".
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

using KwThreadFunction = void (*)(void*);

inline constexpr int32_t kKwWorkerCount = 8192;
inline constexpr int32_t kKwMaxIdleWorkers = 11;
inline constexpr int32_t kKwWorkerNameSize = 60;
inline constexpr int32_t kKwStopWaitMs = 3000;
// The event loop's own long-running job is expected to outlive the stop wait
// and is not waited for.
inline constexpr const char kKwEventLoopJobName[] = "CKwEventManager::funcloop";

struct KwWorkerTable;  // The shared block: records, lock and the closed flag.

// A copy of one record, for logs and tests.
struct KwWorkerInfo {
  int32_t index = 0;
  int32_t inUse = 0;     // 0 free, 1 owned by a worker.
  int32_t finished = 1;  // 1 idle (or ended), 0 job pending or running.
  char name[kKwWorkerNameSize] = {};
};

class CKWThreadManager {
 public:
  CKWThreadManager();
  virtual ~CKWThreadManager();
  CKWThreadManager(const CKWThreadManager&) = delete;
  CKWThreadManager& operator=(const CKWThreadManager&) = delete;

  // The process-wide manager, created on first use.
  static CKWThreadManager* Instance();
  // The process-wide manager or null; never creates it.
  static CKWThreadManager* Current();
  // Destroys the process-wide manager, if any, and clears the pointer.
  static void DestroyInstance();

  // Schedules a job on the process-wide manager (created if missing).  Never
  // fails visibly: a full table, a lock that stays taken, a failed thread
  // start or a cleared g_threadsMayRun drop the job (the last three logged).
  static void addThreadFunction(const char* name, KwThreadFunction function, void* argument);

  // The same on this manager.
  void AddJob(const char* name, KwThreadFunction function, void* argument);

  // The bounded wait of the stop sequence: frees the idle records, then polls
  // every 100 ms until no job other than the event loop's is running or
  // limitMs have passed.  Returns the number of jobs still running (0 when
  // everything finished).
  int32_t WaitAllFinished(int32_t limitMs = kKwStopWaitMs);

  // Stop sequence for the process-wide manager: when it exists, wait for its
  // jobs (3 s bound), clear g_threadsMayRun, sleep settleMs, destroy it.
  static void StopAll(int32_t settleMs = 500);

  // Copies of the records currently in use (in index order); empty when the
  // lock could not be taken within its bound.
  std::vector<KwWorkerInfo> InUseRecords() const;

  // Worker threads of all managers that have not yet ended (process-wide).
  static int32_t LiveWorkers();

 private:
  std::shared_ptr<KwWorkerTable> table_;
};
