// How the download workers fetch: a ranged GET whose body goes straight into
// a buffer of the engine's pool, checked to be exactly the range asked for;
// and, for a file server that ignores byte ranges, one GET of the whole
// volume handed on in order to whoever writes it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "network/http/ikwhttpclient.h"
#include "platform/kwlargebuffer.h"
#include "tool/http/kwpackageentry.h"

// Failures of a fetch beside the unbound library (-1).
inline constexpr int32_t kKwFetchRefused = -2;      // not the answer asked for, or broken
inline constexpr int32_t kKwFetchWholeFile = -3;    // 200 to a ranged request: whole files only
inline constexpr int32_t kKwFetchWrongLength = -4;  // a whole answer of another length
inline constexpr int32_t kKwFetchNotWritten = -5;   // the writer refused a piece

// Reads `length` bytes at `offset` of `url` into `dest` (room for `length`).
// Returns `length`, kKwFetchWholeFile when the server answered with the whole
// file (status 200) instead of the range, or another negative value when the
// answer was not exactly that range (an error status, a short or long body,
// another range, an aborted or broken transfer); `dest` is then meaningless.
// The answer is judged on its first body byte, so `progress` hears only of
// bytes of the right range, never of an answer that is thrown away.
int32_t KwFetchSegment(const char* url, int64_t offset, int32_t length, char* dest,
                       CKWHttpWithCurl::ProgressFn progress, void* progressContext,
                       CKWHttpWithCurl::AbortFn abort, void* abortContext);

// Takes `count` bytes of a whole volume at `offset`, in order; false when
// they cannot be kept (the fetch then ends with kKwFetchNotWritten).
typedef bool (*KwVolumePieceFn)(void* context, int64_t offset, const char* data, int32_t count);

// Reads all of `url` (no range asked; redirects followed) and hands it to
// `write` in pieces of up to a megabyte, from byte 0 on.  Returns `length`
// when the answer was a 200 of exactly `length` bytes; kKwFetchWrongLength
// when it declared or brought another length (`*served` then says how many
// bytes it declared or brought, at least); kKwFetchNotWritten; or another
// negative value for an error status or a broken transfer.  Bytes beyond
// `length` are never handed on.
int64_t KwFetchWholeVolume(const char* url, int64_t length, KwVolumePieceFn write,
                           void* writeContext, CKWHttpWithCurl::AbortFn abort, void* abortContext,
                           int64_t* served);

// Every address of a volume: its url first, then its mirrors.
std::vector<std::string> KwAddressesOf(const PackageEntry& e);

// "scheme://host:port" of an address (the part before its path), lower case;
// the file server a download address belongs to.
std::string KwAddressOrigin(const char* url);

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
