// The staging folder: begun fresh over what killed runs left, moved into
// place in one step (over a folder of the same version too), or abandoned.
#include "MsgBox/engine/kwenginestaging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

}  // namespace
