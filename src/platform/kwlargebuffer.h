// A large, long-lived byte buffer (segment buffers of the download engine).
// Such buffers are touched page by page as a transfer fills them, and on
// some machines each first touch of a small page costs microseconds; the
// buffer is therefore placed so the kernel may back it with huge pages.
// The object owns the memory and frees it when destroyed.
#pragma once

#include <cstddef>

class KwLargeBuffer {
 public:
  // Allocates at least `size` bytes (not zero-filled).  data() is null when
  // the memory cannot be had.
  explicit KwLargeBuffer(size_t size);
  ~KwLargeBuffer();
  KwLargeBuffer(const KwLargeBuffer&) = delete;
  KwLargeBuffer& operator=(const KwLargeBuffer&) = delete;

  char* data() const { return data_; }

 private:
  char* data_ = nullptr;
};
