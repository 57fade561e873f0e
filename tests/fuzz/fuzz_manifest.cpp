// The release manifest as the installer reads it: any bytes are read or
// refused with a reason, never a crash; the push reader gives the same answer
// for any cut of the input; a manifest read and written again is read back to
// the same bytes.  The trailing SHA-256 is made to match first, so mutations
// reach the compressed body instead of all stopping at the checksum.
#include <string>
#include <vector>

#include "baseutil/kwsha256.h"
#include "fuzzkit.h"
#include "tool/makepackage/kwmanifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  if (bytes.size() >= kwmanifest::kHeaderSize + kwmanifest::kTrailerSize) {
    KwSha256 sha;
    sha.Update(bytes.data(), bytes.size() - kwmanifest::kTrailerSize);
    sha.Final(bytes.data() + bytes.size() - kwmanifest::kTrailerSize);
  }
  KwManifest whole;
  std::string error;
  const int read = KwParseManifest(bytes.data(), bytes.size(), &whole, &error);
  KW_FUZZ_CHECK(read == 0 || !error.empty());

  KwManifestReader reader;
  size_t at = 0;
  int pushed = 0;
  for (size_t piece : kwfuzz::Pieces(bytes.data(), bytes.size())) {
    if (pushed != 0) break;
    pushed = reader.Put(bytes.data() + at, piece);
    at += piece;
  }
  KwManifest cut;
  const int finished = pushed == 0 ? reader.Finish(&cut) : -1;
  KW_FUZZ_CHECK((finished == 0) == (read == 0));
  if (read != 0) return 0;

  std::string why;
  KW_FUZZ_CHECK(KwManifestConsistent(whole, &why));
  const std::string encoded = KwEncodeManifest(whole);
  KW_FUZZ_CHECK(KwEncodeManifest(cut) == encoded);
  KwManifest again;
  KW_FUZZ_CHECK(KwParseManifest(reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size(),
                                &again, &error) == 0);
  KW_FUZZ_CHECK(KwEncodeManifest(again) == encoded);
  return 0;
}
