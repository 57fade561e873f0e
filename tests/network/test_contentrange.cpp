// The Content-Range reader both ranged readers trust with their data.
#include <gtest/gtest.h>

#include "tool/http/kwcontentrange.h"

TEST(ContentRange, LastHeaderLineWinsAndBlanksAreSkipped) {
  const char* headers =
      "HTTP/1.1 302 Found\r\nContent-Range: bytes 0-9/10\r\n\r\n"
      "HTTP/1.1 206 Partial Content\r\ncontent-range:   bytes 100-199/1000\r\n\r\n";
  EXPECT_EQ(KwContentRangeOf(headers), "bytes 100-199/1000");
  EXPECT_EQ(KwContentRangeOf("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n"), "");
  EXPECT_EQ(KwContentRangeOf(nullptr), "");
}

TEST(ContentRange, ParsesWellFormedValuesAndRefusesTheRest) {
  KwContentRange r;
  ASSERT_TRUE(KwParseContentRange("bytes 12800000-25599999/40000000", &r));
  EXPECT_EQ(r.first, 12800000);
  EXPECT_EQ(r.last, 25599999);
  EXPECT_EQ(r.total, 40000000);
  ASSERT_TRUE(KwParseContentRange("Bytes 0-0/*", &r));
  EXPECT_EQ(r.total, -1);

  for (const char* bad : {"", "bytes", "bytes -5/10", "bytes 5/10", "bytes 9-3/10", "items 0-1/2",
                          "bytes x-1/2", "bytes 0-/10"}) {
    EXPECT_FALSE(KwParseContentRange(bad, &r)) << bad;
  }
}
