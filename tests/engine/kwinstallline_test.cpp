// kwinstall's progress line while unpacking runs beside the download.
#include <gtest/gtest.h>

#include "kwinstallprogress.h"

namespace {

TEST(KwinstallLine, UnpackPartFollowsTheDownloadAndKeepsItsLength) {
  EXPECT_EQ(KwInstallUnpackPart(0, 1000, "/a", 20), "");
  EXPECT_EQ(KwInstallUnpackPart(250, 1000, "", 20), " | unpack  25.0%");
  EXPECT_EQ(KwInstallUnpackPart(1000, 1000, "/bin/a.dll", 20), " | unpack 100.0%  /bin/a.dll");
  // Long names keep their end, where the file's own name is.
  EXPECT_EQ(KwInstallUnpackPart(500, 1000, "/Windows/Tarnwick/Plugins/skin.dat", 16),
            " | unpack  50.0%  ...gins/skin.dat");
  EXPECT_EQ(KwInstallProgressLine("download", 512, 1024, 0, false),
            "download  50.0%  512 B / 1.00 KB");
}

}  // namespace
