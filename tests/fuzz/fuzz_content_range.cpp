// The Content-Range reader both ranged reads trust with their data: any
// header block gives a value without line ends or outer blanks, and a value
// accepted is exactly "bytes FIRST-LAST/TOTAL" with FIRST <= LAST < TOTAL.
#include <strings.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzzkit.h"
#include "tool/http/kwcontentrange.h"

namespace {

std::string WithoutLeadingZeros(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool runStart = text[i] == '0' && (i == 0 || text[i - 1] < '0' || text[i - 1] > '9');
    if (runStart) {
      size_t j = i;
      while (j + 1 < text.size() && text[j] == '0' && text[j + 1] >= '0' && text[j + 1] <= '9') ++j;
      i = j;
    }
    out += text[i];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // As a whole header block (up to its first NUL, as curl hands it over).
  const std::string value = KwContentRangeOf(input.c_str());
  KW_FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos);
  if (!value.empty()) {
    KW_FUZZ_CHECK(value.front() != ' ' && value.front() != '\t');
    KW_FUZZ_CHECK(value.back() != ' ' && value.back() != '\t');
  }

  // As a value, and the value found in the block.
  for (const std::string& candidate : {input, value}) {
    KwContentRange range{-7, -7, -7};
    if (!KwParseContentRange(candidate, &range)) {
      KW_FUZZ_CHECK(range.first == -7 && range.last == -7 && range.total == -7);
      continue;
    }
    KW_FUZZ_CHECK(range.first >= 0 && range.first <= range.last && range.last < range.total);
    char again[96];
    std::snprintf(again, sizeof(again), "bytes %" PRId64 "-%" PRId64 "/%" PRId64, range.first,
                  range.last, range.total);
    // Leading zeros and the case of the unit are the only freedoms of the
    // form; without them the text is exactly what was accepted.
    const std::string plain = WithoutLeadingZeros(candidate);
    KW_FUZZ_CHECK(plain.size() == std::strlen(again) && strcasecmp(again, plain.c_str()) == 0);
  }
  return 0;
}
