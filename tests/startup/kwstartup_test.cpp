// Start-up: the common folders and settings, and the bundling step.
#include "kwpanel/kwstartup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kwpanel/kwbundle.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "makepackage/pkgtestutil.h"
#include "platform/kwregistry.h"

namespace fs = std::filesystem;

namespace {

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KW_REGISTRY_DIR", (dir_ / "registry").c_str(), 1);
    KwFillProgramDirFrom((dir_.path() + "/tarnwick-installer").c_str());
    ini_ = dir_ / "itarnwick.ini";
  }
  void SetInstallPath(const std::string& value) {
    KwRegKey key;
    ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegWrite, &key),
              0);
    ASSERT_EQ(key.SetString("InstallPath", value.c_str()), 0);
  }
  kwtest::TempDir dir_;
  std::string ini_;
};

TEST_F(StartupTest, FoldersAreCutAtTheLastSeparatorOfEitherKind) {
  KwFillExePathsFrom("/opt/tw/bin/tarnwick-installer");
  EXPECT_STREQ(g_exePath, "/opt/tw/bin/tarnwick-installer");
  EXPECT_STREQ(g_exeDir, "/opt/tw/bin");
  KwFillExePathsFrom("C:\\Program Files/Tarnwick\\setup.exe");
  EXPECT_STREQ(g_exeDir, "C:\\Program Files/Tarnwick");
  KwFillExePathsFrom("D:/a/b/setup.exe");
  EXPECT_STREQ(g_exeDir, "D:/a/b");
  KwFillExePathsFrom("setup.exe");
  EXPECT_STREQ(g_exeDir, "");

  KwFillProgramDirFrom("/srv/x/y\\prog");
  EXPECT_STREQ(g_programDir, "/srv/x/y");
  EXPECT_STREQ(g_programDirCopy, "/srv/x/y");
  EXPECT_STREQ(g_logRoot, "/srv/x/y/log");
  // The program folder is fetched with at most 510 characters.
  std::string longPath = "/" + std::string(600, 'p') + "/prog";
  KwFillProgramDirFrom(longPath.c_str());
  EXPECT_LE(std::string(g_programDir).size(), 509u);

  // The real executable's own folder.
  ASSERT_TRUE(KwFillExePaths());
  EXPECT_EQ(std::string(g_exeDir), fs::canonical("/proc/self/exe").parent_path().string());
}

TEST_F(StartupTest, InstallPathIsReadOrLeftEmpty) {
  KwCopyText(g_installPath, sizeof(g_installPath), "stale");
  KwReadInstallPath();  // No key at all.
  EXPECT_STREQ(g_installPath, "");

  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegWrite, &key), 0);
  KwReadInstallPath();  // Key without the value.
  EXPECT_STREQ(g_installPath, "");

  SetInstallPath("/home/u/tarnwick inst/中文");
  KwReadInstallPath();
  EXPECT_STREQ(g_installPath, "/home/u/tarnwick inst/中文");

  // Too long for the 512-byte folder: ignored rather than cut to another place.
  SetInstallPath("/" + std::string(600, 'x'));
  KwReadInstallPath();
  EXPECT_STREQ(g_installPath, "");
}

TEST_F(StartupTest, ActionDriverFallsBackWhenTheNamedFileIsMissingOrEmpty) {
  const std::string fallback = dir_.path() + "/ikwactionapp.exe";
  KwReadActionExe(ini_.c_str());  // No ini file.
  EXPECT_EQ(g_actionExe, fallback);

  kwtest::WriteFile(ini_, "[LANGUAGE]\nCODEPAGE=0\n");
  KwReadActionExe(ini_.c_str());  // No ACTIONDRIVER section.
  EXPECT_EQ(g_actionExe, fallback);

  kwtest::WriteFile(ini_, "[ACTIONDRIVER]\nEXE=" + dir_.path() + "/missing.exe\n");
  KwReadActionExe(ini_.c_str());
  EXPECT_EQ(g_actionExe, fallback);

  kwtest::WriteFile(dir_ / "empty.exe", "");
  kwtest::WriteFile(ini_, "[ACTIONDRIVER]\nEXE=" + dir_.path() + "/empty.exe\n");
  KwReadActionExe(ini_.c_str());
  EXPECT_EQ(g_actionExe, fallback);

  kwtest::WriteFile(dir_ / "driver.exe", "MZ");
  kwtest::WriteFile(ini_, "[actiondriver]\nexe = " + dir_.path() + "/driver.exe\n");
  KwReadActionExe(ini_.c_str());
  EXPECT_EQ(g_actionExe, dir_.path() + "/driver.exe");
}

