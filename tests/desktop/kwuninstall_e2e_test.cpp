// End to end: an installation laid out by hand, the real uninstaller copied
// in as "uninstall.exe" and run from there.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>

#include "MsgBox/desktop/kwshortcut.h"
#include "kwuninstall_fixture.h"

namespace fs = std::filesystem;

namespace {

// Every file below `root` with its bytes (links by their target).
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> out;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string rel = fs::relative(it->path(), root).string();
    if (it->is_symlink()) {
      out[rel] = "-> " + fs::read_symlink(it->path()).string();
    } else if (it->is_regular_file()) {
      out[rel] = kwtest::ReadFile(it->path().string());
    } else {
      out[rel] = "<dir>";
    }
  }
  return out;
}

TEST(UninstallEndToEnd, EverythingOfTheProductGoesAndNothingElse) {
  std::string built = std::string(KW_BUILD_DIR) + "/bin/tarnwick-uninstall";
  if (!fs::exists(built)) GTEST_SKIP() << "tarnwick-uninstall is not built";
  TempHome home;
  const std::string install = home / "tarnwickinst";
  const std::string self = install + "/uninstall.exe";

  // Things that must survive, recorded before the product is laid out.
  kwtest::WriteFile(home / "Documents/notes.txt", "mine");
  kwtest::WriteFile(install + "/V2.0.1/keep.txt", "next version");
  kwtest::WriteFile(home.Data() + "/other-app/settings", "s");
  kwtest::WriteFile(home / "Downloads/readme.txt", "r");
  CreateDesktopShortcut("/usr/bin/other", "Other", 0);
  TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick2", "x", "1");
  auto before = Snapshot(home.Path());

  // The installation.
  kwtest::WriteFile(install + "/V2.0.0/Windows/Tarnwick.exe", "product");
  kwtest::WriteFile(install + "/V2.0.0/ikwdriver/uninstall.exe", "driver");
  fs::create_symlink(home / "Documents", install + "/V2.0.0/docs-link");
  kwtest::WriteFile(home.Data() + "/tarnwick/state.json", "{}");
  kwtest::WriteFile(home / "Downloads/tarnwickinstall.exe", "installer copy");
  kwtest::WriteFile(home / "Downloads/libcurl.dll", "library");
  kwtest::WriteFile(install + "/install.txt", (home / "Downloads/tarnwickinstall.exe"));
  CreateDesktopShortcut((install + "/V2.0.0/Windows/Tarnwick.exe").c_str(), "Tarnwick", 0);
  TempHome::SetValue(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", "InstallPath",
                     install.c_str());
  TempHome::SetValue(KwHive::LocalMachine,
                     "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick",
                     "UninstallString", self.c_str());
  fs::copy_file(built, self);
  fs::permissions(self, fs::perms::owner_all);

  // Run with nowhere to draw: the uninstaller needs no window system.
  std::string command =
      "cd / && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" + self + "'";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  EXPECT_FALSE(fs::exists(self));
  EXPECT_FALSE(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick"));
  EXPECT_FALSE(TempHome::KeyExists(
      KwHive::LocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick"));
  EXPECT_TRUE(TempHome::KeyExists(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick2"));
  // The home holds exactly what it held before the installation (the key
  // store's files aside, checked above).
  auto after = Snapshot(home.Path());
  for (auto* snap : {&before, &after}) {
    for (auto it = snap->begin(); it != snap->end();) {
      it = it->first.rfind("registry", 0) == 0 ? snap->erase(it) : std::next(it);
    }
  }
  EXPECT_EQ(after, before);
}

}  // namespace
