// make.ini as both package-making front ends read and write it, and the
// run they start from it.
#include <gtest/gtest.h>

#include <string>

#include "kwtest/tempdir.h"
#include "tool/makepackage/kwmakeini.h"
#include "tool/makepackage/kwmakerun.h"
#include "tool/makepackage/kwpkglist.h"

TEST(MakeIni, MissingFileGivesEmptyValuesAndWritingKeepsTheRest) {
  kwtest::TempDir t;
  const KwMakeSettings none = KwReadMakeIni(t.path());
  EXPECT_EQ(none.fromPath + none.toPath + none.package + none.name + none.file, "");

  kwtest::WriteFile(t / "make.ini", "[exec]\nname=Tarnwick\nFILE=setup.exe\npackage=old\n");
  KwMakeSettings s;
  s.fromPath = "/src/tree";
  s.toPath = "/out";
  s.package = "V2.0.0";
  ASSERT_TRUE(KwWriteMakeIni(t.path(), s));
  const KwMakeSettings back = KwReadMakeIni(t.path());
  EXPECT_EQ(back.fromPath, "/src/tree");
  EXPECT_EQ(back.toPath, "/out");
  EXPECT_EQ(back.package, "V2.0.0");
  EXPECT_EQ(back.name, "Tarnwick");
  EXPECT_EQ(back.file, "setup.exe");

  // A folder that cannot hold the file is reported, not ignored.
  EXPECT_FALSE(KwWriteMakeIni(t / "missing/folder", s));
}

TEST(MakeIni, LongValuesComeBackCutTo499BytesOnACharacterBoundary) {
  kwtest::TempDir t;
  const std::string ascii(600, 'a');
  // 498 ASCII bytes and then three-byte characters: the one that would
  // straddle byte 499 is dropped whole.
  const std::string wide = std::string(498, 'b') + "目录目录";
  kwtest::WriteFile(t / "make.ini", "[FROM]\nFROMPATH=" + ascii + "\n[TO]\nTOPATH=" + wide +
                                        "\n[EXEC]\nPACKAGE=" + std::string(499, 'c') + "\n");
  const KwMakeSettings s = KwReadMakeIni(t.path());
  EXPECT_EQ(s.fromPath, std::string(499, 'a'));
  EXPECT_EQ(s.toPath, std::string(498, 'b'));
  EXPECT_EQ(s.package, std::string(499, 'c'));
}

TEST(MakeRun, StatusTextAndInputCheck) {
  EXPECT_EQ(KwMakeStatusText(0, "start"), "0 start");
  EXPECT_EQ(KwMakeStatusText(5000000000LL, "/bin/app.dll"), "5000000000 /bin/app.dll");
  KwMakeSettings s{"/a", "/b", "P", "", ""};
  EXPECT_TRUE(KwMakeInputComplete(s));
  for (std::string KwMakeSettings::*field :
       {&KwMakeSettings::fromPath, &KwMakeSettings::toPath, &KwMakeSettings::package}) {
    KwMakeSettings missing = s;
    missing.*field = "";
    EXPECT_FALSE(KwMakeInputComplete(missing));
  }
}

TEST(MakeRun, StartRemembersTheInputsAndPacksTheTree) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a.txt", "alpha");
  kwtest::WriteFile(t / "src/sub/b.txt", "beta");
  KwMakeSettings s{t / "src", t / "out", "P", "", ""};
  std::vector<std::string> reports;
  auto callback = [](void* ctx, int32_t, const char* text, int64_t total) {
    static_cast<std::vector<std::string>*>(ctx)->push_back(KwMakeStatusText(total, text));
    return 0;
  };
  std::filesystem::create_directories(t / "out");
  std::unique_ptr<IKWMakePkg> maker = KwStartMakeRun(t / "ini", s, callback, &reports, nullptr);
  ASSERT_NE(maker, nullptr);
  maker->WaitDone();
  EXPECT_EQ(maker->Result(), 0);
  EXPECT_EQ(reports.front(), "0 start");
  EXPECT_EQ(reports.back(), "9 end");
  ASSERT_EQ(maker->Volumes().size(), 1u);
  EXPECT_EQ(kwtest::ReadFile(t / "out/list.json"), KwBuildListJson(maker->Volumes()));
  EXPECT_EQ(KwReadMakeIni(t / "ini").fromPath, "");  // no such folder: nothing remembered
  std::filesystem::create_directories(t / "ini");
  maker = KwStartMakeRun(t / "ini", s, callback, &reports, nullptr);
  ASSERT_NE(maker, nullptr);
  maker->WaitDone();
  EXPECT_EQ(KwReadMakeIni(t / "ini").package, "P");
}
