// The staging folder: begun fresh over what killed runs left, moved into
// place in one step (over a folder of the same version too), or abandoned.
#include "MsgBox/engine/kwenginestaging.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "MsgBox/engine/kwenginecheckpoint.h"
#include "kwtest/tempdir.h"

namespace {

namespace fs = std::filesystem;

TEST(EngineStaging, BeginClearsWhatKilledRunsLeftAndPutsASetAsideVersionBack) {
  kwtest::TempDir dir;
  const std::string install = dir.path();
  kwtest::WriteFile(install + "/.V2.0.1.staging/half.txt", "half");
  kwtest::WriteFile(install + "/.V1.9.staging/old.txt", "old");
  // Killed after the old V2.0.0 stepped aside, before the new one arrived.
  kwtest::WriteFile(install + "/.V2.0.0.retired/Windows/Tarnwick.exe", "old product");
  // Killed after the swap, while the old one was being removed.
  kwtest::WriteFile(install + "/V1.8/keep.txt", "k");
  kwtest::WriteFile(install + "/.V1.8.retired/stale.txt", "s");
  kwtest::WriteFile(install + "/.V2.0.1.staging.txt", "a file, not ours");

  KwStaging staging;
  ASSERT_EQ(staging.Begin(install, "V2.0.1"), 0);
  EXPECT_TRUE(staging.open());
  EXPECT_EQ(staging.folder(), install + "/.V2.0.1.staging");
  EXPECT_EQ(staging.versionFolder(), install + "/V2.0.1");
  EXPECT_TRUE(fs::is_empty(staging.folder()));
  EXPECT_FALSE(fs::exists(install + "/.V1.9.staging"));
  EXPECT_EQ(kwtest::ReadFile(install + "/V2.0.0/Windows/Tarnwick.exe"), "old product");
  EXPECT_FALSE(fs::exists(install + "/.V2.0.0.retired"));
  EXPECT_FALSE(fs::exists(install + "/.V1.8.retired"));
  EXPECT_TRUE(fs::exists(install + "/V1.8/keep.txt"));
  EXPECT_TRUE(fs::exists(install + "/.V2.0.1.staging.txt"));
  staging.Abandon();
  EXPECT_FALSE(fs::exists(install + "/.V2.0.1.staging"));
  EXPECT_FALSE(staging.open());
}

TEST(EngineStaging, CommitMovesIntoPlaceAndReplacesTheSameVersionWhole) {
  kwtest::TempDir dir;
  const std::string install = dir.path();
  kwtest::WriteFile(install + "/V2.0.0/keep.txt", "other version");
  for (int round = 0; round < 2; ++round) {
    KwStaging staging;
    ASSERT_EQ(staging.Begin(install, "V2.0.1"), 0);
    kwtest::WriteFile(staging.folder() + "/a.txt", "round " + std::to_string(round));
    if (round == 0) kwtest::WriteFile(staging.folder() + "/only-first.txt", "x");
    ASSERT_EQ(staging.Commit(), 0);
    EXPECT_FALSE(staging.open());
    EXPECT_EQ(kwtest::ReadFile(install + "/V2.0.1/a.txt"), "round " + std::to_string(round));
    // The version installed before is replaced as a whole, not merged.
    EXPECT_EQ(fs::exists(install + "/V2.0.1/only-first.txt"), round == 0);
    EXPECT_FALSE(fs::exists(install + "/.V2.0.1.staging"));
    EXPECT_FALSE(fs::exists(install + "/.V2.0.1.retired"));
    // Abandoning after a commit removes nothing.
    staging.Abandon();
    EXPECT_TRUE(fs::exists(install + "/V2.0.1/a.txt"));
  }
  EXPECT_EQ(kwtest::ReadFile(install + "/V2.0.0/keep.txt"), "other version");
}

TEST(EngineStaging, BeginInAMissingFolderFailsAndCommitsNothing) {
  kwtest::TempDir dir;
  KwStaging staging;
  EXPECT_LT(staging.Begin(dir.path() + "/missing", "V2.0.1"), 0);
  EXPECT_FALSE(staging.open());
  EXPECT_LT(staging.Commit(), 0);
  EXPECT_FALSE(fs::exists(dir.path() + "/missing/V2.0.1"));
}

TEST(EngineStaging, ACheckpointIsReopenedAndNeverCommitted) {
  kwtest::TempDir dir;
  const std::string install = dir.path();
  std::string text;
  KwStaging first;
  EXPECT_FALSE(first.Reopen(install, "V2.0.1", &text));
  ASSERT_EQ(first.Begin(install, "V2.0.1"), 0);
  kwtest::WriteFile(first.folder() + "/a.bin", "half");
  ASSERT_TRUE(first.SaveCheckpoint("one"));
  ASSERT_TRUE(first.SaveCheckpoint("two"));
  kwtest::WriteFile(install + "/.V1.9.staging/x", "x");

  KwStaging again;
  ASSERT_TRUE(again.Reopen(install, "V2.0.1", &text));
  EXPECT_EQ(text, "two");
  EXPECT_TRUE(KwStagingHasCheckpoint(install, "V2.0.1"));
  EXPECT_EQ(kwtest::ReadFile(again.folder() + "/a.bin"), "half");
  EXPECT_FALSE(fs::exists(install + "/.V1.9.staging"));
  ASSERT_EQ(again.Commit(), 0);
  EXPECT_EQ(kwtest::ReadFile(install + "/V2.0.1/a.bin"), "half");
  EXPECT_FALSE(fs::exists(install + "/V2.0.1/.kwcheckpoint"));
  EXPECT_FALSE(KwStagingHasCheckpoint(install, "V2.0.1"));
}

PackageEntry Listed(const char* checksum, const char* sha) {
  PackageEntry e;
  std::snprintf(e.checksum, sizeof(e.checksum), "%s", checksum);
  std::snprintf(e.sha256, sizeof(e.sha256), "%s", sha);
  return e;
}

TEST(EngineCheckpoint, RoundTripsAndFitsOnlyTheSameRelease) {
  const std::vector<PackageEntry> entries = {Listed("AA", "11"), Listed("BB", ""),
                                             Listed("CC", "33")};
  KwUnpackCheckpoint c;
  c.version = "V2.0.1";
  c.volumeCount = 3;
  c.done = {KwUnpackCheckpoint::DigestOf(entries[0]), KwUnpackCheckpoint::DigestOf(entries[1])};
  c.insideFile = true;
  c.fileName = "/data/a file with spaces.bin";
  c.fileSize = 1000;
  c.fileWritten = 400;
  KwUnpackCheckpoint back;
  ASSERT_TRUE(KwUnpackCheckpoint::Parse(c.Format(), &back));
  EXPECT_EQ(back.Format(), c.Format());
  EXPECT_EQ(back.fileName, c.fileName);
  EXPECT_TRUE(back.Fits("V2.0.1", entries));
  EXPECT_FALSE(back.Fits("V2.0.2", entries));
  std::vector<PackageEntry> other = entries;
  std::snprintf(other[1].checksum, sizeof(other[1].checksum), "BC");
  EXPECT_FALSE(back.Fits("V2.0.1", other));
  other = entries;
  other.pop_back();
  EXPECT_FALSE(back.Fits("V2.0.1", other));

  // Anything that is not a whole checkpoint is refused.
  const std::string whole = c.Format();
  for (const std::string& bad :
       {std::string(), whole.substr(0, whole.size() - 4), "x" + whole, whole + "done extra\n",
        std::string("tarnwick unpack checkpoint 1\nversion V\nvolumes 1\n"
                    "file 10 20 /a\nend\n")}) {
    EXPECT_FALSE(KwUnpackCheckpoint::Parse(bad, &back)) << bad;
  }
}

}  // namespace
