// The installer's check of a signed release over any "data" member of a
// version answer.  The seed carries one release signed by the key below;
// whatever the fuzzer changes, an accepted answer must still give the
// engine exactly the signed version and volumes, and nothing is accepted
// after the signature's expiry.
#include <strings.h>

#include <cstdlib>
#include <string>

#include "baseutil/kwjsonread.h"
#include "fuzzkit.h"
#include "tool/http/kwreleasecheck.h"

namespace {

// A key made for these seeds only; its private half signed them and is kept nowhere.
const char kPublicKey[] = "1553b071a52d77c08e87eaae403f00193a843393b3563eb756b1061a799bcba1";
const int64_t kExpires = 4102444800;  // As signed.
const int64_t kNow = 1765281600;

struct Volume {
  int64_t length;
  const char* checksum;
  const char* sha256;
};
const char kVersion[] = "V2.0.0";
const char kBuildtime[] = "2026-12-09T12:00:00Z";
const Volume kVolumes[] = {
    {4000, "ABCDEF0123456789", "7692c3ad3540bb803c020b3aee66cd8887123234ea0c6e7143c0add73ff431ed"},
    {17, "0123456789ABCDEF", "3fc4ccfe745870e2c0d99f71f30ff0656c8dedd41cc1d7d3d376b0dbe685e2f3"},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Json::Value answer;
  if (KwReadJson(reinterpret_cast<const char*>(data), size, &answer, nullptr) != kKwJsonOk) {
    return 0;
  }
  const KwReleaseVerdict verdict = KwCheckReleaseAnswer(answer, kPublicKey, kNow);
  KW_FUZZ_CHECK(KwCheckReleaseAnswer(answer, kPublicKey, kExpires + 1) !=
                KwReleaseVerdict::Accepted);
  KW_FUZZ_CHECK(KwCheckReleaseAnswer(answer, "", kNow) == KwReleaseVerdict::KeyUnusable);
  if (verdict != KwReleaseVerdict::Accepted) return 0;

  // What the engine takes from an accepted answer (the version reader's
  // member rules) is what was signed.
  KW_FUZZ_CHECK(KwJsonTextOr(answer, "version") == kVersion);
  KW_FUZZ_CHECK(KwJsonTextOr(answer, "buildtime") == kBuildtime);
  const Json::Value& packages = answer["packages"];
  KW_FUZZ_CHECK(packages.isArray() && packages.size() == 2);
  for (Json::ArrayIndex i = 0; i < packages.size(); ++i) {
    const Json::Value& p = packages[i];
    KW_FUZZ_CHECK(std::strtoll(KwJsonTextOr(p, "length").c_str(), nullptr, 10) ==
                  kVolumes[i].length);
    KW_FUZZ_CHECK(strcasecmp(KwJsonTextOr(p, "checksum").c_str(), kVolumes[i].checksum) == 0);
    KW_FUZZ_CHECK(strcasecmp(KwJsonTextOr(p, "sha256").c_str(), kVolumes[i].sha256) == 0);
  }
  return 0;
}
