// Reading the Content-Range of a ranged answer.  Both the server API's range
// read and the install engine's segment fetch accept data only when the
// answer names the bytes they asked for, so they share one parser.
#pragma once

#include <cstdint>
#include <string>

// The value of the last "Content-Range:" line of a raw header block (the final
// answer's, when a redirect came first), without leading or trailing blanks;
// empty when there is none.  `header` may be null.
std::string KwContentRangeOf(const char* header);

// A parsed "bytes FIRST-LAST/TOTAL" value.
struct KwContentRange {
  int64_t first = -1;
  int64_t last = -1;
  int64_t total = -1;
};

// Accepts exactly "bytes FIRST-LAST/TOTAL": single blank, decimal digits
// only (at most 18 each), FIRST <= LAST < TOTAL, nothing after.  Anything
// else, an unknown total ("*") included, is no range the readers can trust.
bool KwParseContentRange(const std::string& value, KwContentRange* out);
