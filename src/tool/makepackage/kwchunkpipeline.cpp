#include "tool/makepackage/kwchunkpipeline.h"

#include <zlib.h>

#include "baseutil/kwsha256.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgformat.h"

using namespace kwpkg;

KwChunkPipeline::KwChunkPipeline(IKWMakePkg* sink, int threads) : m_sink(sink) {
  const int workers = threads <= 1 ? 0 : threads;
  // One buffer per worker, one being read while all workers are busy, and
  // one already read, so a worker that finishes finds its next chunk waiting.
  m_slots.resize(workers == 0 ? 1 : static_cast<size_t>(workers + 2));
  const unsigned long bound = compressBound(kChunkSize);
  for (Slot& s : m_slots) {
    s.in.reset(new uint8_t[kChunkSize]);
    s.out.reset(new uint8_t[bound]);
  }
  for (int i = 0; i < workers; ++i) m_workers.emplace_back([this] { Worker(); });
}

KwChunkPipeline::~KwChunkPipeline() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_work.notify_all();
  for (std::thread& t : m_workers) t.join();
}

bool KwChunkPipeline::Compress(Slot* s, int32_t n, unsigned long* outLen, uint8_t sha256[32]) {
  // A few percent of the compression's time, spent on the worker so the
  // manifest costs the maker's thread nothing.
  KwSha256 sha;
  sha.Update(s->in.get(), static_cast<size_t>(n));
  if (!sha.Final(sha256)) return false;
  *outLen = compressBound(kChunkSize);
  const int rc = compress2(s->out.get(), outLen, s->in.get(), static_cast<uLong>(n), kZlibLevel);
  return rc == Z_OK && *outLen <= static_cast<unsigned long>(kMaxCompressedChunk);
}

void KwChunkPipeline::Worker() {
  for (;;) {
    Chunk* job;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_work.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
      if (m_jobs.empty()) return;  // Stopping with nothing left.
      job = m_jobs.front();
      m_jobs.pop_front();
    }
    Slot& s = m_slots[static_cast<size_t>(job->slot)];
    unsigned long outLen = 0;
    const bool ok = Compress(&s, job->n, &outLen, job->sha256);
    // The copy costs well under a percent of the compression and frees the
    // work buffer for the next chunk at once.
    if (ok) job->data.assign(s.out.get(), s.out.get() + outLen);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      job->ok = ok;
      job->done = true;
      s.busy = false;
      m_waiting += static_cast<int64_t>(job->data.size());
    }
    m_doneCv.notify_all();
  }
}

void KwChunkPipeline::AddRecord(int32_t type, const uint8_t* payload, int32_t length) {
  m_items.push_back(Item{type, nullptr, std::vector<uint8_t>(payload, payload + length)});
  Drain(false);
}

uint8_t* KwChunkPipeline::AcquireInput() {
  for (;;) {
    Drain(false);
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (m_waiting <= kWaitingBudget) {
        for (size_t i = 0; i < m_slots.size(); ++i) {
          if (!m_slots[i].busy) {
            m_slots[i].busy = true;
            m_acquired = static_cast<int>(i);
            return m_slots[i].in.get();
          }
        }
      }
      // Every buffer is being compressed, or too much waits behind the
      // oldest chunk: the next finished chunk changes either.
      if (!m_items.empty()) {
        const Chunk* front = m_items.front().chunk.get();
        m_doneCv.wait(lock, [this, front] {
          if (front != nullptr && front->done) return true;
          if (m_waiting > kWaitingBudget) return false;
          for (const Slot& s : m_slots)
            if (!s.busy) return true;
          return false;
        });
      }
    }
  }
}

void KwChunkPipeline::SubmitChunk(int32_t n) {
  Slot& s = m_slots[static_cast<size_t>(m_acquired)];
  if (m_workers.empty()) {
    // Everything older is written already (nothing is ever left waiting
    // without workers), so the chunk goes straight from its buffer.
    Drain(false);
    unsigned long outLen = 0;
    uint8_t sha256[32];
    const bool ok = Compress(&s, n, &outLen, sha256);
    WriteData(ok, s.out.get(), outLen, n, sha256);
    s.busy = false;
  } else {
    std::unique_ptr<Chunk> chunk(new Chunk);
    chunk->slot = m_acquired;
    chunk->n = n;
    Chunk* job = chunk.get();
    m_items.push_back(Item{kRecordData, std::move(chunk), {}});
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_jobs.push_back(job);
    }
    m_work.notify_one();
  }
  m_acquired = -1;
  Drain(false);
}

void KwChunkPipeline::ReleaseInput() {
  if (m_acquired >= 0) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_slots[static_cast<size_t>(m_acquired)].busy = false;
  }
  m_acquired = -1;
}

void KwChunkPipeline::WriteData(bool ok, const uint8_t* data, size_t size, int32_t n,
                                const uint8_t* sha256) {
  if (m_failed) return;
  if (!ok) {
    m_sink->NoteError("compression of a chunk failed");
    m_failed = true;
  } else if (!m_sink->WriteRecord(kRecordData, data, static_cast<int32_t>(size), n, sha256)) {
    m_failed = true;
  }
}

void KwChunkPipeline::Drain(bool waitFront) {
  while (!m_items.empty()) {
    Item& front = m_items.front();
    if (front.chunk) {
      Chunk& c = *front.chunk;
      {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!c.done) {
          if (!waitFront) return;
          m_doneCv.wait(lock, [&c] { return c.done; });
        }
      }
      WriteData(c.ok, c.data.data(), c.data.size(), c.n, c.sha256);
      std::lock_guard<std::mutex> lock(m_mutex);
      m_waiting -= static_cast<int64_t>(c.data.size());
    } else if (!m_failed && !m_sink->WriteRecord(front.type, front.record.data(),
                                                 static_cast<int32_t>(front.record.size()))) {
      m_failed = true;
    }
    m_items.pop_front();
    waitFront = false;  // Only one wait is asked for; later ready ones follow.
  }
}

bool KwChunkPipeline::Flush() {
  while (!m_items.empty()) Drain(true);
  return !m_failed;
}
