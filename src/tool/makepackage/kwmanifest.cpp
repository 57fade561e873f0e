// The release manifest's bytes; see kwmanifest.h.
#include "tool/makepackage/kwmanifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "baseutil/kwsha256.h"
#include "platform/kwatomicfile.h"
#include "tool/makepackage/kwpkgformat.h"

using namespace kwmanifest;

namespace {

void PutU16(std::string* out, uint16_t v) {
  out->push_back(static_cast<char>(v & 0xff));
  out->push_back(static_cast<char>(v >> 8));
}
void PutU32(std::string* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutI64(std::string* out, int64_t v) {
  const uint64_t u = static_cast<uint64_t>(v);
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<char>((u >> (8 * i)) & 0xff));
}

uint64_t GetLe(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// Reads the body front to back; every Take fails once the body is used up.
class BodyCursor {
 public:
  BodyCursor(const uint8_t* data, size_t size) : m_p(data), m_left(size) {}
  bool Take(int n, uint64_t* v) {
    if (m_left < static_cast<size_t>(n)) return false;
    *v = GetLe(m_p, n);
    m_p += n;
    m_left -= static_cast<size_t>(n);
    return true;
  }
  bool Bytes(size_t n, const uint8_t** at) {
    if (m_left < n) return false;
    *at = m_p;
    m_p += n;
    m_left -= n;
    return true;
  }
  size_t left() const { return m_left; }

 private:
  const uint8_t* m_p;
  size_t m_left;
};

// Smallest encoded sizes, so a count can be checked against the bytes left
// before anything is reserved for it.
constexpr size_t kPieceBytes = 4 + 32 + 4 + 8 + 4;
constexpr size_t kMinFileBytes = 2 + 1 + 8 + 8 + 4;

bool ParseBody(const uint8_t* data, size_t size, KwManifest* out, std::string* error) {
  BodyCursor c(data, size);
  uint64_t count = 0;
  if (!c.Take(4, &count) || count > c.left() / 8 || count > kwpkg::kMaxVolumes) {
    *error = "bad volume count";
    return false;
  }
  KwManifest m;
  m.volumeLengths.resize(count);
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t v = 0;
    c.Take(8, &v);
    m.volumeLengths[i] = static_cast<int64_t>(v);
  }
  if (!c.Take(4, &count) || count > c.left() / kMinFileBytes) {
    *error = "bad file count";
    return false;
  }
  m.files.resize(count);
  for (KwManifestFile& f : m.files) {
    uint64_t nameLength = 0;
    const uint8_t* name = nullptr;
    if (!c.Take(2, &nameLength) || !c.Bytes(nameLength, &name)) {
      *error = "a file name runs past the end";
      return false;
    }
    f.name.assign(reinterpret_cast<const char*>(name), nameLength);
    uint64_t mtime = 0, fileSize = 0, pieces = 0;
    if (!c.Take(8, &mtime) || !c.Take(8, &fileSize) || !c.Take(4, &pieces) ||
        pieces > c.left() / kPieceBytes) {
      *error = "a file entry runs past the end: " + f.name;
      return false;
    }
    f.mtimeMs = static_cast<int64_t>(mtime);
    f.size = static_cast<int64_t>(fileSize);
    f.pieces.resize(pieces);
    for (KwManifestPiece& p : f.pieces) {
      uint64_t length = 0, volume = 0, offset = 0, recordLength = 0;
      const uint8_t* sha = nullptr;
      c.Take(4, &length);
      c.Bytes(32, &sha);
      c.Take(4, &volume);
      c.Take(8, &offset);
      c.Take(4, &recordLength);
      p.length = static_cast<uint32_t>(length);
      std::memcpy(p.sha256, sha, 32);
      p.volume = static_cast<uint32_t>(volume);
      p.recordOffset = static_cast<int64_t>(offset);
      p.recordLength = static_cast<uint32_t>(recordLength);
    }
  }
  if (c.left() != 0) {
    *error = "bytes left after the last file";
    return false;
  }
  if (!KwManifestConsistent(m, error)) return false;
  *out = std::move(m);
  return true;
}

}  // namespace

int64_t KwManifest::ContentBytes() const {
  int64_t sum = 0;
  for (const KwManifestFile& f : files) sum += f.size;
  return sum;
}

int64_t KwManifest::PackageBytes() const {
  int64_t sum = 0;
  for (int64_t v : volumeLengths) sum += v;
  return sum;
}

