// Start-run validation, the free-space rule, the clean-up rule and the
// finishing steps, without a server.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwengineconfig.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefetch.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineresume.h"
#include "MsgBox/engine/kwengineverify.h"
#include "kwenginetestkit.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "platform/kwregistry.h"
#include "tool/http/kwbyteranges.h"
#include "tool/http/kwserverconfig.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace {

namespace fs = std::filesystem;
using kwenginetest::ScopedHome;

class FakeDisk : public IKWEngineDisk {
 public:
  bool Measure(const char*, int64_t* total, int64_t* free) override {
    *total = total_;
    *free = free_;
    return true;
  }
  std::atomic<int64_t> total_{100LL << 30};
  std::atomic<int64_t> free_{100LL << 30};
};

std::string RegValue(KwHive hive, const char* key, const char* name) {
  KwRegKey k;
  if (KwRegKey::Open(hive, key, kKwRegRead, &k) != 0) return "<no key>";
  std::string v;
  if (k.GetString(name, &v) != 0) return "<no value>";
  return v;
}

class EngineRules : public ::testing::Test {
 protected:
  void SetUp() override {
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    // Nothing listens here: a started run keeps asking until it is stopped.
    KwSetServerBaseUrl("http://127.0.0.1:9");
  }
  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  FakeDisk disk_;
};

TEST_F(EngineRules, ValidationOrderAndMessageKeys) {
  CKWInstallEngine engine(nullptr, &disk_);
  const char* key = nullptr;
  std::string target = dir_ / "target";

  // The agreement comes first, even before an empty path.
  EXPECT_EQ(engine.StartRun(false, "", &key), kKwStartNotAgreed);
  EXPECT_STREQ(key, "pleasecheck");
  EXPECT_EQ(engine.StartRun(true, "", &key), kKwStartNoPath);
  EXPECT_STREQ(key, "pleaseinputtopath");

  // A folder below a regular file can never be created.
  kwtest::WriteFile(dir_ / "plainfile", "x");
  std::string bad = dir_ / "plainfile/sub";
  EXPECT_EQ(engine.StartRun(true, bad.c_str(), &key), kKwStartInvalidPath);
  EXPECT_STREQ(key, "invalidpath2");

  disk_.free_ = 10;
  EXPECT_EQ(engine.StartRun(true, target.c_str(), &key), kKwStartNotEnough);
  EXPECT_STREQ(key, "notenough");

  // Refusals change nothing: no stage, no folder, no stored path, no probe left.
  EXPECT_EQ(g_installStage.load(), 0);
  EXPECT_STREQ(g_installPath, "");
  EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), "<no key>");
  EXPECT_FALSE(fs::exists(target + "/test.txt"));
  EXPECT_FALSE(engine.RunActive());
}

TEST_F(EngineRules, FreeSpaceBoundaryIsExactly42GiB) {
  std::string target = dir_ / "target";
  const char* key = nullptr;
  {
    CKWInstallEngine engine(nullptr, &disk_);
    engine.SetRequiredSpace(kKwDefaultRequiredSpace);
    disk_.free_ = kKwDefaultRequiredSpace - 1;
    EXPECT_EQ(engine.StartRun(true, target.c_str(), &key), kKwStartNotEnough);
    EXPECT_EQ(g_installStage.load(), 0);
  }
  {
    CKWInstallEngine engine(nullptr, &disk_);
    engine.SetRequiredSpace(kKwDefaultRequiredSpace);
    disk_.free_ = kKwDefaultRequiredSpace;
    ASSERT_EQ(engine.StartRun(true, target.c_str(), &key), kKwStartOk);
    EXPECT_TRUE(engine.RunActive());
    EXPECT_EQ(g_installStage.load(), 1);
    EXPECT_STREQ(g_installPath, target.c_str());
    EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), target);
    EXPECT_FALSE(fs::exists(target + "/test.txt"));
    EXPECT_EQ(engine.Progress().diskFree, kKwDefaultRequiredSpace);
    // A second start while the first is on is refused without a message.
    EXPECT_EQ(engine.StartRun(true, target.c_str(), &key), kKwStartBusy);
    EXPECT_EQ(key, nullptr);
    engine.Stop();
    EXPECT_FALSE(engine.RunActive());
    EXPECT_TRUE(engine.RunFinished());
    // A stopped download stays waiting to be continued.
    EXPECT_EQ(g_installStage.load(), 1);
  }
}

