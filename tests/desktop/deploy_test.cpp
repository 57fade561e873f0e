// Deployment of the second installer without a window: the location checks
// and what a deployment leaves behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwdeploy.h"
#include "kwtest/tempdir.h"
#include "pages/kwpagefixture.h"

namespace fs = std::filesystem;
using kwtest::ReadFile;
using kwtest::WriteFile;

namespace {

class Deploy : public ::testing::Test {
 protected:
  void SetUp() override { home_ = std::make_unique<kwpagetest::ScopedHome>(dir_ / "home"); }

  // A deployment of `bytes` into `location` that records the starts.
  int Run(const std::string& location, const std::string& bytes, const std::string& ini = "",
          int codePage = -1) {
    KwDeployRequest r;
    r.codePage = codePage;
    r.target = KwDeployTargetPath(location);
    r.iniSource = ini;
    r.bytes = reinterpret_cast<const uint8_t*>(bytes.data());
    r.size = bytes.size();
    r.settleMs = 0;
    r.start = [this](const char* program, const char* folder) {
      started_.push_back(std::string(program) + " in " + folder);
      return startResult_;
    };
    return KwDeployInstaller(r);
  }

  kwtest::TempDir dir_;
  std::unique_ptr<kwpagetest::ScopedHome> home_;
  std::vector<std::string> started_;
  int32_t startResult_ = 0;
};

}  // namespace

TEST_F(Deploy, LocationChecksRefuseInOrder) {
  EXPECT_STREQ(KwCheckDeployLocation(""), "pleaseinputtopath");
  // Only the exact letter case is refused, even where the folder is fine.
  fs::create_directories(dir_ / "Program Files");
  fs::create_directories(dir_ / "program files");
  EXPECT_STREQ(KwCheckDeployLocation(dir_ / "Program Files"), "invalidpath");
  EXPECT_STREQ(KwCheckDeployLocation(dir_ / "nowhere/Program Files/x"), "invalidpath");
  EXPECT_EQ(KwCheckDeployLocation(dir_ / "program files"), nullptr);
  // No file can be made: a missing folder, or a file where a folder should be.
  EXPECT_STREQ(KwCheckDeployLocation(dir_ / "missing"), "invalidpath2");
  WriteFile(dir_ / "plain", "x");
  EXPECT_STREQ(KwCheckDeployLocation(dir_ / "plain"), "invalidpath2");
  if (::geteuid() != 0) {
    fs::create_directories(dir_ / "locked");
    ::chmod((dir_ / "locked").c_str(), 0555);
    EXPECT_STREQ(KwCheckDeployLocation(dir_ / "locked"), "invalidpath2");
  }
  // The probe leaves nothing behind.
  EXPECT_FALSE(fs::exists(dir_ / "program files/install.log"));
}

TEST_F(Deploy, RelativeAndHomeLocationsBecomeAbsolute) {
  // The installer is started from inside its folder, so a relative path
  // would name nothing there; "~" is the home folder, not a folder named "~".
  EXPECT_EQ(KwResolveDeployLocation(""), "");
  EXPECT_EQ(KwResolveDeployLocation("/opt/x"), "/opt/x");
  EXPECT_EQ(KwResolveDeployLocation("~"), dir_ / "home");
  EXPECT_EQ(KwResolveDeployLocation("~/apps"), dir_ / "home/apps");
  EXPECT_EQ(KwResolveDeployLocation("~other"), fs::current_path().string() + "/~other");
  EXPECT_EQ(KwResolveDeployLocation("apps/x"), fs::current_path().string() + "/apps/x");
}

TEST_F(Deploy, ProbeNeverTouchesAnExistingInstallLog) {
  // A log of the user's keeps its bytes; a link named install.log is not
  // followed, so the file it points at is neither emptied nor removed.
  fs::create_directories(dir_ / "a");
  WriteFile(dir_ / "a/install.log", "the user's log");
  EXPECT_EQ(KwCheckDeployLocation(dir_ / "a"), nullptr);
  EXPECT_EQ(ReadFile(dir_ / "a/install.log"), "the user's log");

  fs::create_directories(dir_ / "b");
  WriteFile(dir_ / "precious", "keep me");
  fs::create_symlink(dir_ / "precious", dir_ / "b/install.log");
  EXPECT_EQ(KwCheckDeployLocation(dir_ / "b"), nullptr);
  EXPECT_EQ(ReadFile(dir_ / "precious"), "keep me");
  EXPECT_TRUE(fs::is_symlink(dir_ / "b/install.log"));
  EXPECT_EQ(fs::directory_iterator(dir_ / "b")->path().filename(), "install.log");
}

