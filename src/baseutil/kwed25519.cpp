// Ed25519 over libcrypto's EVP interface; see kwed25519.h.
#include "baseutil/kwed25519.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cctype>
#include <memory>
#include <vector>

#include "baseutil/kwsha256.h"

namespace {

struct KeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};
struct CtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct PkeyCtxFree {
  void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

std::string LibraryError(const char* what) {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  char text[256] = {};
  if (code != 0) ERR_error_string_n(code, text, sizeof(text));
  return code != 0 ? std::string(what) + ": " + text : std::string(what);
}

bool FromHex(const std::string& hex, std::vector<uint8_t>* out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[k])));
      int d = c >= '0' && c <= '9' ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
      if (d < 0) return false;
      v = v * 16 + d;
    }
    out->push_back(static_cast<uint8_t>(v));
  }
  return true;
}

std::string Trim(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
  return text.substr(b, e - b);
}

Key ReadPem(const std::string& pem, bool isPrivate) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return Key();
  EVP_PKEY* key = isPrivate ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr)
                            : PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr);
  if (key != nullptr && EVP_PKEY_id(key) != EVP_PKEY_ED25519) {
    EVP_PKEY_free(key);
    key = nullptr;
  }
  return Key(key);
}

std::string RawPublicHex(EVP_PKEY* key) {
  uint8_t raw[32];
  size_t n = sizeof(raw);
  if (EVP_PKEY_get_raw_public_key(key, raw, &n) != 1 || n != sizeof(raw)) return std::string();
  return KwHexLower(raw, n);
}

std::string WritePem(EVP_PKEY* key, bool isPrivate) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio) return std::string();
  int ok = isPrivate ? PEM_write_bio_PKCS8PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr,
                                                     nullptr)
                     : PEM_write_bio_PUBKEY(bio.get(), key);
  if (ok != 1) return std::string();
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<size_t>(n));
}

}  // namespace

bool KwEd25519Generate(KwEd25519Pair* pair, std::string* error) {
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
  EVP_PKEY* raw = nullptr;
  if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 || EVP_PKEY_keygen(ctx.get(), &raw) != 1) {
    *error = LibraryError("cannot make an Ed25519 key");
    return false;
  }
  Key key(raw);
  pair->privatePem = WritePem(key.get(), true);
  pair->publicPem = WritePem(key.get(), false);
  if (pair->privatePem.empty() || pair->publicPem.empty()) {
    *error = LibraryError("cannot write the key as PEM");
    return false;
  }
  return true;
}

bool KwEd25519Sign(const std::string& privatePem, const std::string& message,
                   std::string* signatureHex, std::string* error) {
  Key key = ReadPem(privatePem, true);
  if (!key) {
    *error = "not an Ed25519 private key in PEM form";
    ERR_clear_error();
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  uint8_t sig[64];
  size_t n = sizeof(sig);
  if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
      EVP_DigestSign(ctx.get(), sig, &n, reinterpret_cast<const uint8_t*>(message.data()),
                     message.size()) != 1 ||
      n != sizeof(sig)) {
    *error = LibraryError("cannot sign");
    return false;
  }
  *signatureHex = KwHexLower(sig, n);
  return true;
}

bool KwEd25519PublicKeyHex(const std::string& keyText, std::string* rawHex, std::string* error) {
  std::string text = Trim(keyText);
  std::vector<uint8_t> raw;
  if (text.size() == 64 && FromHex(text, &raw)) {
    *rawHex = KwHexLower(raw.data(), raw.size());
    return true;
  }
  // A bare base64 body (the PEM without its lines) is wrapped back into PEM.
  if (text.find("-----BEGIN") == std::string::npos) {
    text = "-----BEGIN PUBLIC KEY-----\n" + text + "\n-----END PUBLIC KEY-----\n";
  }
  Key key = ReadPem(text, false);
  ERR_clear_error();
  if (key) *rawHex = RawPublicHex(key.get());
  if (!key || rawHex->empty()) {
    *error = "not an Ed25519 public key";
    return false;
  }
  return true;
}

bool KwEd25519PublicOfPrivate(const std::string& privatePem, std::string* rawHex,
                              std::string* error) {
  Key key = ReadPem(privatePem, true);
  ERR_clear_error();
  if (key) *rawHex = RawPublicHex(key.get());
  if (!key || rawHex->empty()) {
    *error = "not an Ed25519 private key in PEM form";
    return false;
  }
  return true;
}

bool KwEd25519Verify(const std::string& rawHex, const std::string& message,
                     const std::string& signatureHex) {
  std::vector<uint8_t> raw, sig;
  if (!FromHex(rawHex, &raw) || raw.size() != 32) return false;
  if (!FromHex(signatureHex, &sig) || sig.size() != 64) return false;
  Key key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw.data(), raw.size()));
  std::unique_ptr<EVP_MD_CTX, CtxFree> ctx(EVP_MD_CTX_new());
  bool ok = key && ctx &&
            EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, key.get()) == 1 &&
            EVP_DigestVerify(ctx.get(), sig.data(), sig.size(),
                             reinterpret_cast<const uint8_t*>(message.data()), message.size()) == 1;
  ERR_clear_error();
  return ok;
}

std::string KwEd25519KeyId(const std::string& rawHex) {
  std::vector<uint8_t> raw;
  if (!FromHex(rawHex, &raw)) return std::string();
  return KwSha256Hex(raw.data(), raw.size()).substr(0, 16);
}
