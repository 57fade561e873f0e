// The release manifest: what an installer needs to fetch only the pieces of
// a release it does not already hold.  The maker writes it as
// "manifest.kwm" beside release.json; release.json names its length and
// SHA-256, so a signed release covers it.  An installer keeps the manifest
// of the version it installed as "<version>.kwm" beside the version folder.
//
// Per file it carries the stored name, size and modification time, and per
// piece (one data record of the volumes) the piece's uncompressed length,
// the SHA-256 of its uncompressed bytes and where its record lies: volume
// number, the offset of the record's 8-byte header in the volume file and
// the record's whole length, header included.  A piece is therefore fetched
// as one byte range and checked on its own.
//
// File layout, all integers little-endian:
//
//   offset  size  field
//   0       4     magic "KWMF"
//   4       4     format version, 1
//   8       8     body length before compression (at most kMaxBodySize)
//   16      8     compressed length C
//   24      C     the body as one zlib stream (level 9)
//   24 + C  32    SHA-256 of every byte before it
//
// Body:
//   u32 volume count V, then V x i64 volume length
//   u32 file count F, then per file, in package order:
//     u16 name length N (1..511), N name bytes (as in the file descriptor),
//     i64 modification time (ms since 1970), i64 size, u32 piece count P,
//     then P x { u32 length, 32 bytes SHA-256, u32 volume, i64 record offset,
//                u32 record length }
//
// A manifest is accepted only whole: the checksum holds, the body has
// exactly the declared length and is used up exactly, names are safe stored
// names, the pieces of a file add up to its size, and every record lies
// inside its volume.  Plain data and pure functions; no files are touched
// except by the two file helpers at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

inline constexpr const char* kKwManifestFileName = "manifest.kwm";
inline constexpr const char* kKwManifestExtension = ".kwm";

struct KwManifestPiece {
  uint32_t length = 0;  // uncompressed bytes
  uint8_t sha256[32] = {};
  uint32_t volume = 0;        // volume number
  int64_t recordOffset = 0;   // of the record header in the volume file
  uint32_t recordLength = 0;  // header and payload
};

struct KwManifestFile {
  std::string name;  // stored name, begins with "/"
  int64_t mtimeMs = 0;
  int64_t size = 0;
  std::vector<KwManifestPiece> pieces;
};

struct KwManifest {
  std::vector<int64_t> volumeLengths;
  std::vector<KwManifestFile> files;
  // Sum of the piece lengths of every file.
  int64_t ContentBytes() const;
  // Sum of the volume lengths.
  int64_t PackageBytes() const;
};

namespace kwmanifest {
inline constexpr uint32_t kMagic = 0x464D574Bu;  // "KWMF" read as little-endian.
inline constexpr uint32_t kVersion = 1;
inline constexpr int kHeaderSize = 24;
inline constexpr int kTrailerSize = 32;
inline constexpr int64_t kMaxBodySize = int64_t(1) << 30;
}  // namespace kwmanifest

// The manifest's bytes (deterministic: the same manifest gives the same bytes).
std::string KwEncodeManifest(const KwManifest& manifest);

// A push reader: bytes may arrive in pieces of any size.  Put returns 0, or
// -1 once the input cannot be a manifest (Error() says why; later calls
// change nothing).  Finish checks that the manifest ended where it should
// and hands it out.  Memory stays bounded by the declared body length.
class KwManifestReader {
 public:
  KwManifestReader();
  ~KwManifestReader();
  KwManifestReader(const KwManifestReader&) = delete;
  KwManifestReader& operator=(const KwManifestReader&) = delete;

  int Put(const uint8_t* data, size_t size);
  int Finish(KwManifest* out);
  const std::string& Error() const { return m_error; }

 private:
  struct Impl;
  int Refuse(const std::string& why);
  std::unique_ptr<Impl> m_impl;
  std::string m_error;
};

// Parses a whole manifest held in memory.  0, or -1 with a reason in `error`.
int KwParseManifest(const uint8_t* data, size_t size, KwManifest* out, std::string* error);

// Checks the body rules above on an already built manifest (the writer
// uses it too, so it never writes what a reader would refuse).
bool KwManifestConsistent(const KwManifest& manifest, std::string* error);

// Reads and parses the file at `path` (refused when longer than `maxBytes`).
// 0; 1 when there is no such file; -1 with a reason.
int KwLoadManifestFile(const std::string& path, KwManifest* out, std::string* bytes,
                       std::string* error, int64_t maxBytes = int64_t(1) << 31);

// Writes `bytes` to `path` through a temporary file renamed over it.
int KwWriteFileAtomically(const std::string& path, const std::string& bytes);