TEST_F(Deploy, WritesRunnableInstallerSettingsAndEntryThenStartsIt) {
  const std::string location = dir_ / "loc";
  fs::create_directories(location);
  const std::string exe = location + "/tarnwick_install/twinstaller.exe";
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nURL=http://127.0.0.1:1/\n");
  ASSERT_EQ(Run(location, std::string("first\0bytes", 11), dir_ / "app/itarnwick.ini"),
            kKwDeployOk);
  EXPECT_EQ(ReadFile(exe), std::string("first\0bytes", 11));
  EXPECT_EQ(fs::status(exe).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(ReadFile(location + "/tarnwick_install/itarnwick.ini"),
            "[SERVER]\nURL=http://127.0.0.1:1/\n");
  const std::string entry = ReadFile(dir_ / "home/Desktop/Tarnwick Installer.desktop");
  EXPECT_NE(entry.find("Exec=" + exe + "\n"), std::string::npos) << entry;
  EXPECT_NE(entry.find("Comment=Tarnwick Installer\n"), std::string::npos) << entry;
  // Its icon is a picture placed in the data folder, not the executable.
  const std::string icon = dir_ / "home/.local/share/tarnwick/tarnwick.png";
  EXPECT_NE(entry.find("Icon=" + icon + "\n"), std::string::npos) << entry;
  EXPECT_EQ(ReadFile(icon).substr(1, 3), "PNG");
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_EQ(started_[0], exe + " in " + location + "/tarnwick_install");

  // The same location again replaces the installer (even one that lost its
  // run bits) and the entry; without a settings file beside this program
  // the earlier copy stays.
  ::chmod(exe.c_str(), 0644);
  ASSERT_EQ(Run(location, "second", dir_ / "app/none.ini"), kKwDeployOk);
  EXPECT_EQ(ReadFile(exe), "second");
  EXPECT_EQ(fs::status(exe).permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
  EXPECT_EQ(started_.size(), 2u);
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir_ / "home/Desktop")) {
    entries += e.path().filename().string().rfind("Tarnwick Installer", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(entries, 1);
  EXPECT_TRUE(fs::exists(location + "/tarnwick_install/itarnwick.ini"));

  // The language chosen on the first page goes into the copied settings,
  // whose other keys stay.
  ASSERT_EQ(Run(location, "third", dir_ / "app/itarnwick.ini", 0), kKwDeployOk);
  const std::string settings = ReadFile(location + "/tarnwick_install/itarnwick.ini");
  EXPECT_NE(settings.find("URL=http://127.0.0.1:1/"), std::string::npos) << settings;
  EXPECT_NE(settings.find("[LANGUAGE]"), std::string::npos) << settings;
  EXPECT_NE(settings.find("CODEPAGE=0"), std::string::npos) << settings;
  ASSERT_EQ(Run(location, "fourth", dir_ / "app/itarnwick.ini", 936), kKwDeployOk);
  EXPECT_NE(ReadFile(location + "/tarnwick_install/itarnwick.ini").find("CODEPAGE=936"),
            std::string::npos);
}

TEST_F(Deploy, FailuresStartNothingOrSayTheStartFailed) {
  EXPECT_EQ(Run(dir_ / "x", ""), kKwDeployNothingCarried);
  // "tarnwick_install" is a file: nothing can be written, nothing starts,
  // no entry is made.
  WriteFile(dir_ / "loc/tarnwick_install", "in the way");
  EXPECT_EQ(Run(dir_ / "loc", "bytes"), kKwDeployWriteFailed);
  EXPECT_TRUE(started_.empty());
  EXPECT_FALSE(fs::exists(dir_ / "home/Desktop/Tarnwick Installer.desktop"));

  startResult_ = -2;
  fs::create_directories(dir_ / "ok");
  EXPECT_EQ(Run(dir_ / "ok", "bytes"), kKwDeployStartFailed);
  EXPECT_EQ(started_.size(), 1u);
}

// The deployed installer reads its release key beside its settings, so the
// key file the settings name goes with them; everything written stays
// within the umask.
TEST_F(Deploy, ReleaseKeyGoesWithTheSettingsAndModesFollowTheUmask) {
  const std::string location = dir_ / "loc";
  fs::create_directories(location);
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nPUBKEY=release.key.pub\n");
  WriteFile(dir_ / "app/release.key.pub", "-----BEGIN PUBLIC KEY-----\n...\n");
  const mode_t saved = ::umask(077);
  const int r = Run(location, "#!installer", dir_ / "app/itarnwick.ini");
  ::umask(saved);
  ASSERT_EQ(r, kKwDeployOk);
  const std::string folder = location + "/tarnwick_install";
  EXPECT_EQ(ReadFile(folder + "/release.key.pub"), "-----BEGIN PUBLIC KEY-----\n...\n");
  auto mode = [](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  };
  EXPECT_EQ(mode(folder + "/twinstaller.exe"), 0700u);
  EXPECT_EQ(mode(folder + "/itarnwick.ini"), 0600u);
  EXPECT_EQ(mode(folder + "/release.key.pub"), 0600u);
  EXPECT_EQ(mode(dir_ / "home/Desktop/Tarnwick Installer.desktop"), 0700u);
}

// Settings that name a key file which is not beside them (or one outside
// their folder) would give an installer that refuses every release: nothing
// is deployed.
TEST_F(Deploy, SettingsNamingAMissingKeyFileDeployNothing) {
  fs::create_directories(dir_ / "loc");
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nPUBKEY=release.key.pub\n");
  EXPECT_EQ(Run(dir_ / "loc", "#!installer", dir_ / "app/itarnwick.ini"), kKwDeployKeyMissing);
  WriteFile(dir_ / "key.pub", "key");
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nPUBKEY=../key.pub\n");
  EXPECT_EQ(Run(dir_ / "loc", "#!installer", dir_ / "app/itarnwick.ini"), kKwDeployKeyMissing);
  EXPECT_FALSE(fs::exists(dir_ / "loc/tarnwick_install"));
  EXPECT_FALSE(fs::exists(dir_ / "home/Desktop/Tarnwick Installer.desktop"));
  EXPECT_TRUE(started_.empty());
  // A key named by its full path or given inline needs no copy.
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nPUBKEY=" + (dir_ / "key.pub") + "\n");
  EXPECT_EQ(Run(dir_ / "loc", "#!installer", dir_ / "app/itarnwick.ini"), kKwDeployOk);
  WriteFile(dir_ / "app/itarnwick.ini", "[SERVER]\nPUBKEY=" + std::string(64, 'a') + "\n");
  EXPECT_EQ(Run(dir_ / "loc", "#!installer", dir_ / "app/itarnwick.ini"), kKwDeployOk);
}
