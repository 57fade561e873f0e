// Desktop entries made by the shortcut maker.
#include "MsgBox/desktop/kwshortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "MsgBox/desktop/kwproducticon.h"
#include "kwuninstall_fixture.h"

namespace fs = std::filesystem;

namespace {

TEST(Shortcut, DesktopEntryForTheProduct) {
  TempHome home;
  CreateDesktopShortcut("/home/u/tarnwickinst/V2.0.0/Windows/Tarnwick.exe", "Tarnwick", 0);
  std::string link = home.Desktop() + "/Tarnwick.desktop";
  EXPECT_EQ(kwtest::ReadFile(link),
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Tarnwick\nComment=Tarnwick\n"
            "Exec=/home/u/tarnwickinst/V2.0.0/Windows/Tarnwick.exe\n"
            "Path=/home/u/tarnwickinst/V2.0.0/Windows\n"
            "Icon=/home/u/tarnwickinst/V2.0.0/Windows/Tarnwick.exe\nTerminal=false\n");
  struct stat st;
  ASSERT_EQ(stat(link.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST(Shortcut, SameNameTwiceOverwritesAndKeepsTheExecutableBit) {
  TempHome home;
  std::string link = home.Desktop() + "/Tarnwick Installer.desktop";
  kwtest::WriteFile(link, "old");
  chmod(link.c_str(), 0600);
  CreateDesktopShortcut("/a/first", "Tarnwick Installer", 1);
  CreateDesktopShortcut("/b/second", "Tarnwick Installer", 1);
  std::string text = kwtest::ReadFile(link);
  EXPECT_NE(text.find("Exec=/b/second\n"), std::string::npos);
  EXPECT_EQ(text.find("/a/first"), std::string::npos);
  EXPECT_NE(text.find("Comment=Tarnwick Installer\n"), std::string::npos);
  EXPECT_NE(text.find("Name=Tarnwick Installer\n"), std::string::npos);
  struct stat st;
  ASSERT_EQ(stat(link.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(fs::directory_iterator(home.Desktop())->path().filename(),
            "Tarnwick Installer.desktop");
}

TEST(Shortcut, TargetsWithReservedCharactersAreQuoted) {
  kwtest::TempDir dir;
  std::string link = dir / "x.desktop";
  ASSERT_EQ(CreateShellLink("/opt/My Apps/100%/a\"b$c", link.c_str(), 0), 0);
  std::string text = kwtest::ReadFile(link);
  // Quoted for the launcher, then backslashes escaped as in every value.
  EXPECT_NE(text.find("Exec=\"/opt/My Apps/100%%/a\\\\\"b\\\\$c\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Path=/opt/My Apps/100%\n"), std::string::npos);
}

TEST(Shortcut, MissingTargetGives87AndNoFile) {
  TempHome home;
  kwtest::TempDir dir;
  EXPECT_EQ(CreateShellLink(nullptr, (dir / "a.desktop").c_str(), 0), 87);
  EXPECT_EQ(CreateShellLink("", (dir / "a.desktop").c_str(), 0), 87);
  EXPECT_EQ(CreateShellLink("/bin/true", "", 0), 87);
  EXPECT_FALSE(fs::exists(dir / "a.desktop"));
  CreateDesktopShortcut(nullptr, "Tarnwick", 0);
  CreateDesktopShortcut("/bin/true", "../escape", 0);
  EXPECT_FALSE(fs::exists(home.Desktop() + "/Tarnwick.desktop"));
  EXPECT_FALSE(fs::exists(home.Path() + "/escape.desktop"));
  EXPECT_NE(CreateShellLink("/bin/true", (dir / "no/such/folder.desktop").c_str(), 0), 0);
}

TEST(Shortcut, DeleteRemovesOnlyTheProductEntry) {
  TempHome home;
  CreateDesktopShortcut("/x/Tarnwick.exe", "Tarnwick", 0);
  CreateDesktopShortcut("/x/twinstaller.exe", "Tarnwick Installer", 1);
  DeleteDesktopShortcut();
  EXPECT_FALSE(fs::exists(home.Desktop() + "/Tarnwick.desktop"));
  EXPECT_TRUE(fs::exists(home.Desktop() + "/Tarnwick Installer.desktop"));
  DeleteDesktopShortcut();  // Nothing left to remove is fine.
}

TEST(MenuEntry, PlacedIconIsThePngAndBothEntriesShowIt) {
  TempHome home;
  std::string icon = KwPlaceProductIcon(home.Data().c_str());
  ASSERT_EQ(icon, home.Data() + "/tarnwick/tarnwick.png");
  std::string png = kwtest::ReadFile(icon);
  size_t size = 0;
  const unsigned char* bytes = KwProductIconData(&size);
  EXPECT_EQ(png, std::string(reinterpret_cast<const char*>(bytes), size));
  // A square PNG: the IHDR chunk's width and height, both 256.
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
  EXPECT_EQ(png.substr(16, 8), std::string("\0\0\1\0\0\0\1\0", 8));
  // A fresh home has no data folder yet: it is made.
  EXPECT_EQ(KwPlaceProductIcon((home / "fresh/.local/share").c_str()),
            home / "fresh/.local/share/tarnwick/tarnwick.png");
  EXPECT_EQ(KwPlaceProductIcon(""), "");
  EXPECT_EQ(KwPlaceProductIcon("relative/data"), "");

  const char* exe = "/opt/My Apps/V2.0.0/Windows/Tarnwick.exe";
  ASSERT_EQ(KwCreateMenuEntry(exe, icon.c_str()), 0);
  std::string menu = home.Data() + "/applications/kws-tarnwick.desktop";
  EXPECT_EQ(kwtest::ReadFile(menu),
            "[Desktop Entry]\nType=Application\nVersion=1.0\nName=Tarnwick\n"
            "Exec=\"/opt/My Apps/V2.0.0/Windows/Tarnwick.exe\"\n"
            "Path=/opt/My Apps/V2.0.0/Windows\nIcon=" +
                icon + "\nTerminal=false\n");
  struct stat st;
  ASSERT_EQ(stat(menu.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_EQ(KwCreateMenuEntry(exe, ""), 87);
  EXPECT_EQ(KwCreateMenuEntry(nullptr, icon.c_str()), 87);

  CreateDesktopShortcutWithIcon(exe, "Tarnwick", 0, icon.c_str());
  std::string desktop = kwtest::ReadFile(home.Desktop() + "/Tarnwick.desktop");
  EXPECT_NE(desktop.find("\nIcon=" + icon + "\n"), std::string::npos) << desktop;
  EXPECT_NE(desktop.find("\nComment=Tarnwick\n"), std::string::npos) << desktop;
}

}  // namespace
