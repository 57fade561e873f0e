#include "tool/makepackage/kwinflatepool.h"

#include "tool/makepackage/kwpkgformat.h"

KwInflatePool::KwInflatePool(int workers, KwInflaterKind kind) {
  m_slots.resize(static_cast<size_t>(2 * workers));
  for (Slot& s : m_slots) {
    s.in = KwChunkBuffer(kwpkg::kMaxCompressedChunk);
    s.out = KwChunkBuffer(kwpkg::kChunkSize);
  }
  for (int i = 0; i < workers; ++i) m_workers.emplace_back([this, kind] { Worker(kind); });
}

KwInflatePool::~KwInflatePool() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_work.notify_all();
  for (std::thread& t : m_workers) t.join();
}

void KwInflatePool::Worker(KwInflaterKind kind) {
  const std::unique_ptr<KwInflater> inflater = KwMakeInflater(kind);
  for (;;) {
    int job;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_work.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
      if (m_stop) return;  // Queued work is abandoned only when the owner goes.
      job = m_jobs.front();
      m_jobs.pop_front();
    }
    Slot& s = m_slots[static_cast<size_t>(job)];
    s.result = inflater->Inflate(s.in.get(), static_cast<size_t>(s.length), s.out.get(),
                                 kwpkg::kChunkSize);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_slots[static_cast<size_t>(job)].done = true;
    }
    m_doneCv.notify_all();
  }
}

int KwInflatePool::TryAcquire() {
  for (size_t i = 0; i < m_slots.size(); ++i) {
    if (!m_slots[i].busy) {
      m_slots[i].busy = true;
      m_slots[i].done = false;
      return static_cast<int>(i);
    }
  }
  return -1;
}

void KwInflatePool::Submit(int i) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_jobs.push_back(i);
  }
  m_work.notify_one();
}

bool KwInflatePool::IsDone(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_slots[static_cast<size_t>(i)].done;
}

KwInflatePool::Slot& KwInflatePool::Wait(int i) {
  Slot& s = m_slots[static_cast<size_t>(i)];
  std::unique_lock<std::mutex> lock(m_mutex);
  m_doneCv.wait(lock, [&s] { return s.done; });
  return s;
}

void KwInflatePool::Release(int i) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_slots[static_cast<size_t>(i)].busy = false;
  m_slots[static_cast<size_t>(i)].done = false;
}
