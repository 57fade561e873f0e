// kwserve's request heads: the same result however the bytes arrive, the
// limits on size and header lines, and the refusals of what no route takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kwservehttp.h"

namespace {

// Feeds `text` growing by `step` bytes the way a connection collects it;
// every shorter prefix must be incomplete.  Returns the final result.
int FeedInSteps(const std::string& text, size_t step, KwHttpRequest* out, size_t* used) {
  for (size_t have = step; have < text.size(); have += step) {
    KwHttpRequest partial;
    size_t n = 0;
    const int r = KwParseRequestHead(text.data(), have, &partial, &n);
    if (r != kKwHeadIncomplete && (r != kKwHeadComplete || n > have)) return -1000 - r;
    if (r == kKwHeadComplete) return KwParseRequestHead(text.data(), text.size(), out, used);
  }
  return KwParseRequestHead(text.data(), text.size(), out, used);
}

TEST(KwServeHttp, HeadsParseAlikeInEverySplit) {
  const std::string get =
      "GET /app/file/download-url?key=packages%2FV2.0.0_000.tmp&fileServerId=1&sign=a+b "
      "HTTP/1.1\r\n"
      "Host: 127.0.0.1:9090\r\n"
      "Range:  bytes=0-99 \r\n"
      "\r\n"
      "GET /next HTTP/1.1\r\n\r\n";
  for (size_t step : {1, 2, 3, 7, 71, 100000}) {
    KwHttpRequest r;
    size_t used = 0;
    ASSERT_EQ(kKwHeadComplete, FeedInSteps(get, step, &r, &used)) << step;
    EXPECT_EQ(used, get.find("GET /next"));
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.path, "/app/file/download-url");
    EXPECT_EQ(r.Param("key"), "packages/V2.0.0_000.tmp");
    EXPECT_EQ(r.Param("sign"), "a b");
    EXPECT_EQ(r.Header("host"), "127.0.0.1:9090");
    EXPECT_EQ(r.Header("RANGE"), "bytes=0-99");
    EXPECT_TRUE(r.keepAlive);
  }
  // HTTP/1.0 keeps the connection only when asked; 1.1 unless told to close;
  // bare line feeds end lines too.
  KwHttpRequest r;
  size_t used = 0;
  const std::string old = "GET / HTTP/1.0\nConnection: Keep-Alive\n\n";
  ASSERT_EQ(kKwHeadComplete, FeedInSteps(old, 3, &r, &used));
  EXPECT_EQ(used, old.size());
  EXPECT_TRUE(r.keepAlive);
  ASSERT_EQ(kKwHeadComplete, KwParseRequestHead("GET / HTTP/1.0\r\n\r\n", 18, &r, &used));
  EXPECT_FALSE(r.keepAlive);
  const std::string closing = "GET / HTTP/1.1\r\nConnection: TE, close\r\n\r\n";
  ASSERT_EQ(kKwHeadComplete, KwParseRequestHead(closing.data(), closing.size(), &r, &used));
  EXPECT_FALSE(r.keepAlive);
}

TEST(KwServeHttp, LimitsAndRefusals) {
  KwHttpRequest r;
  size_t used = 0;
  auto parse = [&](const std::string& text) {
    return KwParseRequestHead(text.data(), text.size(), &r, &used);
  };
  // Too long a head is refused as soon as the limit passes, ended or not.
  const std::string big = "GET / HTTP/1.1\r\nX-Fill: " + std::string(kKwMaxRequestHead, 'a');
  EXPECT_EQ(431, parse(big));
  EXPECT_EQ(431, parse(big + "\r\n\r\n"));
  std::string many = "GET / HTTP/1.1\r\n";
  for (size_t i = 0; i <= kKwMaxHeaderLines; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(431, parse(many));
  EXPECT_EQ(431, parse(many + "\r\n"));
  std::string enough = "GET / HTTP/1.1\r\n";
  for (size_t i = 0; i < kKwMaxHeaderLines; ++i) enough += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(kKwHeadComplete, parse(enough + "\r\n"));

  EXPECT_EQ(400, parse("GET /a b HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(400, parse("GET a HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(400, parse("GET / HTTP/1.1\r\n folded: yes\r\n\r\n"));
  EXPECT_EQ(400, parse("GET / HTTP/1.1\r\nNo Colon\r\n\r\n"));
  EXPECT_EQ(505, parse("GET / HTTP/2.0\r\n\r\n"));
  EXPECT_EQ(413, parse("GET / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello"));
  EXPECT_EQ(kKwHeadComplete, parse("GET / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"));
  EXPECT_EQ(501, parse("GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"));
}

TEST(KwServeHttp, AnswerHeadsSayHowTheConnectionGoesOn) {
  KwHttpResponse res;
  res.SetContent("{}", "application/json");
  EXPECT_EQ(KwResponseHead(res, true, 1),
            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n");
  EXPECT_NE(KwResponseHead(res, true, 0).find("Connection: keep-alive\r\n"), std::string::npos);
  EXPECT_NE(KwResponseHead(res, false, 1).find("Connection: close\r\n"), std::string::npos);
  res.hasFile = true;
  res.file.length = 12345;
  EXPECT_NE(KwResponseHead(res, true, 1).find("Content-Length: 12345\r\n"), std::string::npos);
}

}  // namespace
