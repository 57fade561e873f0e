// The online page's work without a window: the default install folder, the
// resume table, and starting an installed version with its settings written.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/kwpagelaunch.h"
#include "MsgBox/kwpagequery.h"
#include "kwtest/tempdir.h"
#include "platform/kwinifile.h"
#include "platform/kwregistry.h"

namespace {

// Points the key store and the home folder at a temporary folder for one test.
class ScopedHome {
 public:
  explicit ScopedHome(const std::string& dir) {
    Save("HOME");
    Save("KW_REGISTRY_DIR");
    setenv("HOME", dir.c_str(), 1);
    setenv("KW_REGISTRY_DIR", (dir + "/registry").c_str(), 1);
  }
  ~ScopedHome() {
    for (auto& [name, value] : saved_) setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  void Save(const char* name) {
    const char* v = getenv(name);
    saved_.emplace_back(name, v ? v : "");
  }
  std::vector<std::pair<std::string, std::string>> saved_;
};

// The program started detached writes the marker; wait for it (at most 4 s).
std::string WaitForMarker(const std::string& marker) {
  for (int i = 0; i < 200 && !std::filesystem::exists(marker); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return kwtest::ReadFile(marker);
}

}  // namespace

TEST(PageQuery, DefaultFolderFromKeyStoreElseHomeDrive) {
  kwtest::TempDir dir;
  ScopedHome home(dir.path());
  EXPECT_EQ(KwDefaultInstallPath(), dir.path() + "/tarnwickinst");

  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegWrite, &key), 0);
  ASSERT_EQ(key.SetString("InstallPath", ""), 0);
  EXPECT_EQ(KwDefaultInstallPath(), dir.path() + "/tarnwickinst");  // empty value: ignored
  ASSERT_EQ(key.SetString("InstallPath", "/opt/elsewhere"), 0);
  EXPECT_EQ(KwDefaultInstallPath(), "/opt/elsewhere");
}

TEST(PageQuery, ResumeTableListsVolumesAndAlwaysEnds) {
  std::vector<KwResumeEntry> table(4);
  for (auto& e : table) {
    e.name[0] = 'x';
    e.status = 7;
  }
  KwFillResumeTable(table.data(), 4, {"V2.0.0_000.tmp", "V2.0.0_001.tmp"});
  EXPECT_STREQ(table[0].name, "V2.0.0_000.tmp");
  EXPECT_EQ(table[0].status, 0);
  EXPECT_EQ(table[0].offset, 0);
  EXPECT_STREQ(table[1].name, "V2.0.0_001.tmp");
  EXPECT_STREQ(table[2].name, "");

  // More volumes than room: the last entry still ends the table.
  KwFillResumeTable(table.data(), 4, {"a", "b", "c", "d", "e"});
  EXPECT_STREQ(table[2].name, "c");
  EXPECT_STREQ(table[3].name, "");
  // A name longer than the entry is cut, never written past it.
  KwFillResumeTable(table.data(), 4, {std::string(200, 'n')});
  EXPECT_EQ(std::string(table[0].name).size(), 79u);
}

TEST(PageQuery, StartingAVersionWritesItsSettingsFirst) {
  kwtest::TempDir dir;
  const std::string folder = dir / "V2.0.0";
  const std::string marker = dir / "started.txt";
  // The product's program records the settings it found when it starts.
  const std::string ini = KwProductIniPath(folder);
  kwtest::WriteFile(ini, "[OTHER]\nKEEP=1\n");
  kwtest::WriteFile(folder + "/Windows/Tarnwick.exe", "#!/bin/sh\ncat '" + ini + "' > '" + marker +
                                                          ".part'\nmv '" + marker + ".part' '" +
                                                          marker + "'\n");
  std::filesystem::permissions(folder + "/Windows/Tarnwick.exe", std::filesystem::perms::owner_all);

  ASSERT_EQ(KwStartInstalledVersion(dir.path(), "V2.0.0", true), 0);
  char value[256];
  KwGetPrivateProfileString("LANGUAGE", "CODEPAGE", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "936");
  KwGetPrivateProfileString("ACTIONDRIVER", "EXE", "", value, sizeof value, ini.c_str());
  EXPECT_EQ(std::string(value), folder + "/ikwdriver/ikwactionapp.exe");
  KwGetPrivateProfileString("OTHER", "KEEP", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "1");

  EXPECT_NE(WaitForMarker(marker).find("936"), std::string::npos);

  std::filesystem::remove(marker);
  ASSERT_EQ(KwStartInstalledVersion(dir.path(), "V2.0.0", false), 0);
  KwGetPrivateProfileString("LANGUAGE", "CODEPAGE", "", value, sizeof value, ini.c_str());
  EXPECT_STREQ(value, "0");
  EXPECT_NE(WaitForMarker(marker).find("CODEPAGE=0"), std::string::npos);
  // A version folder without the program reports the failure.
  EXPECT_LT(KwStartInstalledVersion(dir.path(), "V9.9.9", false), 0);
}