// Volumes already in the folder are not fetched again: their bytes count as
// room, but a file sized up front and never filled counts only what arrived.
TEST_F(EngineRules, DownloadedVolumesCountAsFreeSpaceWhenContinuing) {
  const std::string target = dir_ / "target";
  kwtest::WriteFile(target + "/v201_000.kwk", std::string(300000, 'x'));
  kwtest::WriteFile(target + "/v201_001.kwk", "");
  ASSERT_EQ(0, truncate((target + "/v201_001.kwk").c_str(), 1 << 20));
  KwResumeEntry table[3] = {};
  std::snprintf(table[0].name, sizeof(table[0].name), "v201_000.kwk");
  std::snprintf(table[1].name, sizeof(table[1].name), "v201_001.kwk");
  g_installStage = 1;
  CKWInstallEngine engine(nullptr, &disk_);
  engine.SetRequiredSpace(1 << 20);
  engine.SetResumeTable(table);
  const char* key = nullptr;
  disk_.free_ = (1 << 20) - 300000 - 1;
  EXPECT_EQ(engine.StartRun(false, target.c_str(), &key), kKwStartNotEnough);
  disk_.free_ = (1 << 20) - 300000;
  ASSERT_EQ(engine.StartRun(false, target.c_str(), &key), kKwStartOk);
  engine.Stop();
}

TEST_F(EngineRules, ContinuingRunCountsTheAgreementAsGiven) {
  CKWInstallEngine engine(nullptr, &disk_);
  g_installStage = 1;
  std::string target = dir_ / "target";
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(false, target.c_str(), &key), kKwStartOk);
  engine.Stop();
  EXPECT_EQ(g_installStage.load(), 1);
}

TEST_F(EngineRules, IniMayOnlyLowerTheRequiredSpace) {
  std::string ini = dir_ / "itarnwick.ini";
  EXPECT_EQ(KwReadRequiredSpace(ini.c_str()), kKwDefaultRequiredSpace);  // no file
  const std::pair<const char*, int64_t> cases[] = {
      {"[INSTALL]\nREQUIREDSPACE=1048576\n", 1048576},
      {"[install]\nrequiredspace = 0\n", 0},
      {"[INSTALL]\nREQUIREDSPACE=99999999999999\n", kKwDefaultRequiredSpace},
      {"[INSTALL]\nREQUIREDSPACE=-5\n", kKwDefaultRequiredSpace},
      {"[INSTALL]\nREQUIREDSPACE=12abc\n", kKwDefaultRequiredSpace},
      {"[OTHER]\nREQUIREDSPACE=5\n", kKwDefaultRequiredSpace},
  };
  for (const auto& c : cases) {
    kwtest::WriteFile(ini, c.first);
    EXPECT_EQ(KwReadRequiredSpace(ini.c_str()), c.second) << c.first;
  }
}

TEST_F(EngineRules, CleanUpRemovesOnlyVolumeFilesEndingInTmp) {
  std::string folder = dir_ / "install";
  for (const char* name :
       {"V2.0.0_000.tmp", "V2.0.0_001.TMP", "x.TmP", "y.tmpx", "tmp", "z.tm", ".hidden.tmp",
        "keep.kwk", "V2.0.0_000.tmp.journal", "keep.kwk.journal", ".journal"}) {
    kwtest::WriteFile(folder + "/" + name, "data");
  }
  fs::create_directories(folder + "/folder.tmp");
  fs::create_directory_symlink(folder + "/folder.tmp", folder + "/link.tmp");

  EXPECT_EQ(KwDeleteDownloadedVolumes(folder.c_str()), 4);
  for (const char* gone : {"V2.0.0_000.tmp", "V2.0.0_001.TMP", "x.TmP", "V2.0.0_000.tmp.journal"}) {
    EXPECT_FALSE(fs::exists(folder + "/" + gone)) << gone;
  }
  for (const char* kept : {"y.tmpx", "tmp", "z.tm", ".hidden.tmp", "keep.kwk", "folder.tmp",
                           "keep.kwk.journal", ".journal"}) {
    EXPECT_TRUE(fs::exists(folder + "/" + kept)) << kept;
  }
  EXPECT_TRUE(fs::is_symlink(folder + "/link.tmp"));
}

TEST_F(EngineRules, FinishingStepsRegisterMoveAndCleanUp) {
  std::string install = dir_ / "install";
  std::string dest = install + "/V2.0.0";
  kwtest::WriteFile(dest + "/ikwdriver/uninstall.exe", "uninstaller");
  kwtest::WriteFile(dest + "/Windows/Tarnwick.exe", "product");
  kwtest::WriteFile(install + "/unzip.ins", "1");
  kwtest::WriteFile(install + "/V2.0.0_000.tmp", "volume");

  KwFinishInput in;
  in.makeShortcut = true;
  in.removeDownloads = true;
  in.installPath = install;
  in.destination = dest;
  in.versionText = "V2.0.0";
  EXPECT_EQ(KwRunFinishingSteps(in), 0);

  EXPECT_EQ(kwtest::ReadFile(install + "/uninstall.exe"), "uninstaller");
  EXPECT_FALSE(fs::exists(dest + "/ikwdriver/uninstall.exe"));
  EXPECT_FALSE(fs::exists(install + "/unzip.ins"));
  EXPECT_FALSE(fs::exists(install + "/V2.0.0_000.tmp"));
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "Tarnwick");
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "UninstallString"),
            install + "/uninstall.exe");
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "V2.0.0");
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayIcon"),
            dest + "/Windows/Tarnwick.exe");
  std::string link = home_.desktop() + "/Tarnwick.desktop";
  ASSERT_TRUE(fs::exists(link));
  EXPECT_NE(kwtest::ReadFile(link).find(dest + "/Windows/Tarnwick.exe"), std::string::npos);
}