TEST_F(StartupTest, CodePageDefaultsTo936WithoutALanguageSection) {
  EXPECT_EQ(KwReadCodePage(ini_.c_str()), 936);
  kwtest::WriteFile(ini_, "[ACTIONDRIVER]\nEXE=x\n");
  EXPECT_EQ(KwReadCodePage(ini_.c_str()), 936);
  kwtest::WriteFile(ini_, "[Language]\nCodePage=0\n");
  EXPECT_EQ(KwReadCodePage(ini_.c_str()), 0);
  char path[600];
  KwIniPath(path, sizeof(path));
  EXPECT_EQ(std::string(path), ini_);
}

TEST_F(StartupTest, DataFolderIsMadeWithItsParents) {
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_DATA_HOME", (dir_ / "fresh/share").c_str(), 1);
  KwFormDataDir();
  EXPECT_EQ(std::string(g_dataDir), dir_ / "fresh/share/tarnwick");
  EXPECT_TRUE(fs::is_directory(g_dataDir));
  if (old) {
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

// A whole one-file package in one volume.
std::string WholeVolume() {
  uint8_t head[kwpkg::kVolumeHeaderSize];
  kwpkg::EncodeVolumeHeader(head, 0);
  return std::string(reinterpret_cast<char*>(head), sizeof(head)) +
         pkgtest::FileRecords("/x", std::string(8192 * 2, 'v'));
}

TEST(BundleStep, InstallerThenMarkerThenVolume) {
  kwtest::TempDir dir;
  std::string installer(20000, '\0');
  for (size_t i = 0; i < installer.size(); ++i) installer[i] = static_cast<char>(i * 7);
  const std::string volume = WholeVolume();
  kwtest::WriteFile(dir / "inst", installer);
  chmod((dir / "inst").c_str(), 0755);
  kwtest::WriteFile(dir / "v201_000.kwk", volume);
  ASSERT_EQ(KwRunBundleStep((dir / "inst").c_str(), (dir / "v201_000.kwk").c_str(),
                            (dir / "out").c_str()),
            0);
  std::string marker = std::string(8, '\x01') + std::string(8, '\x02') + std::string(8, '\x03') +
                       "v201" + std::string(4, '\0');
  ASSERT_EQ(marker.size(), 32u);
  EXPECT_EQ(kwtest::ReadFile(dir / "out"), installer + marker + volume);
  EXPECT_TRUE((fs::status(dir / "out").permissions() & fs::perms::owner_exec) != fs::perms::none);
}

TEST(BundleStep, TheVersionFieldIsTheVolumesPackageName) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "inst", "ELF");
  kwtest::WriteFile(dir / "V2.0.0_000.kwk", WholeVolume());
  ASSERT_EQ(KwRunBundleStep((dir / "inst").c_str(), (dir / "V2.0.0_000.kwk").c_str(),
                            (dir / "out").c_str()),
            0);
  EXPECT_EQ(kwtest::ReadFile(dir / "out").substr(3 + 24, 8), std::string("V2.0.0\0\0", 8));
}

TEST(BundleStep, AFileThatCannotBeOpenedStopsWithoutWriting) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "inst", "ELF");
  kwtest::WriteFile(dir / "vol", WholeVolume());
  EXPECT_EQ(
      KwRunBundleStep((dir / "missing").c_str(), (dir / "vol").c_str(), (dir / "out").c_str()), -1);
  EXPECT_EQ(
      KwRunBundleStep((dir / "inst").c_str(), (dir / "missing").c_str(), (dir / "out").c_str()),
      -1);
  EXPECT_FALSE(fs::exists(dir / "out"));
  EXPECT_EQ(KwRunBundleStep((dir / "inst").c_str(), (dir / "vol").c_str(),
                            (dir / "no/such/folder/out").c_str()),
            -2);
  // The output named as one of the inputs would be emptied before it is read.
  EXPECT_EQ(KwRunBundleStep((dir / "inst").c_str(), (dir / "vol").c_str(), (dir / "vol").c_str()),
            -2);
  EXPECT_EQ(kwtest::ReadFile(dir / "vol"), WholeVolume());
  // Half a package is refused with its reason.
  std::string why;
  kwtest::WriteFile(dir / "P_000.kwk", WholeVolume().substr(0, 24 + 8 + 528 + 8));
  EXPECT_EQ(KwRunBundleStep((dir / "inst").c_str(), (dir / "P_000.kwk").c_str(),
                            (dir / "out").c_str(), &why),
            -4);
  EXPECT_FALSE(why.empty());
  EXPECT_FALSE(fs::exists(dir / "out"));
}

}  // namespace
