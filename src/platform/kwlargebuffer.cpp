// KwLargeBuffer; see kwlargebuffer.h.
#include "platform/kwlargebuffer.h"

#include <sys/mman.h>

#include <cstdlib>

namespace {
// The usual huge page size; on other sizes the advice still holds, it only
// covers less of the buffer.
constexpr size_t kHugePage = size_t{2} << 20;
}  // namespace

KwLargeBuffer::KwLargeBuffer(size_t size) {
  if (size == 0) size = 1;
  // Rounded up to whole huge pages so none is shared with other data.
  size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  data_ = static_cast<char*>(std::aligned_alloc(kHugePage, rounded));
  // Only advice: where huge pages are off the buffer works as before.
  if (data_ != nullptr) madvise(data_, rounded, MADV_HUGEPAGE);
}

KwLargeBuffer::~KwLargeBuffer() {
  std::free(data_);
}
