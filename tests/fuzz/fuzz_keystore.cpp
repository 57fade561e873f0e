// The key store's text form: any text parses the same however it is split,
// and writing what was read then reading and writing again is stable.
#include <string>

#include "fuzzkit.h"
#include "platform/kwregformat.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const KwRegDocument whole = KwRegParse(text);

  KwRegParser parser;
  size_t at = 0;
  for (size_t n : kwfuzz::Pieces(data, size)) {
    parser.Feed(text.data() + at, n);
    at += n;
  }
  const KwRegDocument split = parser.Finish();
  const std::string written = KwRegSerialize(whole);
  KW_FUZZ_CHECK(written == KwRegSerialize(split));
  KW_FUZZ_CHECK(whole.unparsed == split.unparsed);
  KW_FUZZ_CHECK(whole.unparsedLines == split.unparsedLines);

  const KwRegDocument again = KwRegParse(written);
  KW_FUZZ_CHECK(again.unparsedLines == 0);
  KW_FUZZ_CHECK(KwRegSerialize(again) == written);
  for (const auto& [key, entry] : whole.keys) {
    auto found = again.keys.find(key);
    KW_FUZZ_CHECK(found != again.keys.end());
    KW_FUZZ_CHECK(found->second.values.size() == entry.values.size());
  }

  // Escaping a text and reading it back gives the text.
  const std::string quoted = "\"" + KwRegEscape(text) + "\"";
  std::string back;
  size_t pos = 0;
  KW_FUZZ_CHECK(KwRegReadQuoted(quoted, &pos, &back));
  KW_FUZZ_CHECK(back == text && pos == quoted.size());
  return 0;
}
