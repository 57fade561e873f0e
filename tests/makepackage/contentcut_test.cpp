// Content-defined cutting: the rules on piece sizes, the same cuts however
// the file arrives, and an insertion that moves only the pieces near it.
#include <gtest/gtest.h>

#include <set>

#include "baseutil/kwsha256.h"
#include "pkgtestutil.h"
#include "tool/makepackage/kwcontentcut.h"

namespace {

// The pieces of `data` as the maker cuts them: a full window while the
// data lasts, the rest at the end.
std::vector<std::string> Cut(const std::string& data) {
  std::vector<std::string> pieces;
  size_t at = 0;
  while (at < data.size()) {
    const int32_t avail =
        static_cast<int32_t>(std::min<size_t>(data.size() - at, kwcut::kMaxPiece));
    const int32_t n = kwcut::CutPoint(reinterpret_cast<const uint8_t*>(data.data()) + at, avail);
    pieces.push_back(data.substr(at, static_cast<size_t>(n)));
    at += static_cast<size_t>(n);
  }
  return pieces;
}

std::set<std::string> Digests(const std::vector<std::string>& pieces) {
  std::set<std::string> out;
  for (const std::string& p : pieces) out.insert(KwSha256Hex(p.data(), p.size()));
  return out;
}

size_t Changed(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  const std::set<std::string> old = Digests(before);
  size_t n = 0;
  for (const std::string& d : Digests(after)) n += old.count(d) == 0;
  return n;
}

}  // namespace

TEST(ContentCut, SizesStayInBoundsAndCutsAreDeterministic) {
  for (int entropy : {256, 26, 1}) {  // random, text-like, one repeated byte
    const std::string data = pkgtest::Bytes(9 * 1000 * 1000, 11, entropy);
    const std::vector<std::string> pieces = Cut(data);
    EXPECT_TRUE(Cut(data) == pieces);
    std::string joined;
    for (size_t i = 0; i < pieces.size(); ++i) {
      if (i + 1 < pieces.size()) {
        EXPECT_GE(pieces[i].size(), size_t(kwcut::kMinPiece));
      }
      EXPECT_LE(pieces[i].size(), size_t(kwcut::kMaxPiece));
      joined += pieces[i];
    }
    EXPECT_TRUE(joined == data);
    if (entropy == 1) {
      EXPECT_EQ(pieces[0].size(), size_t(kwcut::kMaxPiece));  // no boundary in a flat run
    } else {
      // The average stays near the target (well below the largest piece).
      EXPECT_GT(pieces.size(), data.size() / (4 * kwcut::kAvgPiece));
      EXPECT_LT(pieces.size(), data.size() / (kwcut::kAvgPiece / 4));
    }
  }
  EXPECT_EQ(kwcut::CutPoint(reinterpret_cast<const uint8_t*>("abc"), 3), 3);
}

TEST(ContentCut, AnInsertionOrOverwriteChangesOnlyAFewPieces) {
  const std::string data = pkgtest::Bytes(20 * 1000 * 1000, 5, 40);
  const std::vector<std::string> before = Cut(data);
  ASSERT_GT(before.size(), 30u);
  for (size_t at : {size_t(0), size_t(7777777), data.size() - 10}) {
    std::string inserted = data;
    inserted.insert(at, pkgtest::Bytes(1234, 9, 40));
    EXPECT_LE(Changed(before, Cut(inserted)), 3u) << "insert at " << at;
    std::string removed = data;
    removed.erase(at, 1000);
    EXPECT_LE(Changed(before, Cut(removed)), 3u) << "remove at " << at;
  }
  std::string overwritten = data;
  overwritten.replace(12345678, 4096, pkgtest::Bytes(4096, 8, 40));
  EXPECT_LE(Changed(before, Cut(overwritten)), 2u);
}
