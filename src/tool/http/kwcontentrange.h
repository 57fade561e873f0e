// Reading the Content-Range of a ranged answer.  Both the server API's range
// read and the install engine's segment fetch accept data only when the
// answer names the bytes they asked for, so they share one parser.
#pragma once

#include <cstdint>
#include <string>

// The value of the last "Content-Range:" line of a raw header block (the final
// answer's, when a redirect came first), without leading blanks; empty when
// there is none.  `header` may be null.
std::string KwContentRangeOf(const char* header);

// A parsed "bytes FIRST-LAST/TOTAL" value; total is -1 when it is "*" or
// missing.
struct KwContentRange {
  int64_t first = -1;
  int64_t last = -1;
  int64_t total = -1;
};

// False when the value is not of that form.
bool KwParseContentRange(const std::string& value, KwContentRange* out);
