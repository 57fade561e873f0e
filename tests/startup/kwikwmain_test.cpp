// The common application data: its image table and the stop sequence.
#include "main/ikwmain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "baseutil/ikwlog.h"
#include "kwtest/tempdir.h"

namespace fs = std::filesystem;

namespace {

TEST(CommonData, OneInstancePublishesItsImageTable) {
  CIKWMain* common = CIKWMain::Create();
  ASSERT_NE(common, nullptr);
  EXPECT_EQ(CIKWMain::Create(), common);
  EXPECT_EQ(CIKWMain::Instance(), common);
  EXPECT_EQ(CKwImageRegistry::Current(), &common->Images());
  EXPECT_EQ(common->RegisterStartupImages(), 4);
  for (const char* name : {"close.png", "min.png", "max.png", "me.png"}) {
    EXPECT_TRUE(common->Images().Contains(name)) << name;
  }
  const uint8_t bytes[] = {1, 2, 3};
  common->RegisterImage("close.png", bytes, 3);  // The first bytes stay.
  common->RegisterImage("new.png", bytes, 3);
  EXPECT_EQ(common->Images().Count(), 5u);
  EXPECT_EQ(common->CreateImage("unknown.png"), nullptr);
  CIKWMain::Destroy();
  EXPECT_EQ(CIKWMain::Instance(), nullptr);
  EXPECT_EQ(CKwImageRegistry::Current(), nullptr);
}

TEST(CommonData, StopSequenceLogsInOrderAndClosesTheLog) {
  kwtest::TempDir dir;
  CIKWMain* common = CIKWMain::Create();
  KwLogConfigure(dir.path().c_str(), "INS", 1, 1);
  common->OnAppStop();
  CIKWMain::Destroy();
  WriteLog(9, "t.cpp", "T::After", 1, "after stop");

  std::string text;
  for (const auto& e : fs::directory_iterator(dir / "log")) text += kwtest::ReadFile(e.path());
  size_t app = text.find("CIKWMain::OnAppStop");
  ASSERT_NE(app, std::string::npos);
  size_t exitApp = text.find(") Exit app\r\n");
  size_t exit7 = text.find(") Exit 7\r\n");
  size_t allExit = text.find(") all exit\r\n");
  EXPECT_LT(exitApp, exit7);
  EXPECT_LT(exit7, allExit);
  EXPECT_NE(allExit, std::string::npos);
  EXPECT_EQ(text.find("after stop"), std::string::npos);
}

}  // namespace
