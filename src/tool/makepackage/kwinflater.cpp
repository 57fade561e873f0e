#include "tool/makepackage/kwinflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <cstring>

namespace {

KwInflateResult ZlibInflate(const uint8_t* in, size_t length, uint8_t* out, size_t capacity) {
  KwInflateResult r;
  uLongf produced = static_cast<uLongf>(capacity);
  r.code = ::uncompress(out, &produced, in, static_cast<uLong>(length));
  if (r.code == Z_OK) {
    r.verdict = KwInflateResult::kOk;
    r.produced = produced;
  } else {
    // uncompress() says Z_BUF_ERROR only when the output is full; a stream
    // that merely ends early comes back as Z_DATA_ERROR.
    r.verdict = r.code == Z_BUF_ERROR ? KwInflateResult::kTooLong : KwInflateResult::kBad;
  }
  return r;
}

class ZlibInflater : public KwInflater {
 public:
  KwInflateResult Inflate(const uint8_t* in, size_t length, uint8_t* out,
                          size_t capacity) override {
    return ZlibInflate(in, length, out, capacity);
  }
};

class LibdeflateInflater : public KwInflater {
 public:
  LibdeflateInflater() : m_d(libdeflate_alloc_decompressor()) {}
  ~LibdeflateInflater() override { libdeflate_free_decompressor(m_d); }
  LibdeflateInflater(const LibdeflateInflater&) = delete;
  LibdeflateInflater& operator=(const LibdeflateInflater&) = delete;

  KwInflateResult Inflate(const uint8_t* in, size_t length, uint8_t* out,
                          size_t capacity) override {
    size_t produced = 0;
    if (m_d != nullptr && libdeflate_zlib_decompress(m_d, in, length, out, capacity, &produced) ==
                              LIBDEFLATE_SUCCESS) {
      KwInflateResult r;
      r.verdict = KwInflateResult::kOk;
      r.produced = produced;
      return r;
    }
    // Only damaged streams come here.  The two libraries notice some damage
    // at different points (libdeflate reads a few bytes of zeros past a cut
    // stream, and may run out of room before it sees the cut), so zlib, which
    // has always judged the chunks, gives the verdict and the logged code.
    return ZlibInflate(in, length, out, capacity);
  }

 private:
  libdeflate_decompressor* m_d;
};

}  // namespace

std::unique_ptr<KwInflater> KwMakeInflater(KwInflaterKind kind) {
  if (kind == KwInflaterKind::kZlib) return std::unique_ptr<KwInflater>(new ZlibInflater);
  return std::unique_ptr<KwInflater>(new LibdeflateInflater);
}

const char* KwInflaterName(KwInflaterKind kind) {
  return kind == KwInflaterKind::kZlib ? "zlib" : "libdeflate";
}

bool KwParseInflaterName(const char* name, KwInflaterKind* kind) {
  if (name == nullptr) return false;
  if (std::strcmp(name, "zlib") == 0) {
    *kind = KwInflaterKind::kZlib;
  } else if (std::strcmp(name, "libdeflate") == 0) {
    *kind = KwInflaterKind::kLibdeflate;
  } else {
    return false;
  }
  return true;
}