TEST_F(EngineRules, LocalSourcesKeepTheirVolumesAndMakeNoShortcut) {
  std::string install = dir_ / "install";
  std::string dest = install + "/V2.0.0";
  kwtest::WriteFile(dest + "/ikwdriver/uninstall.exe", "u");
  kwtest::WriteFile(install + "/V2.0.0_000.tmp", "the user's own package");
  KwFinishInput in;
  in.installPath = install;
  in.destination = dest;
  in.versionText = "V2.0.0";
  KwRunFinishingSteps(in);
  EXPECT_TRUE(fs::exists(install + "/V2.0.0_000.tmp"));
  EXPECT_FALSE(fs::exists(home_.desktop() + "/Tarnwick.desktop"));
}

// The verify pass may be advanced in steps of any size as the writer's
// prefix grows; it must end with the sums of one read of the whole file.
TEST(EngineVerifyPass, StepsOfAnySizeGiveTheSumsOfTheWholeFile) {
  kwtest::TempDir dir;
  std::string data(300007, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::string path = dir / "volume";
  kwtest::WriteFile(path, data);
  std::string sum, sha;
  ASSERT_TRUE(KwVolumeDigestsOfFile(path.c_str(), &sum, &sha));
  for (int64_t step : {int64_t{1}, int64_t{7}, int64_t{71}, int64_t{65536}, int64_t{300007}}) {
    KwVolumeVerifier v;
    v.Start(path, true);
    for (int64_t end = 0; end < static_cast<int64_t>(data.size());) {
      end = std::min<int64_t>(end + step * 13, static_cast<int64_t>(data.size()));
      ASSERT_TRUE(v.Advance(end, step));
      ASSERT_TRUE(v.Advance(end));
    }
    EXPECT_EQ(v.ChecksumHex(), sum) << step;
    EXPECT_EQ(v.Sha256Hex(), sha) << step;
  }
  // Reading past the end (a file shorter than listed) fails the pass.
  KwVolumeVerifier shortFile;
  shortFile.Start(path, false);
  EXPECT_FALSE(shortFile.Advance(static_cast<int64_t>(data.size()) + 1));
  EXPECT_EQ(shortFile.ChecksumHex(), "");
  KwVolumeVerifier missing;
  missing.Start(dir / "none", true);
  EXPECT_TRUE(missing.failed());
}

// Segments land in any order and may overlap; the set stays merged, and the
// prefix and the gaps follow from it.
TEST(EngineVerifyPass, ByteRangesMergeAndNameTheirGaps) {
  KwByteRanges r;
  r.Add(20, 10);
  r.Add(50, 10);
  EXPECT_EQ(r.PrefixEnd(), 0);
  r.Add(0, 5);
  EXPECT_EQ(r.PrefixEnd(), 5);
  r.Add(5, 15);  // touches both neighbours
  EXPECT_EQ(r.PrefixEnd(), 30);
  r.Add(25, 30);  // overlaps into the next range
  EXPECT_EQ(r.ranges().size(), 1u);
  EXPECT_EQ(r.PrefixEnd(), 60);
  r.Add(80, 0);
  r.Add(-3, 2);
  EXPECT_EQ(r.Covered(), 60);
  r.Add(70, 5);
  using R = KwByteRanges::Range;
  EXPECT_EQ(r.Missing(100), (std::vector<R>{R(60, 70), R(75, 100)}));
  EXPECT_EQ(r.Missing(72), (std::vector<R>{R(60, 70)}));
  EXPECT_TRUE(r.Contains(10, 50));
  EXPECT_FALSE(r.Contains(55, 10));
}

}  // namespace

// The pool hands out at most its count of distinct, fully writable buffers,
// gives a released one back out, and lets a waiting worker go when the run
// stops instead of blocking it for ever.
TEST(EngineSegmentBuffers, BoundedReusedAndReleasedOnStop) {
  constexpr size_t kSize = 3 * 1000 * 1000 + 7;
  KwSegmentBufferPool pool(2, kSize);
  std::atomic<bool> stop{false};
  char* a = pool.Acquire(stop);
  char* b = pool.Acquire(stop);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  std::memset(a, 0x5a, kSize);
  std::memset(b, 0xa5, kSize);
  EXPECT_EQ(a[kSize - 1], 0x5a);

  std::atomic<char*> third{nullptr};
  std::thread waiter([&] { third = pool.Acquire(stop); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(third.load(), nullptr);  // still waiting: both are out
  pool.Release(a);
  waiter.join();
  EXPECT_EQ(third.load(), a);

  std::thread stopped([&] { EXPECT_EQ(pool.Acquire(stop), nullptr); });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  stop = true;
  stopped.join();
}
