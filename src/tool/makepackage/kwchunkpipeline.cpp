#include "tool/makepackage/kwchunkpipeline.h"

#include <zlib.h>

#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgformat.h"

using namespace kwpkg;

KwChunkPipeline::KwChunkPipeline(IKWMakePkg* sink, int threads) : m_sink(sink) {
  const int workers = threads <= 1 ? 0 : threads;
  // Two buffers per worker let the next chunk be read while every worker is
  // busy and the oldest result waits to be written; two more keep the
  // workers fed while a slow chunk at the front holds up the in-order writes
  // (without them two workers kept only about 1.7 cores busy).
  m_slots.resize(workers == 0 ? 1 : static_cast<size_t>(2 * workers + 2));
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

void KwChunkPipeline::Compress(Slot* s) {
  s->outLen = compressBound(kChunkSize);
  s->rc = compress2(s->out.get(), &s->outLen, s->in.get(), static_cast<uLong>(s->n), kZlibLevel);
}

void KwChunkPipeline::Worker() {
  for (;;) {
    int job;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_work.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
      if (m_jobs.empty()) return;  // Stopping with nothing left.
      job = m_jobs.front();
      m_jobs.pop_front();
    }
    Compress(&m_slots[static_cast<size_t>(job)]);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_slots[static_cast<size_t>(job)].done = true;
    }
    m_doneCv.notify_all();
  }
}

void KwChunkPipeline::AddRecord(int32_t type, const uint8_t* payload, int32_t length) {
  m_items.push_back(Item{type, -1, std::vector<uint8_t>(payload, payload + length)});
  Drain(false);
}

uint8_t* KwChunkPipeline::AcquireInput() {
  for (;;) {
    for (size_t i = 0; i < m_slots.size(); ++i) {
      if (!m_slots[i].busy) {
        m_slots[i].busy = true;
        m_slots[i].done = false;
        m_acquired = static_cast<int>(i);
        return m_slots[i].in.get();
      }
    }
    // Every buffer waits in the queue: the oldest chunk must be written first.
    Drain(true);
  }
}

void KwChunkPipeline::SubmitChunk(int32_t n) {
  Slot& s = m_slots[static_cast<size_t>(m_acquired)];
  s.n = n;
  m_items.push_back(Item{kRecordData, m_acquired, {}});
  if (m_workers.empty()) {
    Compress(&s);
    s.done = true;
  } else {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_jobs.push_back(m_acquired);
    }
    m_work.notify_one();
  }
  m_acquired = -1;
  Drain(false);
}

void KwChunkPipeline::ReleaseInput() {
  if (m_acquired >= 0) m_slots[static_cast<size_t>(m_acquired)].busy = false;
  m_acquired = -1;
}

void KwChunkPipeline::WriteItem(Item& item) {
  if (item.slot < 0) {
    if (!m_failed && !m_sink->WriteRecord(item.type, item.record.data(),
                                          static_cast<int32_t>(item.record.size())))
      m_failed = true;
    return;
  }
  Slot& s = m_slots[static_cast<size_t>(item.slot)];
  if (!m_failed) {
    if (s.rc != Z_OK || s.outLen > static_cast<unsigned long>(kMaxCompressedChunk)) {
      m_sink->NoteError("compression of a chunk failed");
      m_failed = true;
    } else if (!m_sink->WriteRecord(kRecordData, s.out.get(), static_cast<int32_t>(s.outLen))) {
      m_failed = true;
    }
  }
  s.busy = false;
  s.done = false;
}

void KwChunkPipeline::Drain(bool waitFront) {
  while (!m_items.empty()) {
    Item& front = m_items.front();
    if (front.slot >= 0) {
      Slot& s = m_slots[static_cast<size_t>(front.slot)];
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!s.done) {
        if (!waitFront) return;
        m_doneCv.wait(lock, [&s] { return s.done; });
      }
    }
    WriteItem(front);
    m_items.pop_front();
    waitFront = false;  // Only one wait is asked for; later ready ones follow.
  }
}

bool KwChunkPipeline::Flush() {
  while (!m_items.empty()) Drain(true);
  return !m_failed;
}
