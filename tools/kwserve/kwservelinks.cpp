#include "kwservelinks.h"

#include <openssl/evp.h>

#include <cstring>

#include "tool/http/kwjsonaccess.h"

namespace {

std::string Base64UrlNoPadding(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) out += kDigits[(v >> shift) & 63];
  }
  if (size - i == 1) {
    uint32_t v = bytes[i] << 16;
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
  } else if (size - i == 2) {
    uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
  }
  return out;
}

// Length of "scheme://host[:port]" in an address checked by KwCheckFilesUrl.
size_t AuthorityEnd(const std::string& base) {
  size_t start = base.find("://") + 3;
  size_t slash = base.find('/', start);
  return slash == std::string::npos ? base.size() : slash;
}

}  // namespace

std::string KwSecureLinkHash(int64_t expires, const std::string& path, const std::string& secret) {
  std::string text = std::to_string(expires) + path + " " + secret;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1) return "";
  return Base64UrlNoPadding(digest, size);
}

std::string KwSecureLinkAddress(const std::string& base, const std::string& name,
                                const std::string& secret, int64_t expires) {
  std::string root = base;
  while (!root.empty() && root.back() == '/') root.pop_back();
  // The file server compares the path with escapes decoded: the base's own
  // path holds none (KwCheckFilesUrl) and the name is hashed as it is.
  std::string path = root.substr(AuthorityEnd(root)) + "/" + name;
  std::string address = root + "/" + KwUrlEncodeValue(name);
  return address + "?md5=" + KwSecureLinkHash(expires, path, secret) +
         "&expires=" + std::to_string(expires);
}

std::string KwCheckFilesUrl(const std::string& base) {
  size_t scheme = base.find("://");
  if (scheme == std::string::npos ||
      (base.compare(0, scheme, "http") != 0 && base.compare(0, scheme, "https") != 0)) {
    return "must begin with http:// or https://";
  }
  if (AuthorityEnd(base) == scheme + 3) return "has no host";
  if (base.find_first_of("?#") != std::string::npos) return "must not have a query or fragment";
  if (base.find('%') != std::string::npos) return "must not hold percent-escapes";
  for (unsigned char c : base) {
    if (c <= 0x20 || c >= 0x7F) return "must not contain blanks or control characters";
  }
  return "";
}

std::string KwCheckLinkSecret(const std::string& secret) {
  if (secret.empty()) return "is empty";
  for (unsigned char c : secret) {
    if (c <= 0x20 || c >= 0x7F || std::strchr("\"'\\$;{}", c) != nullptr) {
      return "may hold only printable characters other than blanks and \"'\\$;{}";
    }
  }
  return "";
}
