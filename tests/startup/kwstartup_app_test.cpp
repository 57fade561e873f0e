// The real installer executable started without any window system: it
// fills its folders, then stops with the start-failure text instead of
// aborting inside the toolkit.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "kwtest/tempdir.h"

namespace fs = std::filesystem;

namespace {

TEST(InstallerStart, WithoutADisplayItStopsCleanlyAfterFillingItsFolders) {
  std::string built = std::string(KW_BUILD_DIR) + "/bin/tarnwick-installer";
  if (!fs::exists(built)) GTEST_SKIP() << "tarnwick-installer is not built";
  kwtest::TempDir dir;
  fs::copy_file(built, dir / "tarnwick-installer");
  fs::permissions(dir / "tarnwick-installer", fs::perms::owner_all);
  std::string command = "cd '" + dir.path() +
                        "' && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM" + " HOME='" +
                        dir.path() + "' XDG_DATA_HOME='" + dir.path() + "/data' KW_REGISTRY_DIR='" +
                        dir.path() + "/reg' ./tarnwick-installer 2> stderr.txt";
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(kwtest::ReadFile(dir / "stderr.txt").find("OLE"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(dir / "data/tarnwick"));
  // Threshold 5 keeps the log silent: no log folder appears.
  EXPECT_FALSE(fs::exists(dir / "log"));
  // Reading settings never writes the key store.
  EXPECT_FALSE(fs::exists(dir / "reg/user.reg"));
}

}  // namespace
