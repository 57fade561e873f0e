// Known folders, disk space, drives, the executable's path, process start,
// and the file helpers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "baseutil/kwfilehelpers.h"
#include "kwtest/tempdir.h"
#include "platform/kwdrives.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"

namespace fs = std::filesystem;

namespace {

std::string Folder(KwKnownFolder which) {
  char out[1024];
  return KwGetKnownFolder(which, out, sizeof(out)) == 0 ? out : "<none>";
}

class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) old_ = v;
  }
  ~EnvGuard() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(KnownFolders, FollowTheEnvironmentAndUserDirs) {
  EnvGuard home("HOME"), data("XDG_DATA_HOME"), config("XDG_CONFIG_HOME"), desk("XDG_DESKTOP_DIR"),
      tmp("TMPDIR");
  kwtest::TempDir dir;
  setenv("HOME", dir.path().c_str(), 1);
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
  unsetenv("XDG_DESKTOP_DIR");
  unsetenv("TMPDIR");
  EXPECT_EQ(Folder(KwKnownFolder::AppData), dir / ".local/share");
  EXPECT_EQ(Folder(KwKnownFolder::CommonDesktop), dir / "Desktop");
  EXPECT_EQ(Folder(KwKnownFolder::Temp), "/tmp");
  kwtest::WriteFile(dir / ".config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\nXDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n");
  EXPECT_EQ(Folder(KwKnownFolder::Desktop), dir / "Schreibtisch");
  setenv("XDG_DATA_HOME", "relative/ignored", 1);
  EXPECT_EQ(Folder(KwKnownFolder::AppData), dir / ".local/share");
  setenv("XDG_DATA_HOME", "/data/", 1);
  EXPECT_EQ(Folder(KwKnownFolder::AppData), "/data");
  setenv("XDG_DESKTOP_DIR", "/desk", 1);
  EXPECT_EQ(Folder(KwKnownFolder::CommonDesktop), "/desk");
  char tiny[4];
  EXPECT_EQ(KwGetKnownFolder(KwKnownFolder::AppData, tiny, sizeof(tiny)), -1);
  EXPECT_STREQ(tiny, "");
}

TEST(DiskSpace, AFolderNotYetMadeIsMeasuredAtItsNearestParent) {
  kwtest::TempDir dir;
  uint64_t freeHere = 0, totalHere = 0, freeDeep = 0, totalDeep = 0;
  ASSERT_EQ(KwGetDiskSpace(dir.path().c_str(), &freeHere, &totalHere), 0);
  ASSERT_EQ(KwGetDiskSpace((dir / "not/yet/made/").c_str(), &freeDeep, &totalDeep), 0);
  EXPECT_GT(totalHere, 0u);
  EXPECT_EQ(totalDeep, totalHere);
  EXPECT_LE(freeHere, totalHere);
  kwtest::WriteFile(dir / "file", "x");
  EXPECT_EQ(KwGetDiskSpace((dir / "file/below").c_str(), &freeDeep, &totalDeep), 0);
  EXPECT_NE(KwGetDiskSpace("", &freeDeep, &totalDeep), 0);
}

TEST(Drives, HomeIsTheFixedDrive) {
  EnvGuard home("HOME");
  kwtest::TempDir dir;
  setenv("HOME", dir.path().c_str(), 1);
  std::vector<KwDrive> drives = KwListDrives();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(drives[0].root, dir.path() + "/");
  EXPECT_EQ(drives[0].type, KwDriveType::Fixed);
  for (size_t i = 1; i < drives.size(); ++i) EXPECT_EQ(drives[i].type, KwDriveType::Removable);
  EXPECT_EQ(KwGetDriveType((dir / "missing").c_str()), KwDriveType::NoRootDir);
  EXPECT_EQ(KwGetDriveType(dir.path().c_str()), KwDriveType::Fixed);
}

