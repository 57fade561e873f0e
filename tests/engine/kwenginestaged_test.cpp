// Whole installations that go wrong half-way: the version installed before
// stays intact and registered, no half version appears under a version's
// name, a lying server's bytes never become the version folder, and what a
// killed run left is cleared by the next.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "MsgBox/desktop/kwuninstall.h"
#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineowner.h"
#include "kwenginetestkit.h"
#include "kwtest/roomydisk.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwregistry.h"
#include "tool/http/kwserverconfig.h"

namespace {

namespace fs = std::filesystem;
using namespace kwenginetest;

using kwtest::RoomyDisk;

class Commands : public IKWInstallEngineOwner {
 public:
  void EngineRepaint() override {}
  void EnginePostCommand(int command) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
  }
  void EngineMessage(const char*) override {}
  std::vector<int> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }

 private:
  std::mutex mutex_;
  std::vector<int> commands_;
};

class StagedInstall : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KwCurlBindForExecutable(BinDir().c_str()); }

  void SetUp() override {
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    g_targetDir[0] = '\0';
    install_ = dir_ / "install";
    // Small enough to pack in the test, three volumes.
    old_ = MakeProductTree(2000000);
    new_ = old_;
    new_.files["Windows/Tarnwick.exe"] += "2.0.1";
    new_.files["ikwdriver/uninstall.exe"] = "uninstaller of 2.0.1";
    new_.files["lib/added.py"] = "print('new')\n";
    new_.mtimes["lib/added.py"] = 1700000000;
    WriteProductTree(old_, dir_ / "old");
    WriteProductTree(new_, dir_ / "new");
    ASSERT_GT(PackTree(dir_ / "old", dir_ / "p200", 1500000, "V2.0.0"), 1);
    ASSERT_GT(PackTree(dir_ / "new", dir_ / "p201", 1500000, "V2.0.1"), 1);
  }

  // Installs the package in `package` (its first volume) into `folder` the
  // way the local package installer does; the run's result.
  int InstallLocal(const std::string& package, const std::string& version,
                   const std::string& folder, Commands* owner = nullptr) {
    g_versionText[0] = '\0';
    g_installStage = 0;
    CKWInstallEngine engine(owner, &disk_);
    engine.SetRunMode(static_cast<int32_t>(RunMode::LocalPackage));
    engine.SetPackageSource((package + "/" + version + "_000.kwk").c_str());
    const char* key = nullptr;
    if (engine.StartRun(true, folder.c_str(), &key) != kKwStartOk) return -100;
    engine.WaitUntilFinished();
    failure_ = engine.Progress().failure;
    return engine.LastResult();
  }

  static ProductTree AsInstalled(ProductTree t) {
    t.files.erase("ikwdriver/uninstall.exe");
    return t;
  }
  static std::string RegValue(KwHive hive, const char* key, const char* name) {
    KwRegKey k;
    if (KwRegKey::Open(hive, key, kKwRegRead, &k) != 0) return "<no key>";
    std::string v;
    if (k.GetString(name, &v) != 0) return "<no value>";
    return v;
  }
  // No staging folder of any version is left in `folder`.
  static std::string Leftover(const std::string& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
      if (KwIsStagingFolderName(e.path().filename().c_str())) return e.path().string();
    }
    return "";
  }

  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  RoomyDisk disk_;
  std::string install_;
  std::string failure_;
  ProductTree old_;
  ProductTree new_;
};

