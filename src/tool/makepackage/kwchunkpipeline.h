// KwChunkPipeline: compresses the maker's data chunks on worker threads and
// hands every record to the maker in stream order.
//
// The maker's thread queues records (begin and end records ready at once,
// data chunks after compression) and the pipeline writes them through
// IKWMakePkg::WriteRecord on that same thread, oldest first, so the output
// does not depend on how many threads compress or how fast they are.  The
// number of chunk buffers is bounded (two per worker plus two, one when
// compressing inline), which bounds memory; the maker's thread blocks when all are busy.
// Owned by the maker for one run.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class IKWMakePkg;

class KwChunkPipeline {
 public:
  // `threads` <= 1 compresses on the caller's thread with no workers.
  KwChunkPipeline(IKWMakePkg* sink, int threads);
  ~KwChunkPipeline();
  KwChunkPipeline(const KwChunkPipeline&) = delete;
  KwChunkPipeline& operator=(const KwChunkPipeline&) = delete;

  // Queues a record whose payload is copied now (the 528-byte descriptors).
  void AddRecord(int32_t type, const uint8_t* payload, int32_t length);
  // A free input buffer of 3,200,000 bytes for the next chunk; writes older
  // records while waiting for one.
  uint8_t* AcquireInput();
  // Queues the buffer from AcquireInput holding `n` bytes for compression.
  void SubmitChunk(int32_t n);
  // Gives the buffer from AcquireInput back unused.
  void ReleaseInput();
  // Writes every queued record; returns false when a write failed in this run.
  bool Flush();
  bool Failed() const { return m_failed; }

 private:
  struct Slot {
    std::unique_ptr<uint8_t[]> in;
    std::unique_ptr<uint8_t[]> out;
    int32_t n = 0;
    unsigned long outLen = 0;
    int rc = 0;
    bool busy = false;  // Acquired or queued; not yet written.
    bool done = false;  // Compressed.
  };
  struct Item {
    int32_t type;
    int slot;                     // Data records: the slot; else -1.
    std::vector<uint8_t> record;  // Other records: their payload.
  };

  static void Compress(Slot* s);
  void Worker();
  // Writes ready items from the front; with `wait`, waits for the front one.
  void Drain(bool waitFront);
  void WriteItem(Item& item);

  IKWMakePkg* m_sink;
  std::vector<Slot> m_slots;
  std::deque<Item> m_items;  // Stream order; touched by the maker's thread only.
  int m_acquired = -1;
  bool m_failed = false;

  std::mutex m_mutex;
  std::condition_variable m_work;  // Workers wait for jobs.
  std::condition_variable m_doneCv;
  std::deque<int> m_jobs;
  bool m_stop = false;
  std::vector<std::thread> m_workers;
};