bool KwManifestConsistent(const KwManifest& m, std::string* error) {
  if (m.volumeLengths.size() > static_cast<size_t>(kwpkg::kMaxVolumes)) {
    *error = "more volumes than a package may have";
    return false;
  }
  for (int64_t v : m.volumeLengths) {
    if (v < kwpkg::kVolumeHeaderSize) {
      *error = "a volume shorter than its header";
      return false;
    }
  }
  for (const KwManifestFile& f : m.files) {
    std::string why;
    if (f.name.size() > static_cast<size_t>(kwpkg::kMaxNameLength) ||
        f.name.find('\0') != std::string::npos || !kwpkg::IsSafeStoredName(f.name.c_str(), &why)) {
      *error = "unsafe file name: " + f.name;
      return false;
    }
    if (f.size < 0) {
      *error = "negative size: " + f.name;
      return false;
    }
    int64_t sum = 0;
    for (const KwManifestPiece& p : f.pieces) {
      if (p.length == 0 || p.length > static_cast<uint32_t>(kwpkg::kChunkSize)) {
        *error = "a piece of impossible length in " + f.name;
        return false;
      }
      if (p.volume >= m.volumeLengths.size() || p.recordOffset < kwpkg::kVolumeHeaderSize ||
          p.recordLength <= static_cast<uint32_t>(kwpkg::kRecordHeaderSize) ||
          p.recordLength > static_cast<uint32_t>(kwpkg::kMaxRecordSize) ||
          p.recordOffset > m.volumeLengths[p.volume] - static_cast<int64_t>(p.recordLength)) {
        *error = "a piece of " + f.name + " lies outside its volume";
        return false;
      }
      sum += p.length;
    }
    if (sum != f.size) {
      *error = "the pieces of " + f.name + " do not add up to its size";
      return false;
    }
  }
  return true;
}

std::string KwEncodeManifest(const KwManifest& m) {
  std::string body;
  PutU32(&body, static_cast<uint32_t>(m.volumeLengths.size()));
  for (int64_t v : m.volumeLengths) PutI64(&body, v);
  PutU32(&body, static_cast<uint32_t>(m.files.size()));
  for (const KwManifestFile& f : m.files) {
    PutU16(&body, static_cast<uint16_t>(f.name.size()));
    body += f.name;
    PutI64(&body, f.mtimeMs);
    PutI64(&body, f.size);
    PutU32(&body, static_cast<uint32_t>(f.pieces.size()));
    for (const KwManifestPiece& p : f.pieces) {
      PutU32(&body, p.length);
      body.append(reinterpret_cast<const char*>(p.sha256), 32);
      PutU32(&body, p.volume);
      PutI64(&body, p.recordOffset);
      PutU32(&body, p.recordLength);
    }
  }
  uLongf packed = compressBound(static_cast<uLong>(body.size()));
  std::string z(packed, '\0');
  compress2(reinterpret_cast<Bytef*>(&z[0]), &packed, reinterpret_cast<const Bytef*>(body.data()),
            static_cast<uLong>(body.size()), 9);
  z.resize(packed);
  std::string out;
  PutU32(&out, kMagic);
  PutU32(&out, kVersion);
  PutI64(&out, static_cast<int64_t>(body.size()));
  PutI64(&out, static_cast<int64_t>(z.size()));
  out += z;
  KwSha256 sha;
  sha.Update(out.data(), out.size());
  uint8_t digest[32] = {};
  sha.Final(digest);
  out.append(reinterpret_cast<const char*>(digest), sizeof(digest));
  return out;
}

// ---- the push reader ------------------------------------------------------

struct KwManifestReader::Impl {
  enum Stage { kHeader, kBody, kTrailer, kDone, kFailed };
  Stage stage = kHeader;
  uint8_t header[kHeaderSize] = {};
  size_t headerFill = 0;
  uint64_t bodyLength = 0;
  uint64_t packedLength = 0;
  uint64_t packedSeen = 0;
  z_stream zs{};
  bool zOpen = false;
  bool zEnded = false;
  std::string body;
  uint8_t trailer[kTrailerSize] = {};
  size_t trailerFill = 0;
  KwSha256 sha;

  ~Impl() {
    if (zOpen) inflateEnd(&zs);
  }
};

KwManifestReader::KwManifestReader() : m_impl(new Impl) {}
KwManifestReader::~KwManifestReader() = default;

int KwManifestReader::Refuse(const std::string& why) {
  if (m_error.empty()) m_error = why;
  m_impl->stage = Impl::kFailed;
  m_impl->body.clear();
  m_impl->body.shrink_to_fit();
  return -1;
}