TEST(Process, ExecutablePathAndDetachedStart) {
  char self[1024];
  ASSERT_GT(KwGetExecutablePath(self, sizeof(self)), 0);
  EXPECT_EQ(fs::canonical("/proc/self/exe").string(), self);
  char tiny[4];
  EXPECT_EQ(KwGetExecutablePath(tiny, sizeof(tiny)), -1);

  kwtest::TempDir dir;
  const char* args[] = {"-c", "pwd > started.txt", nullptr};
  ASSERT_EQ(KwStartDetached("/bin/sh", args, dir.path().c_str()), 0);
  std::string marker = dir / "started.txt";
  for (int i = 0; i < 200 && kwtest::ReadFile(marker).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(kwtest::ReadFile(marker), dir.path() + "\n");
  EXPECT_NE(KwStartDetached((dir / "no-such-program").c_str(), nullptr, nullptr), 0);
  EXPECT_NE(KwOpenUrl("--help"), 0);
}

TEST(FileHelpers, CreateFoldersForPathMakesEveryFolderButNeverTheFile) {
  kwtest::TempDir dir;
  std::string file = dir.path() + "/a\\b/c/file.txt";
  CreateFoldersForPath(file.c_str());
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  EXPECT_FALSE(fs::exists(dir / "a/b/c/file.txt"));
  CreateFoldersForPath(file.c_str());  // Existing folders are fine.
  EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
  CreateFoldersForPath("nofolder.txt");
  CreateFoldersForPath(nullptr);
}

// Short leading components ("/tw" of "/tw/inst") used to be skipped as if
// they were a drive prefix; a relative path shows it without touching "/".
TEST(FileHelpers, CreateFoldersForPathMakesShortLeadingFolders) {
  kwtest::TempDir dir;
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  CreateFoldersForPath("t/i/n/file.txt");
  CreateFoldersForPath("tw/inst/file.txt");
  fs::current_path(before);
  EXPECT_TRUE(fs::is_directory(dir / "t/i/n"));
  EXPECT_TRUE(fs::is_directory(dir / "tw/inst"));
}

// The segment writer opens without creating, the planner with: either way a
// link at the volume's name is removed and its target keeps its bytes.
TEST(FileHelpers, OpenVolumeForWriteRemovesALinkAndNeverWritesThroughIt) {
  kwtest::TempDir dir;
  const std::string target = dir / "precious.txt";
  const std::string volume = dir / "v201_000.kwk";
  kwtest::WriteFile(target, "keep");
  for (bool create : {false, true}) {
    fs::create_symlink(target, volume);
    const int fd = OpenVolumeForWrite(volume.c_str(), create);
    if (fd >= 0) {
      EXPECT_EQ(::write(fd, "new", 3), 3);
      ::close(fd);
    }
    EXPECT_EQ(fd >= 0, create);
    EXPECT_EQ(kwtest::ReadFile(target), "keep");
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(volume)));
    EXPECT_EQ(fs::exists(volume), create);
  }
  EXPECT_EQ(kwtest::ReadFile(volume), "new");
  // A regular file is opened in place, emptied only when creating.
  const int fd = OpenVolumeForWrite(volume.c_str(), false);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_EQ(kwtest::ReadFile(volume), "new");
}

TEST(FileHelpers, DeleteFolderTreeRemovesLinksNotTheirTargets) {
  kwtest::TempDir dir;
  std::string outside = dir / "outside";
  kwtest::WriteFile(outside + "/precious.txt", "keep");
  std::string tree = dir / "tree";
  kwtest::WriteFile(tree + "/f.txt", "x");
  kwtest::WriteFile(tree + "/sub/deeper/g.txt", "y");
  fs::create_symlink(outside, tree + "/sub/link-to-folder");
  fs::create_symlink(outside + "/precious.txt", tree + "/link-to-file");
  fs::create_symlink(dir / "nowhere", tree + "/dangling");
  ASSERT_EQ(chmod((tree + "/sub/deeper").c_str(), 0700), 0);

  EXPECT_EQ(DeleteFolderTree(tree.c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree)));
  EXPECT_EQ(kwtest::ReadFile(outside + "/precious.txt"), "keep");

  // A link handed over as the tree itself is removed as a link.
  std::string link = dir / "link-tree";
  fs::create_symlink(outside, link);
  EXPECT_EQ(DeleteFolderTree(link.c_str()), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(kwtest::ReadFile(outside + "/precious.txt"), "keep");

  EXPECT_LT(DeleteFolderTree((dir / "missing").c_str()), 0);
  EXPECT_LT(DeleteFolderTree((outside + "/precious.txt").c_str()), 0);
  EXPECT_TRUE(fs::exists(outside + "/precious.txt"));
}

}  // namespace
