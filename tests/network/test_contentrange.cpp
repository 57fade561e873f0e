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
  ASSERT_TRUE(KwParseContentRange("Bytes 0-0/1", &r));
  EXPECT_EQ(r.last, 0);
  EXPECT_EQ(r.total, 1);
  ASSERT_TRUE(
      KwParseContentRange("bytes 999999999999999998-999999999999999998/999999999999999999", &r));
  EXPECT_EQ(r.total, 999999999999999999);

  // Junk after the total, a last byte at or beyond the total, an unknown
  // total, signs, blanks and numbers too long to fit are all refused.
  for (const char* bad : {"",
                          "bytes",
                          "bytes -5/10",
                          "bytes 5/10",
                          "bytes 9-3/10",
                          "items 0-1/2",
                          "bytes x-1/2",
                          "bytes 0-/10",
                          "bytes 0-12799/1",
                          "bytes 0-12799/1junk",
                          "bytes 0-9/10 x",
                          "bytes 0-9/10/",
                          "bytes 0-10/10",
                          "bytes 5-20/10",
                          "bytes 0-0/*",
                          "bytes 0-9",
                          "bytes 0-9/",
                          "bytes  0-9/10",
                          "bytes +0-9/10",
                          "bytes 0-+9/10",
                          "bytes 0-9/+10",
                          "bytes 0 -9/10",
                          "bytes 0-9 /10",
                          "bytes0-9/10",
                          "bytes 0-9/1e3",
                          "bytes 0-9/10.0",
                          "bytes 0-9/0x10",
                          "bytes 0-9/9999999999999999999",
                          "bytes 0-99999999999999999999/1"}) {
    r = KwContentRange{7, 8, 9};
    EXPECT_FALSE(KwParseContentRange(bad, &r)) << bad;
    EXPECT_EQ(r.first, 7) << bad;  // Untouched on refusal.
  }
  EXPECT_FALSE(KwParseContentRange(std::string("bytes 0-9/10\0junk", 17), &r));
}

TEST(ContentRange, TrailingBlanksOfTheHeaderLineAreNoPartOfTheValue) {
  KwContentRange r;
  const std::string value =
      KwContentRangeOf("HTTP/1.1 206 OK\r\nContent-Range: bytes 1-2/3 \t\r\n");
  EXPECT_EQ(value, "bytes 1-2/3");
  EXPECT_TRUE(KwParseContentRange(value, &r));
}
