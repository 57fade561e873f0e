#include "tool/makepackage/kwchunkbuffer.h"

#include <sys/mman.h>

#include <utility>

namespace {
constexpr size_t kHugePage = 2 * 1024 * 1024;
}

KwChunkBuffer::KwChunkBuffer(size_t size) {
  // Whole huge pages, aligned: map one extra and trim both ends.
  const size_t want = (size + kHugePage - 1) / kHugePage * kHugePage;
  void* p =
      ::mmap(nullptr, want + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) {
    m_data = new uint8_t[size];
    return;
  }
  auto* base = static_cast<uint8_t*>(p);
  const uintptr_t at = reinterpret_cast<uintptr_t>(base);
  auto* aligned = reinterpret_cast<uint8_t*>((at + kHugePage - 1) / kHugePage * kHugePage);
  const size_t head = static_cast<size_t>(aligned - base);
  if (head > 0) ::munmap(base, head);
  const size_t tail = kHugePage - head;
  if (tail > 0) ::munmap(aligned + want, tail);
#ifdef MADV_HUGEPAGE
  ::madvise(aligned, want, MADV_HUGEPAGE);  // Advice only; refusal is harmless.
#endif
  m_data = aligned;
  m_mapped = want;
}

KwChunkBuffer::~KwChunkBuffer() {
  Free();
}

KwChunkBuffer::KwChunkBuffer(KwChunkBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_mapped(std::exchange(other.m_mapped, 0)) {}

KwChunkBuffer& KwChunkBuffer::operator=(KwChunkBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    m_data = std::exchange(other.m_data, nullptr);
    m_mapped = std::exchange(other.m_mapped, 0);
  }
  return *this;
}

void KwChunkBuffer::Free() {
  if (m_data == nullptr) return;
  if (m_mapped > 0) {
    ::munmap(m_data, m_mapped);
  } else {
    delete[] m_data;
  }
  m_data = nullptr;
  m_mapped = 0;
}
