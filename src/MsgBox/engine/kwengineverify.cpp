// KwVolumeVerifier; see kwengineverify.h.
#include "MsgBox/engine/kwengineverify.h"

#include <fcntl.h>
#include <unistd.h>

#include <strings.h>

#include <algorithm>
#include <cerrno>

namespace {
// Small enough to stay in the second-level cache while both sums run over it.
constexpr int64_t kPiece = 256 * 1024;
}  // namespace

KwVolumeVerifier::~KwVolumeVerifier() {
  Close();
}

void KwVolumeVerifier::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void KwVolumeVerifier::Start(const std::string& path, bool withSha256) {
  Close();
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  failed_ = fd_ < 0;
  withSha_ = withSha256;
  position_ = 0;
  sum_ = KwVolumeChecksum();
  sha_.Reset();
  if (!buffer_) buffer_.reset(new char[kPiece]);
}

bool KwVolumeVerifier::Advance(int64_t end, int64_t budget) {
  while (!failed_ && position_ < end && budget > 0) {
    int64_t want = std::min({end - position_, kPiece, budget});
    ssize_t n = ::pread(fd_, buffer_.get(), static_cast<size_t>(want), position_);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
      break;
    }
    sum_.Update(buffer_.get(), static_cast<size_t>(n));
    if (withSha_) sha_.Update(buffer_.get(), static_cast<size_t>(n));
    position_ += n;
    budget -= n;
  }
  return !failed_;
}

std::string KwVolumeVerifier::ChecksumHex() const {
  return failed_ ? std::string() : sum_.Hex();
}

std::string KwVolumeVerifier::Sha256Hex() {
  return failed_ || !withSha_ ? std::string() : sha_.FinalHex();
}

void KwStreamDigest::Reset() {
  length_ = 0;
  sum_ = KwVolumeChecksum();
  sha_.Reset();
}

void KwStreamDigest::Update(const char* data, int64_t length) {
  if (length <= 0) return;
  sum_.Update(data, static_cast<size_t>(length));
  sha_.Update(data, static_cast<size_t>(length));
  length_ += length;
}

bool KwStreamDigest::Matches(const PackageEntry& listed, std::string* why) {
  if (listed.checksum[0] == '\0') {
    *why = "no checksum listed";
    return false;
  }
  if (length_ != listed.length) {
    *why = "length " + std::to_string(length_) + " instead of " + std::to_string(listed.length);
    return false;
  }
  if (strcasecmp(sum_.Hex().c_str(), listed.checksum) != 0) {
    *why = "checksum differs";
    return false;
  }
  if (listed.sha256[0] != '\0' && strcasecmp(sha_.FinalHex().c_str(), listed.sha256) != 0) {
    *why = "SHA-256 differs";
    return false;
  }
  return true;
}
