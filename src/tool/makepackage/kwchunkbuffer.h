// KwChunkBuffer: one long-lived buffer of a few megabytes for a package chunk
// (compressed or inflated), as the unpacker and its inflating slots hold.
// Where the system offers transparent huge pages on request, the buffer is
// aligned to them and asks for them: the first touch of a 3.2 MB buffer then
// costs two page faults instead of eight hundred, which on a virtual machine
// was a tenth of a fast unpack.  (The maker keeps plain buffers: its page
// faults are lost in the compression, and whole huge pages would cost it
// about 10 MB of resident memory.)  Otherwise it is plain heap memory.  Owns
// its memory; movable, not copyable.
#pragma once

#include <cstddef>
#include <cstdint>

class KwChunkBuffer {
 public:
  KwChunkBuffer() = default;
  explicit KwChunkBuffer(size_t size);
  ~KwChunkBuffer();
  KwChunkBuffer(KwChunkBuffer&& other) noexcept;
  KwChunkBuffer& operator=(KwChunkBuffer&& other) noexcept;
  KwChunkBuffer(const KwChunkBuffer&) = delete;
  KwChunkBuffer& operator=(const KwChunkBuffer&) = delete;

  uint8_t* get() const { return m_data; }

 private:
  void Free();

  uint8_t* m_data = nullptr;
  size_t m_mapped = 0;  // Bytes mapped at m_data; 0 when on the heap.
};
