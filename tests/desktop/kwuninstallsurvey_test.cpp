// Which uninstaller the shared entries belong to, what the survey lists, and
// one installer per install folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwinstancelock.h"
#include "MsgBox/desktop/kwuninstall.h"
#include "MsgBox/desktop/kwuninstallsurvey.h"
#include "kwuninstall_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPrograms =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";

std::vector<std::string> Keys(const std::vector<KwUninstallItem>& items) {
  std::vector<std::string> keys;
  for (const KwUninstallItem& i : items) keys.push_back(std::string(i.key) + ":" + i.name);
  return keys;
}

// An installation in `folder` as the installer leaves it: version folder,
// uninstaller, data folder, desktop and menu entries, settings and the
// installed-programs entry.
void LayOut(const TempHome& home, const std::string& folder) {
  kwtest::WriteFile(folder + "/uninstall.exe", "ELF");
  kwtest::WriteFile(folder + "/V2.0.0/README.txt", "r");
  kwtest::WriteFile(home.Data() + "/tarnwick/icon.png", "i");
  kwtest::WriteFile(home.Desktop() + "/Tarnwick.desktop", "d");
  kwtest::WriteFile(home.Data() + "/applications/kws-tarnwick.desktop", "m");
  TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", "InstallPath", folder.c_str());
  TempHome::SetValue(KwHive::LocalMachine, kPrograms, "UninstallString",
                     (folder + "/uninstall.exe").c_str());
}

TEST(UninstallOwnFolder, ACopyInAnotherFolderLeavesTheRealInstallationsEntries) {
  TempHome home;
  const std::string real = home / "tarnwickinst";
  const std::string copy = home / "Downloads/elsewhere";
  LayOut(home, real);
  kwtest::WriteFile(copy + "/uninstall.exe", "ELF");
  kwtest::WriteFile(copy + "/V2.0.0/stray.txt", "s");

  EXPECT_TRUE(KwEntriesNameFolder(real));
  EXPECT_TRUE(KwEntriesNameFolder(real + "/"));
  EXPECT_FALSE(KwEntriesNameFolder(copy));
  EXPECT_EQ(KwEntriesFolder(), real);
  // The copy's survey lists only what lies in its own folder.
  const std::string self = copy + "/uninstall.exe";
  EXPECT_EQ(Keys(KwSurveyUninstall(self.c_str(), home.Data().c_str(), home.Desktop().c_str())),
            std::vector<std::string>{"uninst_version:V2.0.0"});

  UninstallFrom(self.c_str(), home.Data().c_str(), home.Desktop().c_str());
  EXPECT_FALSE(fs::exists(copy + "/V2.0.0"));
  EXPECT_FALSE(fs::exists(self));
  // The real installation keeps its files, entries and settings.
  EXPECT_TRUE(fs::exists(real + "/V2.0.0/README.txt"));
  EXPECT_TRUE(fs::exists(home.Data() + "/tarnwick/icon.png"));
  EXPECT_TRUE(fs::exists(home.Desktop() + "/Tarnwick.desktop"));
  EXPECT_TRUE(fs::exists(home.Data() + "/applications/kws-tarnwick.desktop"));
  EXPECT_TRUE(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick"));
  EXPECT_TRUE(TempHome::KeyExists(KwHive::LocalMachine, kPrograms));

  // Its own uninstaller removes everything; the survey is empty afterwards,
  // so a second run has nothing to remove.
  const std::string own = real + "/uninstall.exe";
  EXPECT_EQ(Keys(KwSurveyUninstall(own.c_str(), home.Data().c_str(), home.Desktop().c_str())),
            (std::vector<std::string>{"uninst_version:V2.0.0", "uninst_data:", "uninst_desktop:",
                                      "uninst_menu:", "uninst_settings:", "uninst_programs:"}));
  EXPECT_EQ(UninstallFrom(own.c_str(), home.Data().c_str(), home.Desktop().c_str()), 0);
  EXPECT_TRUE(KwSurveyUninstall(own.c_str(), home.Data().c_str(), home.Desktop().c_str()).empty());
  EXPECT_FALSE(TempHome::KeyExists(KwHive::LocalMachine, kPrograms));
}

TEST(UninstallOwnFolder, EitherEntryNamingTheFolderIsEnough) {
  TempHome home;
  const std::string folder = home / "inst";
  kwtest::WriteFile(folder + "/uninstall.exe", "ELF");
  EXPECT_TRUE(KwEntriesNameFolder(folder));  // nothing claims the entries
  TempHome::SetValue(KwHive::LocalMachine, kPrograms, "UninstallString",
                     (folder + "/uninstall.exe").c_str());
  EXPECT_TRUE(KwEntriesNameFolder(folder));
  TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", "InstallPath",
                     (home / "other").c_str());
  EXPECT_TRUE(KwEntriesNameFolder(folder));
  EXPECT_TRUE(KwEntriesNameFolder(home / "other"));
  EXPECT_FALSE(KwEntriesNameFolder(home / "third"));
}

TEST(InstanceLock, OneHolderPerFolderAndTheSecondAsksItToComeForward) {
  TempHome home;
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_RUNTIME_DIR", home.Path().c_str(), 1);
  const std::string folder = home / "tarnwickinst";
  KwInstanceLock first;
  ASSERT_TRUE(first.Acquire(folder));
  EXPECT_TRUE(first.held());
  EXPECT_FALSE(first.TakeRaiseRequest());
  KwInstanceLock second;
  EXPECT_FALSE(second.Acquire(folder + "/"));  // the same folder, written otherwise
  EXPECT_FALSE(second.held());
  EXPECT_TRUE(first.TakeRaiseRequest());
  EXPECT_FALSE(first.TakeRaiseRequest());  // used up
  // Another folder has a lock of its own.
  KwInstanceLock other;
  EXPECT_TRUE(other.Acquire(home / "elsewhere"));
  EXPECT_NE(KwInstanceLock::LockPathFor(folder), KwInstanceLock::LockPathFor(home / "elsewhere"));
  // Released (as when the first installer ends), the folder is free again
  // and its lock file gone.
  first.Release();
  EXPECT_FALSE(std::filesystem::exists(KwInstanceLock::LockPathFor(folder)));
  EXPECT_TRUE(second.Acquire(folder));
  // One that opened the file just before its holder let go locks a file
  // without a name: it must not count as holding the folder beside a third.
  {
    KwInstanceLock third;
    const int early = ::open(KwInstanceLock::LockPathFor(folder).c_str(), O_RDWR);
    ASSERT_GE(early, 0);
    second.Release();
    EXPECT_EQ(::flock(early, LOCK_EX | LOCK_NB), 0);  // the file that lost its name
    EXPECT_TRUE(third.Acquire(folder));               // a new file under the name
    KwInstanceLock fourth;
    EXPECT_FALSE(fourth.Acquire(folder));
    ::close(early);
  }
  if (old != nullptr) {
    setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
}

}  // namespace
