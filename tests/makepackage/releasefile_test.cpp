// release.json as the maker writes it and the tools read it back, and what
// the reader makes of damaged copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "kwtest/tempdir.h"
#include "tool/makepackage/kwrelease.h"

namespace {

KwRelease Sample() {
  KwRelease r;
  r.version = "V2.0.0";
  r.buildtime = "2026-12-09T12:00:00Z";
  r.volumes.push_back({"V2.0.0_000.kwk", 4000, "ABCDEF", std::string(64, 'a')});
  r.volumes.push_back({"V2.0.0_001.kwk", 17, "0123", std::string(64, 'b')});
  r.isSigned = true;
  r.signature = {4102444800, "0011223344556677", std::string(128, 'c')};
  return r;
}

TEST(ReleaseFile, WrittenFileReadsBackTheSame) {
  kwtest::TempDir t;
  const KwRelease want = Sample();
  ASSERT_EQ(0, KwSaveRelease(t.path(), want));
  KwRelease got;
  std::string error;
  ASSERT_EQ(0, KwLoadRelease(t.path(), &got, &error)) << error;
  EXPECT_EQ(KwBuildReleaseJson(want), KwBuildReleaseJson(got));
  EXPECT_EQ(1, KwLoadRelease(t / "nowhere", &got, &error));
}

// Byte edits of a real file, in the way a bad disk or a careless hand makes
// them: every copy reads as a release or is refused with a reason.
TEST(ReleaseFile, MutatedCopiesAreReadOrRefusedNeverThrown) {
  kwtest::TempDir t;
  const std::string good = KwBuildReleaseJson(Sample());
  const char kInsert[] = "{}[]\",:0-e19";
  uint32_t x = 12345;
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    std::string text = good;
    for (int edits = 1 + round % 5; edits > 0 && !text.empty(); --edits) {
      x = x * 1664525u + 1013904223u;
      const size_t at = (x >> 8) % text.size();
      switch ((x >> 4) % 4) {
        case 0:
          text[at] = static_cast<char>(x >> 24);
          break;
        case 1:
          text.erase(at, 1 + (x >> 28));
          break;
        case 2:
          text.insert(at, 1, kInsert[(x >> 24) % (sizeof(kInsert) - 1)]);
          break;
        default:
          // A value swapped for a nest of brackets.
          text.insert(at, std::string(1 + (x >> 20) % 3000, '['));
      }
    }
    kwtest::WriteFile(t / "release.json", text);
    KwRelease got;
    std::string error;
    int32_t r = 99;
    EXPECT_NO_THROW(r = KwLoadRelease(t.path(), &got, &error)) << text.substr(0, 300);
    EXPECT_TRUE(r == 0 || r == -1) << r;
    if (r == -1) {
      ++refused;
      EXPECT_NE(std::string::npos, error.find("is not a release file")) << error;
    }
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
