// The two chunk inflaters give the same bytes and the same verdict on
// well-formed, over-long and damaged zlib streams.
#include <gtest/gtest.h>

#include <random>

#include "pkgtestutil.h"
#include "tool/makepackage/kwinflater.h"

namespace {

struct Outcome {
  KwInflateResult::Verdict verdict;
  int code;
  std::string bytes;
};

Outcome InflateWith(KwInflater* inflater, const std::string& stream, size_t capacity) {
  std::string out(capacity, '\0');
  const KwInflateResult r =
      inflater->Inflate(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(),
                        reinterpret_cast<uint8_t*>(&out[0]), capacity);
  out.resize(r.verdict == KwInflateResult::kOk ? r.produced : 0);
  return Outcome{r.verdict, r.code, out};
}

class Inflaters : public ::testing::Test {
 protected:
  // Inflates with both and expects the same outcome; returns libdeflate's.
  Outcome Both(const std::string& stream, size_t capacity = kwpkg::kChunkSize) {
    const Outcome fast = InflateWith(fast_.get(), stream, capacity);
    const Outcome ref = InflateWith(zlib_.get(), stream, capacity);
    EXPECT_EQ(fast.verdict, ref.verdict);
    EXPECT_EQ(fast.code, ref.code);
    EXPECT_EQ(fast.bytes, ref.bytes);
    return fast;
  }
  std::unique_ptr<KwInflater> fast_ = KwMakeInflater(KwInflaterKind::kLibdeflate);
  std::unique_ptr<KwInflater> zlib_ = KwMakeInflater(KwInflaterKind::kZlib);
};

}  // namespace

TEST_F(Inflaters, WellFormedAndOverLongStreams) {
  const std::string full = pkgtest::Blocks(kwpkg::kChunkSize, 5);
  EXPECT_EQ(Both(pkgtest::Deflate(full)).bytes, full);  // Exactly the bound.
  EXPECT_EQ(Both(pkgtest::Deflate("")).bytes, "");
  // Bytes after the end of the stream are not part of it.
  EXPECT_EQ(Both(pkgtest::Deflate("abc") + "trailing").bytes, "abc");
  EXPECT_EQ(Both(pkgtest::Deflate(full + "x")).verdict, KwInflateResult::kTooLong);
  EXPECT_EQ(Both(pkgtest::Deflate("abcd"), 3).verdict, KwInflateResult::kTooLong);
}

TEST_F(Inflaters, DamagedStreamsAreBad) {
  const std::string good = pkgtest::Deflate(pkgtest::Bytes(300000, 8, 20));
  std::string adler = good;
  adler.back() ^= 1;
  std::string header = good;
  header[0] = 0x79;  // Not deflate with a 32 KiB window.
  for (const std::string& s : {adler, header, good.substr(0, good.size() - 2),
                               good.substr(0, good.size() / 2), std::string(), std::string("x")})
    EXPECT_EQ(Both(s).verdict, KwInflateResult::kBad);

  // Random damage and cuts, also of a stream that inflates past a smaller
  // bound: where each library notices the damage must not change the verdict.
  const std::string big = pkgtest::Deflate(pkgtest::Bytes(140000, 3, 4));
  std::mt19937 rng(17);
  for (int i = 0; i < 90; ++i) {
    std::string s = i % 2 ? big : good;
    switch (i % 3) {
      case 0:
        for (int k = 1 + rng() % 3; k > 0; --k) s[rng() % s.size()] ^= char(1 + rng() % 255);
        break;
      case 1:
        s.resize(s.size() - 1 - rng() % (s.size() / 8));
        break;
      default:
        s.resize(rng() % s.size());
        break;
    }
    Both(s, i % 2 ? 100000 : kwpkg::kChunkSize);
  }
}

TEST(InflaterNames, ParseBothWays) {
  KwInflaterKind k = KwInflaterKind::kLibdeflate;
  EXPECT_TRUE(KwParseInflaterName("zlib", &k));
  EXPECT_EQ(k, KwInflaterKind::kZlib);
  EXPECT_STREQ(KwInflaterName(k), "zlib");
  EXPECT_TRUE(KwParseInflaterName(KwInflaterName(KwInflaterKind::kLibdeflate), &k));
  EXPECT_EQ(k, KwInflaterKind::kLibdeflate);
  EXPECT_FALSE(KwParseInflaterName("gzip", &k));
  EXPECT_FALSE(KwParseInflaterName(nullptr, &k));
}
