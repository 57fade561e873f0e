// The uninstaller's removal, run in a temporary home.
#include "MsgBox/desktop/kwuninstall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "MsgBox/desktop/kwinstalledversions.h"
#include "kwuninstall_fixture.h"

namespace fs = std::filesystem;

namespace {

class UninstallTest : public ::testing::Test {
 protected:
  std::string Install() const { return home_ / "tarnwickinst"; }
  std::string Self() const { return Install() + "/uninstall.exe"; }
  int32_t Run() {
    return UninstallFrom(Self().c_str(), home_.Data().c_str(), home_.Desktop().c_str());
  }
  TempHome home_;
};

TEST_F(UninstallTest, VersionFolderInAnyCaseGoesAndNearNamesStay) {
  kwtest::WriteFile(Self(), "ELF");
  kwtest::WriteFile(Install() + "/V2.0.0/Windows/Tarnwick.exe", "x");
  kwtest::WriteFile(Install() + "/v2.0.0/lower.txt", "x");
  for (const char* near : {"V2.0.1", "V2.0.00", "V2.0.0 ", "xV2.0.0", "V2_0_0", ".V2.0.0"}) {
    kwtest::WriteFile(Install() + "/" + near + "/keep.txt", "k");
  }
  kwtest::WriteFile(home_ / "elsewhere/precious.txt", "p");
  fs::create_symlink(home_ / "elsewhere", Install() + "/V2.0.0/link");
  // A link named like the version folder is not a folder of ours.
  fs::create_symlink(home_ / "elsewhere", home_ / "other-install-link");
  kwtest::WriteFile(Install() + "/unrelated.txt", "u");
  // The manifest kept for updates goes with its folder; another version's stays.
  kwtest::WriteFile(Install() + "/V2.0.0.kwm", "m");
  kwtest::WriteFile(Install() + "/V2.0.1.kwm", "m");

  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(fs::exists(Install() + "/V2.0.0.kwm"));
  EXPECT_TRUE(fs::exists(Install() + "/V2.0.1.kwm"));
  EXPECT_FALSE(fs::exists(Install() + "/V2.0.0"));
  EXPECT_FALSE(fs::exists(Install() + "/v2.0.0"));
  for (const char* near : {"V2.0.1", "V2.0.00", "V2.0.0 ", "xV2.0.0", "V2_0_0", ".V2.0.0"}) {
    EXPECT_TRUE(fs::exists(Install() + "/" + near + "/keep.txt")) << near;
  }
  EXPECT_EQ(kwtest::ReadFile(home_ / "elsewhere/precious.txt"), "p");
  EXPECT_TRUE(fs::exists(Install() + "/unrelated.txt"));
  EXPECT_FALSE(fs::exists(Self()));
}

TEST_F(UninstallTest, InstallTxtNamesTheInstallerCopyByItsFolder) {
  const std::string downloads = home_ / "Downloads";
  for (const char* content :
       {"/Downloads/tarnwickinstall.exe", "/Downloads/", "/Downloads/x.exe\r\n"}) {
    kwtest::WriteFile(Self(), "ELF");
    kwtest::WriteFile(downloads + "/tarnwickinstall.exe", "i");
    kwtest::WriteFile(downloads + "/libcurl.dll", "l");
    kwtest::WriteFile(downloads + "/other.exe", "o");
    kwtest::WriteFile(Install() + "/Install.TXT", home_.Path() + content);
    EXPECT_EQ(Run(), 0) << content;
    EXPECT_FALSE(fs::exists(Install() + "/Install.TXT")) << content;
    EXPECT_FALSE(fs::exists(downloads + "/tarnwickinstall.exe")) << content;
    EXPECT_FALSE(fs::exists(downloads + "/libcurl.dll")) << content;
    EXPECT_TRUE(fs::exists(downloads + "/other.exe")) << content;
  }
}

TEST_F(UninstallTest, InstallTxtThatIsEmptyOrNotAPlainPathDeletesOnlyItself) {
  const std::string victim = home_ / "victim";
  const char* contents[] = {"",                            // Empty: deleted alone.
                            "victim/tarnwickinstall.exe",  // Relative.
                            "/victim/../victim/tarnwickinstall.exe",
                            "C:\\victim\\tarnwickinstall.exe"};
  // Relative names would be taken from the current folder; make that the
  // home so a wrongly accepted one would hit the victim.
  std::string oldCwd = fs::current_path().string();
  fs::current_path(home_.Path());
  for (const char* content : contents) {
    std::string text = content;
    if (!text.empty() && text[0] == '/') text = home_.Path() + text;
    kwtest::WriteFile(Self(), "ELF");
    kwtest::WriteFile(victim + "/tarnwickinstall.exe", "i");
    kwtest::WriteFile(victim + "/libcurl.dll", "l");
    kwtest::WriteFile(Install() + "/install.txt", text);
    EXPECT_EQ(Run(), 0) << content;
    EXPECT_FALSE(fs::exists(Install() + "/install.txt")) << content;
    EXPECT_TRUE(fs::exists(victim + "/tarnwickinstall.exe")) << content;
    EXPECT_TRUE(fs::exists(victim + "/libcurl.dll")) << content;
  }
  fs::current_path(oldCwd);
  // A link standing where the installer copy is named is removed as a link.
  kwtest::WriteFile(Self(), "ELF");
  fs::create_symlink(victim + "/tarnwickinstall.exe", home_ / "tarnwickinstall.exe");
  kwtest::WriteFile(Install() + "/install.txt", home_.Path() + "/tarnwickinstall.exe");
  Run();
  EXPECT_FALSE(fs::exists(fs::symlink_status(home_ / "tarnwickinstall.exe")));
  EXPECT_TRUE(fs::exists(victim + "/tarnwickinstall.exe"));
}

TEST_F(UninstallTest, MakerKeySurvivesOnlyWhileItHoldsSomething) {
  struct Case {
    const char* what;
    bool otherProduct;
    bool value;
  };
  for (const Case& c : {Case{"empty", false, false}, Case{"other product", true, false},
                        Case{"value", false, true}}) {
    kwtest::WriteFile(Self(), "ELF");
    TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", "InstallPath",
                       Install().c_str());
    TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick\\Sub", "x", "y");
    if (c.otherProduct) TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Other", "a", "b");
    if (c.value) TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws", "Shared", "1");
    TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\Keep", "k", "v");
    Run();
    EXPECT_FALSE(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick")) << c.what;
    EXPECT_EQ(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\kws"), c.otherProduct || c.value)
        << c.what;
    EXPECT_TRUE(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\Keep")) << c.what;
    KwRegKey kws;
    if (KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws", kKwRegWrite, &kws) == 0) {
      kws.DeleteTree(nullptr);
    }
  }
}

TEST_F(UninstallTest, DataFolderShortcutAndProgramsEntryGo) {
  kwtest::WriteFile(Self(), "ELF");
  kwtest::WriteFile(home_.Data() + "/tarnwick/cache/a.bin", "a");
  kwtest::WriteFile(home_.Data() + "/tarnwick-other/keep", "k");
  kwtest::WriteFile(home_.Desktop() + "/Tarnwick.desktop", "d");
  kwtest::WriteFile(home_.Desktop() + "/Tarnwick Installer.desktop", "d");
  kwtest::WriteFile(home_.Data() + "/applications/kws-tarnwick.desktop", "m");
  kwtest::WriteFile(home_.Data() + "/applications/other.desktop", "m");
  const char* programs = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
  TempHome::SetValue(KwHive::LocalMachine, (std::string(programs) + "\\Tarnwick").c_str(),
                     "UninstallString", Self().c_str());
  TempHome::SetValue(KwHive::LocalMachine, (std::string(programs) + "\\Other").c_str(), "x", "y");

  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(fs::exists(home_.Data() + "/tarnwick"));
  EXPECT_TRUE(fs::exists(home_.Data() + "/tarnwick-other/keep"));
  EXPECT_FALSE(fs::exists(home_.Desktop() + "/Tarnwick.desktop"));
  EXPECT_TRUE(fs::exists(home_.Desktop() + "/Tarnwick Installer.desktop"));
  EXPECT_FALSE(fs::exists(home_.Data() + "/applications/kws-tarnwick.desktop"));
  EXPECT_TRUE(fs::exists(home_.Data() + "/applications/other.desktop"));
  EXPECT_FALSE(
      TempHome::KeyExists(KwHive::LocalMachine, (std::string(programs) + "\\Tarnwick").c_str()));
  EXPECT_TRUE(
      TempHome::KeyExists(KwHive::LocalMachine, (std::string(programs) + "\\Other").c_str()));
}

TEST_F(UninstallTest, AnEmptyDataRootNeverMeansTheFileSystemRoot) {
  kwtest::WriteFile(Self(), "ELF");
  EXPECT_EQ(UninstallFrom(Self().c_str(), "", home_.Desktop().c_str()), 0);
  EXPECT_EQ(UninstallFrom((home_ / "missing/uninstall.exe").c_str(), nullptr, nullptr), 1);
}

// Installed versions are recorded per install folder; the uninstaller takes
// each recorded version folder with its volumes, journals and staging
// folders, reports every item, and leaves everything else.
class RecordedVersions : public UninstallTest {
 protected:
  void SetUp() override { kwtest::WriteFile(Self(), "ELF"); }
  KwUninstallResult RunReport() {
    return KwUninstallFrom(Self().c_str(), home_.Data().c_str(), home_.Desktop().c_str());
  }
  static bool Lists(const KwUninstallResult& r, const std::string& item) {
    return std::find(r.removed.begin(), r.removed.end(), item) != r.removed.end();
  }
};

TEST_F(RecordedVersions, AVersionOtherThanTheFirstIsRemovedWhole) {
  ASSERT_EQ(KwRecordInstalledVersion(Install(), "V2.0.1"), 0);
  for (int i = 0; i < 50; ++i) {
    kwtest::WriteFile(Install() + "/V2.0.1/lib/python/m" + std::to_string(i) + ".py", "x");
  }
  const KwUninstallResult r = RunReport();
  EXPECT_EQ(r.failed, 0);
  EXPECT_FALSE(fs::exists(Install() + "/V2.0.1"));
  EXPECT_TRUE(Lists(r, Install() + "/V2.0.1"));
  EXPECT_TRUE(Lists(r, Self()));
  EXPECT_TRUE(KwRecordedVersions(Install()).empty());
}

TEST_F(RecordedVersions, TwoVersionsGoWithTheirCompanionsAndNothingElse) {
  ASSERT_EQ(KwRecordInstalledVersion(Install() + "/", "V2.0.1"), 0);
  ASSERT_EQ(KwRecordInstalledVersion(Install(), "V2.1.0"), 0);
  EXPECT_EQ(KwRecordedVersions(Install()), (std::vector<std::string>{"V2.0.1", "V2.1.0"}));
  // A record for another install folder, and crafted ones that would reach
  // outside this folder, name nothing here.
  const std::string elsewhere = home_ / "elsewhere";
  TempHome::SetValue(KwHive::CurrentUser, kKwVersionsKey, (elsewhere + "/V9").c_str(), "V9");
  TempHome::SetValue(KwHive::CurrentUser, kKwVersionsKey, (Install() + "/..").c_str(), "..");
  TempHome::SetValue(KwHive::CurrentUser, kKwVersionsKey, (Install() + "/x").c_str(), "y");
  kwtest::WriteFile(elsewhere + "/V9/keep.txt", "k");
  kwtest::WriteFile(Install() + "/x/keep.txt", "k");
  kwtest::WriteFile(Install() + "/y/keep.txt", "k");

  kwtest::WriteFile(Install() + "/V2.0.1/Windows/Tarnwick.exe", "a");
  kwtest::WriteFile(Install() + "/V2.1.0/Windows/Tarnwick.exe", "b");
  const std::vector<std::string> companions = {"V2.1.0_000.tmp",
                                               "V2.1.0_001.TMP",
                                               "V2.1.0_001.tmp.journal",
                                               "unzip.ins",
                                               ".V2.2.0.staging/Windows/Tarnwick.exe",
                                               ".V2.0.1.retired/a"};
  for (const auto& c : companions) kwtest::WriteFile(Install() + "/" + c, "c");
  const std::vector<std::string> others = {"V3.0.0/keep.txt", "V2.1.0_000.kwk", "V2.1.0_0000.tmp",
                                           "notes.txt",       "V2.1.0.tmp",     ".hidden"};
  for (const auto& o : others) kwtest::WriteFile(Install() + "/" + o, "o");

  const KwUninstallResult r = RunReport();
  EXPECT_EQ(r.failed, 0);
  for (const char* gone :
       {"V2.0.1", "V2.1.0", "V2.1.0_000.tmp", "V2.1.0_001.TMP", "V2.1.0_001.tmp.journal",
        "unzip.ins", ".V2.2.0.staging", ".V2.0.1.retired"}) {
    EXPECT_FALSE(fs::exists(Install() + "/" + gone)) << gone;
    EXPECT_TRUE(Lists(r, Install() + "/" + gone)) << gone;
  }
  for (const auto& o : others) EXPECT_TRUE(fs::exists(Install() + "/" + o)) << o;
  EXPECT_TRUE(fs::exists(elsewhere + "/V9/keep.txt"));
  EXPECT_TRUE(fs::exists(Install() + "/x/keep.txt"));
  EXPECT_TRUE(fs::exists(Install() + "/y/keep.txt"));
  EXPECT_TRUE(Lists(r, "key store: SOFTWARE\\kws\\Tarnwick"));
  EXPECT_FALSE(TempHome::KeyExists(KwHive::CurrentUser, kKwVersionsKey));
}

TEST(InstalledVersionNames, StagingAndCompanionNamesAreExact) {
  EXPECT_EQ(KwStagingFolderName("V2.0.1"), ".V2.0.1.staging");
  EXPECT_EQ(KwRetiredFolderName("V2.0.1"), ".V2.0.1.retired");
  for (const char* yes : {".V2.0.1.staging", ".V2.0.1.retired", ".x.staging"}) {
    EXPECT_TRUE(KwIsStagingFolderName(yes)) << yes;
  }
  for (const char* no : {"V2.0.1.staging", "..staging", ".staging", "..retired", ".V2.0.1.stage",
                         "./.staging", ".a/b.staging"}) {
    EXPECT_FALSE(KwIsStagingFolderName(no)) << no;
  }
  EXPECT_TRUE(KwIsVersionCompanionName("V2.0.1_000.tmp", "V2.0.1"));
  EXPECT_TRUE(KwIsVersionCompanionName("V2.0.1_123.TmP.journal", "V2.0.1"));
  for (const char* no : {"V2.0.1_00.tmp", "V2.0.1_0000.tmp", "V2.0.1_a00.tmp", "V2.0.10_000.tmp",
                         "V2.0.1_000.kwk", "V2.0.1_000.tmp.journal.x", "xV2.0.1_000.tmp"}) {
    EXPECT_FALSE(KwIsVersionCompanionName(no, "V2.0.1")) << no;
  }
  EXPECT_NE(KwRecordInstalledVersion("/tmp/x", "../y"), 0);
}

}  // namespace
