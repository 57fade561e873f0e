// How a download worker fetches one segment: a ranged GET whose body goes
// straight into a buffer of the engine's pool, checked to be exactly the
// range asked for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "network/http/ikwhttpclient.h"
#include "platform/kwlargebuffer.h"

// Reads `length` bytes at `offset` of `url` into `dest` (room for `length`).
// Returns `length`, or a negative value when the answer was not exactly that
// range (an error status, a short or long body, another range, an aborted or
// broken transfer); `dest` is then meaningless.
int32_t KwFetchSegment(const char* url, int64_t offset, int32_t length, char* dest,
                       CKWHttpWithCurl::ProgressFn progress, void* progressContext,
                       CKWHttpWithCurl::AbortFn abort, void* abortContext);

// A fixed set of segment buffers, allocated on first use and reused, so the
// memory of a run stays bounded however fast segments arrive.
class KwSegmentBufferPool {
 public:
  KwSegmentBufferPool(int count, size_t size);
  // Waits for a free buffer; null when `stop` says the run ended meanwhile.
  char* Acquire(const std::atomic<bool>& stop);
  void Release(char* buffer);
  size_t size() const { return size_; }

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  size_t size_;
  std::vector<std::unique_ptr<KwLargeBuffer>> owned_;
  std::vector<char*> free_;
  int count_;
};
