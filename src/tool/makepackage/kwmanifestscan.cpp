// Scanning volumes into a manifest; see kwmanifestscan.h.
#include "tool/makepackage/kwmanifestscan.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "baseutil/kwfilehelpers.h"
#include "baseutil/kwsha256.h"
#include "tool/makepackage/kwinflater.h"
#include "tool/makepackage/kwmanifestbuilder.h"
#include "tool/makepackage/kwpkgformat.h"

using namespace kwpkg;

namespace {

bool ReadAt(int fd, int64_t offset, uint8_t* buf, size_t n) {
  return KwReadFullyAt(fd, offset, buf, n);
}

}  // namespace

int KwScanVolumes(const std::vector<std::string>& paths, KwManifest* out, std::string* error) {
  KwManifestBuilder builder;
  std::unique_ptr<KwInflater> inflater = KwMakeInflater(KwInflaterKind::kLibdeflate);
  std::unique_ptr<uint8_t[]> record(new uint8_t[kMaxCompressedChunk]);
  std::unique_ptr<uint8_t[]> plain(new uint8_t[kChunkSize]);
  for (size_t v = 0; v < paths.size(); ++v) {
    const int fd = ::open(paths[v].c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *error = "cannot open " + paths[v] + ": " + std::strerror(errno);
      return -1;
    }
    const int64_t length = ::lseek(fd, 0, SEEK_END);
    uint8_t header[kVolumeHeaderSize];
    if (length < kVolumeHeaderSize || !ReadAt(fd, 0, header, sizeof(header)) ||
        !HasVolumeMagic(header, sizeof(header))) {
      ::close(fd);
      *error = "not a package volume: " + paths[v];
      return -1;
    }
    builder.OnVolume(static_cast<uint32_t>(v), length);
    int64_t at = kVolumeHeaderSize;
    std::string why;
    while (at < length && why.empty()) {
      uint8_t head[kRecordHeaderSize];
      if (!ReadAt(fd, at, head, sizeof(head))) {
        why = "a record header runs past the end";
        break;
      }
      const int32_t type = static_cast<int32_t>(GetU32(head));
      const int32_t size = static_cast<int32_t>(GetU32(head + 4));
      const bool fits =
          size >= 0 && size <= kMaxCompressedChunk && at + kRecordHeaderSize + size <= length;
      if (!fits || (type != kRecordData && size != kDescriptorSize) ||
          (type != kRecordBegin && type != kRecordData && type != kRecordEnd)) {
        why = "malformed record";
        break;
      }
      if (!ReadAt(fd, at + kRecordHeaderSize, record.get(), static_cast<size_t>(size))) {
        why = "cannot read a record";
        break;
      }
      if (type == kRecordBegin) {
        builder.OnBegin(record.get());
      } else if (type == kRecordEnd) {
        builder.OnEnd();
      } else {
        const KwInflateResult r =
            inflater->Inflate(record.get(), static_cast<size_t>(size), plain.get(), kChunkSize);
        if (r.verdict != KwInflateResult::kOk) {
          why = "a chunk does not inflate";
          break;
        }
        KwSha256 sha;
        sha.Update(plain.get(), r.produced);
        uint8_t digest[32];
        sha.Final(digest);
        builder.OnData(static_cast<uint32_t>(v), at,
                       static_cast<uint32_t>(size + kRecordHeaderSize),
                       static_cast<uint32_t>(r.produced), digest);
      }
      at += kRecordHeaderSize + size;
    }
    ::close(fd);
    if (!why.empty()) {
      *error = paths[v] + ": " + why + " at offset " + std::to_string(at);
      return -1;
    }
  }
  if (!builder.Complete()) {
    *error = "the package ends inside a file or a file lacks pieces";
    return -1;
  }
  *out = builder.manifest();
  return KwManifestConsistent(*out, error) ? 0 : -1;
}

std::string KwManifestDifference(const KwManifest& a, const KwManifest& b) {
  if (a.volumeLengths != b.volumeLengths) return "the volume lengths differ";
  if (a.files.size() != b.files.size())
    return "the manifest lists " + std::to_string(a.files.size()) + " files, the volumes hold " +
           std::to_string(b.files.size());
  for (size_t i = 0; i < a.files.size(); ++i) {
    const KwManifestFile& x = a.files[i];
    const KwManifestFile& y = b.files[i];
    if (x.name != y.name || x.size != y.size || x.mtimeMs != y.mtimeMs)
      return "file " + std::to_string(i) + " differs: " + x.name + " / " + y.name;
    if (x.pieces.size() != y.pieces.size()) return "the pieces of " + x.name + " differ";
    for (size_t k = 0; k < x.pieces.size(); ++k) {
      const KwManifestPiece& p = x.pieces[k];
      const KwManifestPiece& q = y.pieces[k];
      if (p.length != q.length || std::memcmp(p.sha256, q.sha256, 32) != 0 ||
          p.volume != q.volume || p.recordOffset != q.recordOffset ||
          p.recordLength != q.recordLength)
        return "piece " + std::to_string(k) + " of " + x.name + " differs";
    }
  }
  return "";
}
