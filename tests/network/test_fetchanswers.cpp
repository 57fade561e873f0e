// The install engine's two ways of fetching volume bytes, against answers a
// file server may give: a ranged request answered with the whole file, a
// wrong range, a whole answer of the wrong length (declared or brought), and
// a good whole answer handed on in order.  Nothing of an answer that is not
// kept may be reported as progress or handed to the writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MsgBox/engine/kwenginefetch.h"
#include "kwtestserver.h"
#include "network/http/kwcurlbinding.h"

namespace {

std::string Volume(size_t n) {
  std::string v(n, '\0');
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>((i * 131 + 7) & 0xff);
  return v;
}

struct Heard {
  int64_t progress = 0;
  std::vector<std::pair<int64_t, std::string>> pieces;
};

void OnProgress(void* context, int32_t count) {
  static_cast<Heard*>(context)->progress += count;
}

bool OnPiece(void* context, int64_t offset, const char* data, int32_t count) {
  static_cast<Heard*>(context)->pieces.emplace_back(offset, std::string(data, count));
  return true;
}

class FetchAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
    const std::string volume = body;
    // Ignores Range: 200 and the whole file, as a plain web server may.
    srv.server().Get("/whole", [volume](const httplib::Request& req, httplib::Response& res) {
      kwtest::TakeRanges(req);
      res.set_content(volume, "application/octet-stream");
    });
    // Another range than asked for.
    srv.server().Get("/shifted", [volume](const httplib::Request& req, httplib::Response& res) {
      kwtest::TakeRanges(req);
      res.status = 206;
      res.set_header("Content-Range", "bytes 1-100/" + std::to_string(volume.size()));
      res.set_content(volume.substr(1, 100), "application/octet-stream");
    });
    // Declares and sends one byte more than listed.
    srv.server().Get("/longer", [volume](const httplib::Request& req, httplib::Response& res) {
      kwtest::TakeRanges(req);
      res.set_content(volume + "x", "application/octet-stream");
    });
    // No declared length, and more bytes than listed.
    srv.server().Get("/chunked", [volume](const httplib::Request&, httplib::Response& res) {
      res.set_chunked_content_provider("application/octet-stream",
                                       [volume](size_t offset, httplib::DataSink& sink) {
                                         if (offset >= volume.size() + 5000) {
                                           sink.done();
                                           return true;
                                         }
                                         return sink.write(volume.data(), 5000);
                                       });
    });
    srv.Start();
  }

  const std::string body = Volume(3 * 1024 * 1024 + 17);
  kwtest::InProcessServer srv;
};

TEST_F(FetchAnswers, RangedRequestsRefuseWholeFilesAndOtherRangesWithoutCountingThem) {
  std::vector<char> dest(100);
  Heard heard;
  EXPECT_EQ(kKwFetchWholeFile, KwFetchSegment(srv.url("/whole").c_str(), 1, 100, dest.data(),
                                              &OnProgress, &heard, nullptr, nullptr));
  EXPECT_EQ(kKwFetchRefused, KwFetchSegment(srv.url("/shifted").c_str(), 0, 100, dest.data(),
                                            &OnProgress, &heard, nullptr, nullptr));
  EXPECT_EQ(heard.progress, 0);
}

TEST_F(FetchAnswers, WholeVolumeComesInOrderOrFailsOnItsLength) {
  const int64_t length = static_cast<int64_t>(body.size());
  int64_t served = -1;
  Heard good;
  ASSERT_EQ(length, KwFetchWholeVolume(srv.url("/whole").c_str(), length, &OnPiece, &good, nullptr,
                                       nullptr, &served));
  EXPECT_EQ(served, length);
  std::string joined;
  for (const auto& p : good.pieces) {
    EXPECT_EQ(p.first, static_cast<int64_t>(joined.size()));
    EXPECT_LE(p.second.size(), 1u << 20);
    joined += p.second;
  }
  EXPECT_TRUE(joined == body);

  // The length is declared wrong: nothing is handed on at all.
  Heard longer;
  EXPECT_EQ(kKwFetchWrongLength, KwFetchWholeVolume(srv.url("/longer").c_str(), length, &OnPiece,
                                                    &longer, nullptr, nullptr, &served));
  EXPECT_EQ(served, length + 1);
  EXPECT_TRUE(longer.pieces.empty());

  // Undeclared and too long: never a byte past the listed length.
  Heard chunked;
  EXPECT_EQ(kKwFetchWrongLength, KwFetchWholeVolume(srv.url("/chunked").c_str(), length, &OnPiece,
                                                    &chunked, nullptr, nullptr, &served));
  EXPECT_GT(served, length);
  int64_t handed = 0;
  for (const auto& p : chunked.pieces) handed += static_cast<int64_t>(p.second.size());
  EXPECT_LE(handed, length);

  // A listing longer than the file: the complete answer is too short.
  Heard shorter;
  EXPECT_EQ(kKwFetchWrongLength, KwFetchWholeVolume(srv.url("/chunked").c_str(), length + 1000000,
                                                    &OnPiece, &shorter, nullptr, nullptr, &served));
  EXPECT_EQ(kKwFetchRefused, KwFetchWholeVolume(srv.url("/missing").c_str(), length, &OnPiece,
                                                &shorter, nullptr, nullptr, &served));
}

TEST(AddressOrigin, IsSchemeHostAndPortInLowerCase) {
  EXPECT_EQ(KwAddressOrigin("HTTP://Files.Example:8080/V2.0.0_000.kwk?md5=a&expires=1"),
            "http://files.example:8080");
  EXPECT_EQ(KwAddressOrigin("https://a.example?x=1"), "https://a.example");
  EXPECT_EQ(KwAddressOrigin(nullptr), "");
}

}  // namespace