TEST_F(StagedInstall, OldVersionStaysUntilTheNewIsCompleteThenTheUninstallerRemovesBoth) {
  ASSERT_EQ(InstallLocal(dir_ / "p200", "V2.0.0", install_), 0) << failure_;
  ASSERT_EQ(CompareTree(AsInstalled(old_), install_ + "/V2.0.0"), "");

  // A damaged V2.0.1, into the same folder and into another: it fails, and
  // the installed version, its entries and its stored folder are untouched.
  fs::copy(dir_ / "p201", dir_ / "bad");
  std::string bytes = kwtest::ReadFile(dir_ / "bad/V2.0.1_001.kwk");
  for (size_t i = 2000; i < 2100; ++i) bytes[i] = 0;
  kwtest::WriteFile(dir_ / "bad/V2.0.1_001.kwk", bytes);
  for (const std::string& folder : {install_, dir_ / "other"}) {
    Commands owner;
    EXPECT_NE(InstallLocal(dir_ / "bad", "V2.0.1", folder, &owner), 0);
    EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
    EXPECT_FALSE(fs::exists(folder + "/V2.0.1")) << folder;
    EXPECT_EQ(Leftover(folder), "");
    EXPECT_EQ(CompareTree(AsInstalled(old_), install_ + "/V2.0.0"), "");
    EXPECT_EQ(kwtest::ReadFile(install_ + "/uninstall.exe"),
              old_.files.at("ikwdriver/uninstall.exe"));
    EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "V2.0.0");
    EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), install_);
  }

  ASSERT_EQ(InstallLocal(dir_ / "p201", "V2.0.1", install_), 0) << failure_;
  EXPECT_EQ(CompareTree(AsInstalled(new_), install_ + "/V2.0.1"), "");
  EXPECT_EQ(CompareTree(AsInstalled(old_), install_ + "/V2.0.0"), "");
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "V2.0.1");
  EXPECT_EQ(kwtest::ReadFile(install_ + "/uninstall.exe"),
            new_.files.at("ikwdriver/uninstall.exe"));
  EXPECT_EQ(KwRecordedVersions(install_), (std::vector<std::string>{"V2.0.0", "V2.0.1"}));

  // A killed third run left a staging folder; the uninstaller takes it too.
  kwtest::WriteFile(install_ + "/.V2.0.2.staging/half.bin", "half");
  kwtest::WriteFile(install_ + "/mine.txt", "the user's");
  const KwUninstallResult r = KwUninstallFrom((install_ + "/uninstall.exe").c_str(),
                                              home_.dataHome().c_str(), home_.desktop().c_str());
  EXPECT_EQ(r.failed, 0);
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(install_)) left.push_back(e.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"mine.txt"});
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
}

TEST_F(StagedInstall, WhatAKilledRunLeftIsClearedAndTheSameVersionIsReplacedWhole) {
  ASSERT_EQ(InstallLocal(dir_ / "p200", "V2.0.0", install_), 0) << failure_;
  kwtest::WriteFile(install_ + "/V2.0.0/stale.txt", "from an older build");
  kwtest::WriteFile(install_ + "/.V2.0.0.staging/Windows/Tarnwick.exe", "half");
  kwtest::WriteFile(install_ + "/.V1.9.staging/a", "a");
  ASSERT_EQ(InstallLocal(dir_ / "p200", "V2.0.0", install_), 0) << failure_;
  EXPECT_EQ(CompareTree(AsInstalled(old_), install_ + "/V2.0.0"), "");
  EXPECT_EQ(Leftover(install_), "");
}

// A server whose volume bytes differ from the release it lists: streamed in
// a run mode without a download phase, the bytes unpack without complaint,
// yet nothing of them becomes the version folder and nothing is registered.
TEST_F(StagedInstall, StreamedVolumeThatDiffersFromItsListingNeverBecomesTheVersion) {
  struct Lie {
    const char* what;
    int at;        // header byte changed (the unpacker never reads it)
    int swapWith;  // or swapped with, keeping the lane checksum
    const char* found;
  };
  for (const Lie& lie :
       {Lie{"checksum", 20, -1, "checksum differs"}, Lie{"sha256", 8, 16, "SHA-256 differs"}}) {
    SCOPED_TRACE(lie.what);
    const std::string package = dir_ / (std::string("lying-") + lie.what);
    fs::copy(dir_ / "p200", package);
    std::string bytes = kwtest::ReadFile(package + "/V2.0.0_001.kwk");
    if (lie.swapWith < 0) {
      bytes[lie.at] = 0x55;
    } else {
      ASSERT_NE(bytes[lie.at], bytes[lie.swapWith]);
      std::swap(bytes[lie.at], bytes[lie.swapWith]);
      ASSERT_EQ(Checksum(dir_ / "p200/V2.0.0_001.kwk"), [&] {
        kwtest::WriteFile(dir_ / "probe.kwk", bytes);
        return Checksum(dir_ / "probe.kwk");
      }());
    }
    kwtest::WriteFile(package + "/V2.0.0_001.kwk", bytes);
    ServerProcess server(package, {}, dir_ / "server.log");
    ASSERT_TRUE(server.ok());
    KwSetServerBaseUrl(server.url().c_str());
    Commands owner;
    g_versionText[0] = '\0';
    g_installStage = 0;
    CKWInstallEngine engine(&owner, &disk_);
    engine.SetRunMode(static_cast<int32_t>(RunMode::BesidePackage));
    const char* key = nullptr;
    ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
    engine.WaitUntilFinished();
    EXPECT_NE(engine.LastResult(), 0);
    EXPECT_NE(engine.Progress().failure.find(lie.found), std::string::npos)
        << engine.Progress().failure;
    EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
    EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
    EXPECT_EQ(Leftover(install_), "");
    EXPECT_FALSE(fs::exists(install_ + "/uninstall.exe"));
    EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
    EXPECT_TRUE(KwRecordedVersions(install_).empty());
  }
}

}  // namespace
