// KwInflater: inflates one chunk record (a complete zlib stream) into a
// caller's buffer of bounded size, the whole stream in one call.
//
// Two inflaters read the same streams: libdeflate, the fast one the unpacker
// uses, and zlib, the reference whose verdicts the unpacker has always
// reported.  Both give the same bytes and the same verdict on every stream;
// the libdeflate inflater hands any stream it rejects to zlib, so the reason
// (and the code in the log) of a bad chunk stays what zlib says.  One
// inflater belongs to one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

enum class KwInflaterKind { kLibdeflate, kZlib };

// The verdict on one chunk.  `code` is zlib's result code (0 when inflated).
struct KwInflateResult {
  enum Verdict { kOk, kTooLong, kBad };
  Verdict verdict = kBad;
  int code = 0;
  size_t produced = 0;  // Inflated bytes; 0 unless kOk.
};

class KwInflater {
 public:
  virtual ~KwInflater() = default;
  // Inflates `length` bytes at `in` into `out`, which holds `capacity` bytes.
  // kTooLong: the stream would inflate beyond `capacity`; kBad: anything else
  // wrong (damaged, truncated, wrong Adler-32 trailer, not a zlib stream).
  virtual KwInflateResult Inflate(const uint8_t* in, size_t length, uint8_t* out,
                                  size_t capacity) = 0;
};

// Returns a new inflater of `kind`; never null.
std::unique_ptr<KwInflater> KwMakeInflater(KwInflaterKind kind);
// "libdeflate" or "zlib"; parses the same names (false for anything else).
const char* KwInflaterName(KwInflaterKind kind);
bool KwParseInflaterName(const char* name, KwInflaterKind* kind);