int KwManifestReader::Put(const uint8_t* data, size_t size) {
  Impl& s = *m_impl;
  while (size > 0) {
    switch (s.stage) {
      case Impl::kFailed:
        return -1;
      case Impl::kDone:
        return Refuse("bytes after the manifest's checksum");
      case Impl::kHeader: {
        const size_t take = std::min(size, kHeaderSize - s.headerFill);
        std::memcpy(s.header + s.headerFill, data, take);
        s.sha.Update(data, take);
        s.headerFill += take;
        data += take;
        size -= take;
        if (s.headerFill < kHeaderSize) break;
        if (GetLe(s.header, 4) != kMagic) return Refuse("not a manifest (bad magic)");
        if (GetLe(s.header + 4, 4) != kVersion)
          return Refuse("manifest format version " + std::to_string(GetLe(s.header + 4, 4)) +
                        " is not known");
        s.bodyLength = GetLe(s.header + 8, 8);
        s.packedLength = GetLe(s.header + 16, 8);
        if (s.bodyLength > static_cast<uint64_t>(kMaxBodySize) ||
            s.packedLength > static_cast<uint64_t>(kMaxBodySize) || s.packedLength == 0)
          return Refuse("manifest lengths out of range");
        if (inflateInit(&s.zs) != Z_OK) return Refuse("out of memory");
        s.zOpen = true;
        s.stage = Impl::kBody;
        break;
      }
      case Impl::kBody: {
        const size_t take =
            static_cast<size_t>(std::min<uint64_t>(size, s.packedLength - s.packedSeen));
        s.sha.Update(data, take);
        s.zs.next_in = const_cast<Bytef*>(data);
        s.zs.avail_in = static_cast<uInt>(take);
        while (s.zs.avail_in > 0) {
          if (s.zEnded) return Refuse("bytes after the body's zlib stream");
          uint8_t out[65536];
          s.zs.next_out = out;
          s.zs.avail_out = sizeof(out);
          const int rc = inflate(&s.zs, Z_NO_FLUSH);
          if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return Refuse("the manifest body does not inflate");
          const size_t made = sizeof(out) - s.zs.avail_out;
          if (s.body.size() + made > s.bodyLength)
            return Refuse("the manifest body is longer than declared");
          s.body.append(reinterpret_cast<char*>(out), made);
          if (rc == Z_STREAM_END) s.zEnded = true;
          if (rc == Z_BUF_ERROR && made == 0) break;
        }
        s.packedSeen += take;
        data += take;
        size -= take;
        if (s.packedSeen == s.packedLength) {
          // The stream may still hold output that fits no earlier call.
          while (!s.zEnded) {
            uint8_t out[65536];
            s.zs.next_in = nullptr;
            s.zs.avail_in = 0;
            s.zs.next_out = out;
            s.zs.avail_out = sizeof(out);
            const int rc = inflate(&s.zs, Z_FINISH);
            const size_t made = sizeof(out) - s.zs.avail_out;
            if (s.body.size() + made > s.bodyLength)
              return Refuse("the manifest body is longer than declared");
            s.body.append(reinterpret_cast<char*>(out), made);
            if (rc == Z_STREAM_END)
              s.zEnded = true;
            else if (made == 0)
              return Refuse("the manifest body's zlib stream is cut short");
          }
          if (s.body.size() != s.bodyLength)
            return Refuse("the manifest body is shorter than declared");
          s.stage = Impl::kTrailer;
        }
        break;
      }
      case Impl::kTrailer: {
        const size_t take = std::min(size, kTrailerSize - s.trailerFill);
        std::memcpy(s.trailer + s.trailerFill, data, take);
        s.trailerFill += take;
        data += take;
        size -= take;
        if (s.trailerFill == kTrailerSize) {
          uint8_t digest[32];
          if (!s.sha.Final(digest) || std::memcmp(digest, s.trailer, 32) != 0)
            return Refuse("the manifest's checksum does not hold");
          s.stage = Impl::kDone;
        }
        break;
      }
    }
  }
  return s.stage == Impl::kFailed ? -1 : 0;
}

int KwManifestReader::Finish(KwManifest* out) {
  Impl& s = *m_impl;
  if (s.stage == Impl::kFailed) return -1;
  if (s.stage != Impl::kDone) return Refuse("the manifest is cut short");
  std::string why;
  if (!ParseBody(reinterpret_cast<const uint8_t*>(s.body.data()), s.body.size(), out, &why))
    return Refuse(why);
  return 0;
}

int KwParseManifest(const uint8_t* data, size_t size, KwManifest* out, std::string* error) {
  KwManifestReader reader;
  if (reader.Put(data, size) != 0 || reader.Finish(out) != 0) {
    if (error != nullptr) *error = reader.Error();
    return -1;
  }
  return 0;
}

int KwLoadManifestFile(const std::string& path, KwManifest* out, std::string* bytes,
                       std::string* error, int64_t maxBytes) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return 1;
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxBytes) {
    ::close(fd);
    *error = path + " is not a manifest file of a sensible size";
    return -1;
  }
  std::string data(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < data.size()) {
    const ssize_t r = ::read(fd, &data[got], data.size() - got);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got += static_cast<size_t>(r);
  }
  ::close(fd);
  data.resize(got);
  std::string why;
  if (KwParseManifest(reinterpret_cast<const uint8_t*>(data.data()), data.size(), out, &why) != 0) {
    *error = path + ": " + why;
    return -1;
  }
  if (bytes != nullptr) *bytes = std::move(data);
  return 0;
}

int KwWriteFileAtomically(const std::string& path, const std::string& bytes) {
  // A fresh name, never through a link, renamed over `path` when complete.
  return KwReplaceFileAtomic(path, bytes, 0644) == 0 ? 0 : -1;
}
