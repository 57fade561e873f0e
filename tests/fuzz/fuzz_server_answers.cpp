// The install server's version and download-address answers as the client
// reads them: any body gives one of the documented results, and what an
// accepted answer hands out fits the fields it goes into.
#include <cstring>
#include <string>
#include <vector>

#include "fuzzkit.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwhttpdatacheck.h"

namespace {

bool Terminated(const char* field, size_t size) {
  return std::memchr(field, 0, size) != nullptr;
}

bool HexOrEmpty(const char* text) {
  size_t n = std::strlen(text);
  if (n == 0) return true;
  if (n != 64) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* body = reinterpret_cast<const char*>(data);
  CKWDownloadUtilFor util;
  char version[80];
  std::memset(version, 'x', sizeof(version));
  std::vector<PackageEntry> entries;
  const int got = util.ReadVersionAnswer(body, size, version, sizeof(version), entries);
  KW_FUZZ_CHECK(got <= 0 && got >= -4);
  if (got == 0) {
    KW_FUZZ_CHECK(Terminated(version, sizeof(version)));
    KW_FUZZ_CHECK(entries.size() == util.volumes().size());
    for (const PackageEntry& e : entries) {
      KW_FUZZ_CHECK(Terminated(e.key, sizeof(e.key)));
      KW_FUZZ_CHECK(Terminated(e.checksum, sizeof(e.checksum)));
      KW_FUZZ_CHECK(HexOrEmpty(e.sha256));
    }
  } else {
    KW_FUZZ_CHECK(entries.empty());
  }

  PackageEntry entry;
  std::snprintf(entry.key, sizeof(entry.key), "packages/V_000.tmp");
  const int address = util.ReadDownloadUrlAnswer(body, size, entry);
  KW_FUZZ_CHECK(address <= 0 && address >= -3);
  if (address == 0) {
    KW_FUZZ_CHECK(entry.url[0] != '\0');
    KW_FUZZ_CHECK(Terminated(entry.url, sizeof(entry.url)));
  } else {
    KW_FUZZ_CHECK(entry.url[0] == '\0');
  }
  return 0;
}
