#include "MsgBox/kwenginefetch.h"

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
  int64_t offset;
  KwChecksumLanes* lanes;
};

void Sink(void* context, const char* data, int32_t count) {
  auto* t = static_cast<SinkTarget*>(context);
  if (count <= 0) return;
  if (count > t->room - t->got) {
    t->over = true;
    return;
  }
  std::memcpy(t->dest + t->got, data, static_cast<size_t>(count));
  // Summed while the piece is still in the cache.
  if (t->lanes != nullptr) t->lanes->Add(data, count, t->offset + t->got);
  t->got += count;
}

}  // namespace

int32_t KwFetchSegment(const char* url, int64_t offset, int32_t length, char* dest,
                       KwChecksumLanes* lanes, CKWHttpWithCurl::ProgressFn progress,
                       void* progressContext, CKWHttpWithCurl::AbortFn abort, void* abortContext) {
  if (url == nullptr || url[0] == '\0' || offset < 0 || length <= 0 || dest == nullptr) return -2;
  if (lanes != nullptr) *lanes = KwChecksumLanes();
  CKWHttpWithCurl client;
  SinkTarget target{dest, length, 0, false, offset, lanes};
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

void KwChecksumLanes::Add(const char* data, int64_t size, int64_t offset) {
  const auto* p = reinterpret_cast<const uint8_t*>(data);
  uint64_t sums[8] = {};
  int64_t i = 0;
  // Bytes before the first 8-aligned stream offset go one by one.
  for (; i < size && ((offset + i) & 7) != 0; ++i) sums[(offset + i) & 7] += p[i];
  // Then whole words: the even and odd bytes of each little-endian word add
  // up in four 16-bit fields each, which hold 257 bytes of 255 before they
  // could overflow, so they are emptied every 256 words.
  static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "words are read little-endian");
  constexpr uint64_t kEven = 0x00FF00FF00FF00FFull;
  while (size - i >= 8) {
    int64_t words = std::min<int64_t>((size - i) / 8, 256);
    uint64_t even = 0;
    uint64_t odd = 0;
    for (int64_t w = 0; w < words; ++w) {
      uint64_t v;
      std::memcpy(&v, p + i + w * 8, 8);
      even += v & kEven;
      odd += (v >> 8) & kEven;
    }
    for (int k = 0; k < 4; ++k) {
      sums[2 * k] += (even >> (16 * k)) & 0xFFFF;
      sums[2 * k + 1] += (odd >> (16 * k)) & 0xFFFF;
    }
    i += words * 8;
  }
  for (; i < size; ++i) sums[(offset + i) & 7] += p[i];
  for (int k = 0; k < 8; ++k) lane[k] = static_cast<uint8_t>(lane[k] + (sums[k] & 0xFF));
}

void KwChecksumLanes::Add(const KwChecksumLanes& other) {
  for (int k = 0; k < 8; ++k) lane[k] = static_cast<uint8_t>(lane[k] + other.lane[k]);
}

std::string KwChecksumLanes::Hex() const {
  char buf[17];
  for (int k = 0; k < 8; ++k) std::snprintf(buf + 2 * k, 3, "%02X", lane[k]);
  return std::string(buf, 16);
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
      owned_.emplace_back(new char[size_]);
      return owned_.back().get();
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
