#include "MsgBox/engine/kwenginefetch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tool/http/kwcontentrange.h"

namespace {

struct SinkTarget {
  char* dest;
  int32_t room;
  int32_t got;
  bool over;
};

void Sink(void* context, const char* data, int32_t count) {
  auto* t = static_cast<SinkTarget*>(context);
  if (count <= 0) return;
  if (count > t->room - t->got) {
    t->over = true;
    return;
  }
  std::memcpy(t->dest + t->got, data, static_cast<size_t>(count));
  t->got += count;
}

}  // namespace

int32_t KwFetchSegment(const char* url, int64_t offset, int32_t length, char* dest,
                       CKWHttpWithCurl::ProgressFn progress, void* progressContext,
                       CKWHttpWithCurl::AbortFn abort, void* abortContext) {
  if (url == nullptr || url[0] == '\0' || offset < 0 || length <= 0 || dest == nullptr) return -2;
  CKWHttpWithCurl client;
  SinkTarget target{dest, length, 0, false};
  client.SetProgress(progress, progressContext);
  client.SetAbortCheck(abort, abortContext);
  client.SetBodySink(&Sink, &target);
  client.SetRange(offset, length);
  // A server that ignores the range sends the whole volume: stop at once.
  client.SetBodyLimit(length);
  int32_t r = client.DoGet(url);
  if (r < 0) return r;
  if (client.curlCode() != 0 || target.over || target.got != length) return -2;
  KwContentRange range;
  if (client.statusCode() != 206 ||
      !KwParseContentRange(KwContentRangeOf(client.headerText()), &range) ||
      range.first != offset || range.last != offset + length - 1) {
    return -2;
  }
  return length;
}

KwSegmentBufferPool::KwSegmentBufferPool(int count, size_t size) : size_(size), count_(count) {}

char* KwSegmentBufferPool::Acquire(const std::atomic<bool>& stop) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop.load()) {
    if (!free_.empty()) {
      char* b = free_.back();
      free_.pop_back();
      return b;
    }
    if (static_cast<int>(owned_.size()) < count_) {
      // Not zero-filled: every byte is written by the transfer before use.
      // Without memory for another one, the run waits for one of those it
      // has (or tries again) rather than losing the segment.
      auto buffer = std::make_unique<KwLargeBuffer>(size_);
      if (buffer->data() != nullptr) {
        owned_.push_back(std::move(buffer));
        return owned_.back()->data();
      }
    }
    freed_.wait_for(lock, std::chrono::milliseconds(10));
  }
  return nullptr;
}

void KwSegmentBufferPool::Release(char* buffer) {
  if (buffer == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(buffer);
  }
  freed_.notify_one();
}
