// KwSha256 over libcrypto's EVP interface; see kwsha256.h.
#include "baseutil/kwsha256.h"

#include <openssl/evp.h>

struct KwSha256::Impl {
  EVP_MD_CTX* ctx = nullptr;
  bool ok = false;
};

KwSha256::KwSha256() : m_impl(std::make_unique<Impl>()) {
  m_impl->ctx = EVP_MD_CTX_new();
  Reset();
}

KwSha256::~KwSha256() {
  EVP_MD_CTX_free(m_impl->ctx);
}

void KwSha256::Reset() {
  m_impl->ok = m_impl->ctx != nullptr && EVP_DigestInit_ex(m_impl->ctx, EVP_sha256(), nullptr) == 1;
}

void KwSha256::Update(const void* data, size_t size) {
  if (!m_impl->ok || size == 0) return;
  m_impl->ok = EVP_DigestUpdate(m_impl->ctx, data, size) == 1;
}

bool KwSha256::Final(uint8_t out[32]) {
  unsigned int n = 0;
  bool ok = m_impl->ok && EVP_DigestFinal_ex(m_impl->ctx, out, &n) == 1 && n == 32;
  m_impl->ok = false;
  return ok;
}

std::string KwSha256::FinalHex() {
  uint8_t digest[32];
  if (!Final(digest)) return std::string();
  return KwHexLower(digest, sizeof(digest));
}

std::string KwSha256Hex(const void* data, size_t size) {
  KwSha256 sha;
  sha.Update(data, size);
  return sha.FinalHex();
}

std::string KwHexLower(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out(size * 2, '0');
  for (size_t i = 0; i < size; ++i) {
    out[2 * i] = kDigits[data[i] >> 4];
    out[2 * i + 1] = kDigits[data[i] & 15];
  }
  return out;
}

bool KwIsSha256Hex(const std::string& text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}
