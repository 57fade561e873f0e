#include "MsgBox/engine/kwenginefetch.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <strings.h>

#include "tool/http/kwcontentrange.h"

namespace {

// Pieces of a whole volume are handed to the writer at this size: large
// enough for few writes, small enough that progress moves steadily.
constexpr int32_t kWholePiece = 1 << 20;

struct SegmentTarget {
  const CKWHttpWithCurl* client;
  int64_t offset;
  char* dest;
  int32_t room;
  int32_t got;
  bool over;
  bool wholeFile;
  CKWHttpWithCurl::ProgressFn progress;
  void* progressContext;
};

// The answer is judged before any of it is kept: a 200 carries the whole
// file from byte 0, and a 206 must name exactly the range asked for.
bool SegmentSink(void* context, const char* data, int32_t count) {
  auto* t = static_cast<SegmentTarget*>(context);
  if (count <= 0) return true;
  if (t->got == 0) {
    const long status = t->client->liveStatus();
    if (status == 200) {
      t->wholeFile = true;
      return false;
    }
    KwContentRange range;
    if (status != 206 || !KwParseContentRange(KwContentRangeOf(t->client->headerText()), &range) ||
        range.first != t->offset || range.last != t->offset + t->room - 1) {
      return false;
    }
  }
  if (count > t->room - t->got) {
    t->over = true;
    return false;
  }
  std::memcpy(t->dest + t->got, data, static_cast<size_t>(count));
  t->got += count;
  if (t->progress != nullptr) t->progress(t->progressContext, count);
  return true;
}

// The Content-Length of the last answer in a raw header block (after any
// redirect), or -1 when it declares none.
int64_t DeclaredLength(const char* header) {
  if (header == nullptr) return -1;
  const char* answer = header;
  for (const char* p = header; (p = std::strstr(p, "HTTP/")) != nullptr; ++p) {
    if (p == header || p[-1] == '\n') answer = p;
  }
  int64_t declared = -1;
  for (const char* line = answer; line != nullptr && *line != '\0';) {
    if (strncasecmp(line, "Content-Length:", 15) == 0) {
      char* end = nullptr;
      long long v = std::strtoll(line + 15, &end, 10);
      if (end != line + 15 && v >= 0) declared = v;
    }
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  return declared;
}

struct WholeTarget {
  const CKWHttpWithCurl* client;
  int64_t length;
  std::vector<char> piece;
  int64_t handed = 0;  // bytes handed to the writer
  int64_t seen = 0;    // body bytes received
  bool refused = false;
  bool wrongLength = false;
  bool notWritten = false;
  KwVolumePieceFn write;
  void* writeContext;
};

bool Hand(WholeTarget* t) {
  if (t->piece.empty()) return true;
  if (!t->write(t->writeContext, t->handed, t->piece.data(),
                static_cast<int32_t>(t->piece.size()))) {
    t->notWritten = true;
    return false;
  }
  t->handed += static_cast<int64_t>(t->piece.size());
  t->piece.clear();
  return true;
}

bool WholeSink(void* context, const char* data, int32_t count) {
  auto* t = static_cast<WholeTarget*>(context);
  if (count <= 0) return true;
  if (t->seen == 0) {
    if (t->client->liveStatus() != 200) {
      t->refused = true;
      return false;
    }
    const int64_t declared = DeclaredLength(t->client->headerText());
    if (declared >= 0 && declared != t->length) {
      t->seen = declared;
      t->wrongLength = true;
      return false;
    }
  }
  t->seen += count;
  if (t->seen > t->length) {
    t->wrongLength = true;
    return false;
  }
  while (count > 0) {
    int32_t take = std::min<int32_t>(count, kWholePiece - static_cast<int32_t>(t->piece.size()));
    t->piece.insert(t->piece.end(), data, data + take);
    data += take;
    count -= take;
    if (static_cast<int32_t>(t->piece.size()) == kWholePiece && !Hand(t)) return false;
  }
  return true;
}

}  // namespace

int32_t KwFetchSegment(const char* url, int64_t offset, int32_t length, char* dest,
                       CKWHttpWithCurl::ProgressFn progress, void* progressContext,
                       CKWHttpWithCurl::AbortFn abort, void* abortContext) {
  if (url == nullptr || url[0] == '\0' || offset < 0 || length <= 0 || dest == nullptr) {
    return kKwFetchRefused;
  }
  CKWHttpWithCurl client;
  SegmentTarget target{&client, offset, dest, length, 0, false, false, progress, progressContext};
  client.SetAbortCheck(abort, abortContext);
  client.SetBodySink(&SegmentSink, &target);
  client.SetRange(offset, length);
  int32_t r = client.DoGet(url);
  if (target.wholeFile) return kKwFetchWholeFile;
  if (r < 0) return r;
  if (client.curlCode() != 0 || target.over || target.got != length) return kKwFetchRefused;
  return length;
}

int64_t KwFetchWholeVolume(const char* url, int64_t length, KwVolumePieceFn write,
                           void* writeContext, CKWHttpWithCurl::AbortFn abort, void* abortContext,
                           int64_t* served) {
  if (served != nullptr) *served = 0;
  if (url == nullptr || url[0] == '\0' || length < 0 || write == nullptr) return kKwFetchRefused;
  CKWHttpWithCurl client;
  WholeTarget target{&client, length, {}, 0, 0, false, false, false, write, writeContext};
  target.piece.reserve(static_cast<size_t>(std::min<int64_t>(length, kWholePiece)));
  client.SetAbortCheck(abort, abortContext);
  client.SetBodySink(&WholeSink, &target);
  client.SetLargeRead(true);
  int32_t r = client.DoGet(url);
  if (served != nullptr) *served = target.seen;
  if (target.wrongLength) return kKwFetchWrongLength;
  if (target.notWritten) return kKwFetchNotWritten;
  if (r < 0) return r;
  if (target.refused || client.curlCode() != 0 || client.statusCode() != 200) {
    return kKwFetchRefused;
  }
  // A complete answer that ended early is as wrong as a long one.
  if (target.seen != length) return kKwFetchWrongLength;
  if (!Hand(&target)) return kKwFetchNotWritten;
  return length;
}

std::vector<std::string> KwAddressesOf(const PackageEntry& e) {
  std::vector<std::string> all;
  if (e.url[0] != '\0') all.emplace_back(e.url);
  for (int i = 0; i < e.mirrorCount && i < PackageEntry::kMaxMirrors; ++i) {
    if (e.mirrors[i][0] != '\0') all.emplace_back(e.mirrors[i]);
  }
  return all;
}

std::string KwAddressOrigin(const char* url) {
  std::string origin = url != nullptr ? url : "";
  const size_t scheme = origin.find("://");
  const size_t path = origin.find_first_of("/?#", scheme == std::string::npos ? 0 : scheme + 3);
  if (path != std::string::npos) origin.resize(path);
  for (char& c : origin) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return origin;
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
