// The verify pass of a downloaded volume: one read of the volume file, in
// order, that sums the designed checksum and, when the server lists one, the
// SHA-256 together.  While the rest of the volume is still arriving, a thread
// of the engine advances it over the part of the file the writer has
// finished, so by the time the last segment lands little is left to read.
// One thread at a time; the owner hands it over by starting and joining.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "baseutil/kwsha256.h"
#include "tool/http/kwpackageentry.h"
#include "tool/makepackage/kwpkgchecksum.h"

class KwVolumeVerifier {
 public:
  KwVolumeVerifier() = default;
  ~KwVolumeVerifier();
  KwVolumeVerifier(const KwVolumeVerifier&) = delete;
  KwVolumeVerifier& operator=(const KwVolumeVerifier&) = delete;

  // Starts over for the file at `path`; `withSha256` adds the digest.
  void Start(const std::string& path, bool withSha256);
  // Reads and sums the bytes from where the pass stands up to `end`, at most
  // `budget` bytes in this call (so a caller can keep polling).  False when
  // the file cannot be read there; the pass has then failed for good.
  bool Advance(int64_t end, int64_t budget = INT64_MAX);
  int64_t position() const { return position_; }
  bool failed() const { return failed_; }
  // The results once the pass has reached the file's end; empty when failed.
  std::string ChecksumHex() const;
  std::string Sha256Hex();

 private:
  void Close();

  int fd_ = -1;
  bool failed_ = false;
  bool withSha_ = false;
  int64_t position_ = 0;
  KwVolumeChecksum sum_;
  KwSha256 sha_;
  std::unique_ptr<char[]> buffer_;
};

// The same sums over a volume that arrives as a stream (read from the
// install server while it is unpacked): bytes are added in order, and at the
// volume's end the length and sums are compared with the volume's signed
// listing.  Nothing unpacked from the volume may be moved into place before
// Matches() said yes.
class KwStreamDigest {
 public:
  void Reset();
  void Update(const char* data, int64_t length);
  int64_t length() const { return length_; }
  // True when the bytes added are exactly the listed volume: its length,
  // its checksum (letter case ignored) and, when listed, its SHA-256.  A
  // listing without a checksum cannot vouch for anything and fails.
  // `why` names the first mismatch.
  bool Matches(const PackageEntry& listed, std::string* why);

 private:
  int64_t length_ = 0;
  KwVolumeChecksum sum_;
  KwSha256 sha_;
};
