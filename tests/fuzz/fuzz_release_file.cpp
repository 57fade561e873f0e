// release.json as the tools read it: any text is read or refused with a
// reason, and a release read, written and read again stays the same, so a
// signature made over what was read holds over what is written.
#include <string>

#include "fuzzkit.h"
#include "tool/makepackage/kwrelease.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  KwRelease release;
  std::string error;
  if (KwParseRelease(text, &release, &error) != 0) {
    KW_FUZZ_CHECK(!error.empty());
    return 0;
  }
  const std::string written = KwBuildReleaseJson(release);
  KwRelease again;
  KW_FUZZ_CHECK(KwParseRelease(written, &again, &error) == 0);
  KW_FUZZ_CHECK(KwBuildReleaseJson(again) == written);
  const KwReleaseSignature& s = release.signature;
  KW_FUZZ_CHECK(
      KwReleaseMessage(release.version, release.buildtime, s.expires, release.volumes) ==
      KwReleaseMessage(again.version, again.buildtime, again.signature.expires, again.volumes));
  return 0;
}
