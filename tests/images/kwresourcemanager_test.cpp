#include "images/kwresourcemanager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "kwtest/tempdir.h"

namespace {

TEST(ResourceManager, IndexesLowerCasePicturesRecursivelyKeepingTheFirstPath) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "resource/images/a.png", "x");
  kwtest::WriteFile(dir / "resource/images/sub/b.jpg", "x");
  kwtest::WriteFile(dir / "resource/images/sub/a.png", "x");  // Same name, later path.
  kwtest::WriteFile(dir / "resource/images/C.PNG", "x");      // Upper case: not indexed.
  kwtest::WriteFile(dir / "resource/images/d.jpeg", "x");
  kwtest::WriteFile(dir / "resource/images/.hidden.png", "x");
  kwtest::WriteFile(dir / "resource/images/.cache/e.png", "x");
  kwtest::WriteFile(dir / "servericon/s.png", "x");
  kwtest::WriteFile(dir / "servericon/a.png", "x");
  CKwResourceManager index;
  EXPECT_EQ(3, index.Build(dir.path()));
  EXPECT_EQ(3u, index.Count());
  EXPECT_EQ(dir / "resource/images/a.png", index.Find("a.png"));
  EXPECT_EQ(dir / "resource/images/sub/b.jpg", index.Find("b.jpg"));
  EXPECT_EQ(dir / "servericon/s.png", index.Find("s.png"));
  EXPECT_EQ("", index.Find("C.PNG"));
  EXPECT_EQ("", index.Find("e.png"));
  EXPECT_EQ(0, index.AddFolder(dir / "missing"));
}

TEST(ResourceManager, LinkLoopsDoNotHangTheWalk) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "resource/images/x/p.png", "x");
  std::filesystem::create_directory_symlink(dir / "resource/images",
                                            dir / "resource/images/x/loop");
  CKwResourceManager index;
  EXPECT_EQ(1, index.Build(dir.path()));
}

}  // namespace
