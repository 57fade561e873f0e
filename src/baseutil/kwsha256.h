// SHA-256 for the installer's integrity checks: a running digest that can be
// fed a volume in pieces of any size, so it rides along with the lane sum in
// whatever single pass reads or writes the bytes.  Backed by libcrypto; no
// caller sees an OpenSSL type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class KwSha256 {
 public:
  KwSha256();
  ~KwSha256();
  KwSha256(const KwSha256&) = delete;
  KwSha256& operator=(const KwSha256&) = delete;

  // Starts over, forgetting every byte fed so far.
  void Reset();
  void Update(const void* data, size_t size);
  // The digest of everything fed since the last reset, as 64 lower-case hex
  // digits; the empty string when the library failed.  Ends the digest:
  // feed more only after Reset.
  std::string FinalHex();
  // The 32 raw bytes; false when the library failed.
  bool Final(uint8_t out[32]);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// One-shot digest of a buffer, lower-case hex.
std::string KwSha256Hex(const void* data, size_t size);

// Lower-case hex of `size` bytes.
std::string KwHexLower(const uint8_t* data, size_t size);

// True for exactly 64 hex digits (either case).
bool KwIsSha256Hex(const std::string& text);
