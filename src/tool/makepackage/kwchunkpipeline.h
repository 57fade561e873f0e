// KwChunkPipeline: compresses the maker's data chunks on worker threads and
// hands every record to the maker in stream order.
//
// The maker's thread queues records (begin and end records ready at once,
// data chunks after compression) and the pipeline writes them through
// IKWMakePkg::WriteRecord on that same thread, oldest first, so the output
// does not depend on how many threads compress or how fast they are.
//
// Memory is bounded twice.  A chunk is read into one of a few work buffers
// (one chunk in, one compressed chunk out; two more than there are workers),
// which is free again as soon as the chunk is compressed: the worker moves
// the compressed bytes into the record's own buffer.  No new chunk is read
// while more than 8 MB of compressed records wait behind an older, slower
// chunk (the chunks already in the work buffers may add to that).  So a slow
// chunk at the front no longer idles the other workers while quicker chunks
// behind it pile up, which the fixed set of buffers did.  The maker's thread blocks when either
// bound is reached.  With one thread, chunks are compressed and written inline. Owned by the maker
// for one run.
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
  // Compressed bytes that may wait for older chunks to be written.
  static constexpr int64_t kWaitingBudget = 8 * 1000 * 1000;

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
  // A work buffer: busy from AcquireInput until its chunk is compressed.
  struct Slot {
    std::unique_ptr<uint8_t[]> in;
    std::unique_ptr<uint8_t[]> out;
    bool busy = false;
  };
  // One compressed chunk on its way to the volume.
  struct Chunk {
    int slot = -1;
    int32_t n = 0;              // Uncompressed bytes in the slot.
    uint8_t sha256[32] = {};    // Of those bytes, for the release manifest.
    std::vector<uint8_t> data;  // The compressed bytes, once done.
    bool ok = false;
    bool done = false;  // Compressed; guarded by m_mutex.
  };
  struct Item {
    int32_t type;
    std::unique_ptr<Chunk> chunk;  // Data records.
    std::vector<uint8_t> record;   // Other records: their payload.
  };

  // Compresses slot `s` holding `n` bytes and takes their SHA-256; false
  // when zlib failed or the result exceeds the format's bound for a chunk
  // record.
  static bool Compress(Slot* s, int32_t n, unsigned long* outLen, uint8_t sha256[32]);
  void Worker();
  // Writes ready items from the front; with `waitFront`, first waits for the
  // front one to be compressed.
  void Drain(bool waitFront);
  void WriteData(bool ok, const uint8_t* data, size_t size, int32_t n, const uint8_t* sha256);

  IKWMakePkg* m_sink;
  std::vector<Slot> m_slots;
  std::deque<Item> m_items;  // Stream order; touched by the maker's thread only.
  int m_acquired = -1;
  bool m_failed = false;

  std::mutex m_mutex;
  std::condition_variable m_work;    // Workers wait for jobs.
  std::condition_variable m_doneCv;  // The maker's thread waits for a finished chunk.
  std::deque<Chunk*> m_jobs;
  int64_t m_waiting = 0;  // Compressed bytes done but not yet written.
  bool m_stop = false;
  std::vector<std::thread> m_workers;
};
