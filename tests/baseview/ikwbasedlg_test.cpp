// A real frameless dialog under the offscreen platform, driven by QTest.
#include "baseview/ikwbasedlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "baseutil/ikwlog.h"
#include "baseview/kwcommand.h"
#include "images/kwimageregistry.h"
#include "kwtest/qtapp.h"
#include "kwtest/tempdir.h"

namespace {

class RecordingDlg : public CIKWBaseDlg {
 public:
  std::vector<int> commands;
  std::vector<int> timers;
  int inits = 0;
  int destroys = 0;
  int presses = 0;
  std::vector<QSize> sizes;

 protected:
  void IKW_OnInitDialog() override {
    ++inits;
    resize(640, 480);
  }
  void IKW_OnDestroy() override { ++destroys; }
  void IKW_OnCommand(int command) override { commands.push_back(command); }
  void IKW_OnTimer(int id) override { timers.push_back(id); }
  void IKW_OnPress() override { ++presses; }
  void IKW_OnSize(int w, int h) override { sizes.emplace_back(w, h); }
};

class BaseDlgTest : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.RegisterCaptionImages();
    CKwImageRegistry::SetCurrent(&registry_);
    dlg_ = std::make_unique<RecordingDlg>();
    dlg_->SetTitle("Tarnwick");
    dlg_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg_.get()));
  }
  void TearDown() override {
    dlg_.reset();
    CKwImageRegistry::SetCurrent(nullptr);
  }
  void ClickAt(int x, int y) {
    QTest::mouseClick(dlg_.get(), Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
    QCoreApplication::processEvents();
  }

  CKwImageRegistry registry_;
  std::unique_ptr<RecordingDlg> dlg_;
};

TEST_F(BaseDlgTest, InitialisesOnceBeforeShowing) {
  EXPECT_EQ(1, dlg_->inits);
  EXPECT_EQ(640, dlg_->width());
  EXPECT_EQ(1, dlg_->WindowState());
}

TEST_F(BaseDlgTest, CaptionButtonsPostTheirCommands) {
  ClickAt(640 - 124, 24);  // Minimise.
  EXPECT_EQ((std::vector<int>{10002, 10002}), dlg_->commands);
  dlg_->commands.clear();
  ClickAt(640 - 28, 24);  // Close.
  EXPECT_EQ((std::vector<int>{10001}), dlg_->commands);
  EXPECT_EQ(2, dlg_->presses);
  EXPECT_TRUE(dlg_->isVisible());  // Closing is the derived dialog's decision.
}

TEST_F(BaseDlgTest, MaximiseButtonTogglesTheWindowState) {
  ClickAt(640 - 76, 24);
  EXPECT_EQ(2, dlg_->WindowState());
  EXPECT_TRUE(dlg_->commands.empty());
}

// A double click on a caption button is one click: close is asked for once.
TEST_F(BaseDlgTest, DoubleClickOnACaptionButtonActsOnce) {
  KwDoubleClick(dlg_.get(), QPoint(640 - 28, 24));
  QCoreApplication::processEvents();
  EXPECT_EQ((std::vector<int>{10001}), dlg_->commands);
  EXPECT_EQ(1, dlg_->WindowState());
}

TEST_F(BaseDlgTest, EnterNeverEndsAndEscapeOnlyWithCloseOnCancel) {
  QTest::keyClick(dlg_.get(), Qt::Key_Return);
  QTest::keyClick(dlg_.get(), Qt::Key_Enter);
  QTest::keyClick(dlg_.get(), Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_TRUE(dlg_->isVisible());
  EXPECT_EQ(0, dlg_->destroys);
  dlg_->m_closeOnCancel = 1;
  QTest::keyClick(dlg_.get(), Qt::Key_Escape);
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(QDialog::Rejected, dlg_->result());
  EXPECT_EQ(1, dlg_->destroys);
}

TEST_F(BaseDlgTest, Command54321EndsWithoutReachingTheHook) {
  KwPostCommand(dlg_.get(), 54321);
  QCoreApplication::processEvents();
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_TRUE(dlg_->commands.empty());
  EXPECT_EQ(1, dlg_->destroys);
  // Showing again initialises again.
  dlg_->show();
  EXPECT_EQ(2, dlg_->inits);
}

TEST_F(BaseDlgTest, EveryWayOfEndingRunsTheDestroyHookOnce) {
  dlg_->done(7);
  EXPECT_FALSE(dlg_->isVisible());
  EXPECT_EQ(7, dlg_->result());
  dlg_->EndDialog(8);
  EXPECT_EQ(1, dlg_->destroys);
}

TEST_F(BaseDlgTest, CommandsFromOtherThreadsArriveAndAreLogged) {
  kwtest::TempDir logDir;
  KwLogConfigure(logDir.path().c_str(), "dlg", 1, 1);
  std::thread worker([&] { KwPostCommand(dlg_.get(), 90001); });
  worker.join();
  QCoreApplication::processEvents();
  KwLogShutdown();
  EXPECT_EQ((std::vector<int>{90001}), dlg_->commands);
  std::string all;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(logDir.path())) {
    if (entry.is_regular_file()) all += kwtest::ReadFile(entry.path().string());
  }
  EXPECT_NE(std::string::npos, all.find("ikwbasedlg.cpp:CIKWBaseDlg::OnCommand(")) << all;
  EXPECT_NE(std::string::npos, all.find("recv:90001")) << all;
}

TEST_F(BaseDlgTest, DraggingTheRightEdgeResizesTheRealWindow) {
  QPoint start(639, 200);
  QTest::mousePress(dlg_.get(), Qt::LeftButton, Qt::NoModifier, start);
  QTest::mouseMove(dlg_.get(), QPoint(539, 200));
  QTest::mouseRelease(dlg_.get(), Qt::LeftButton, Qt::NoModifier, QPoint(539, 200));
  EXPECT_EQ(540, dlg_->width());
  EXPECT_EQ(480, dlg_->height());
  ASSERT_FALSE(dlg_->sizes.empty());
  EXPECT_EQ(QSize(540, 480), dlg_->sizes.back());
}

TEST_F(BaseDlgTest, TimerTicksEveryThreeSecondsWithItsId) {
  QTRY_VERIFY_WITH_TIMEOUT(!dlg_->timers.empty(), 4000);
  EXPECT_EQ(1234, dlg_->timers.front());
}

// Renders the frame and checks the painted caption; the PNG is kept in the
// build folder for looking at.
TEST_F(BaseDlgTest, RendersCaptionStripsAndButtonStates) {
  QTest::mouseMove(dlg_.get(), QPoint(640 - 124, 24));  // Hover over minimise.
  QImage image(dlg_->size(), QImage::Format_RGB32);
  dlg_->render(&image);
  image.save(QDir(KW_BUILD_DIR).filePath("tk1-basedlg.png"));
  EXPECT_EQ(qRgb(37, 37, 37), image.pixel(300, 3));            // Caption band.
  EXPECT_EQ(qRgb(18, 18, 18), image.pixel(3, 300));            // Left strip.
  EXPECT_EQ(qRgb(18, 18, 18), image.pixel(636, 300));          // Right strip.
  EXPECT_EQ(qRgb(18, 18, 18), image.pixel(300, 476));          // Bottom strip.
  EXPECT_EQ(qRgb(55, 55, 57), image.pixel(300, 300));          // Ground.
  EXPECT_EQ(qRgb(128, 128, 128), image.pixel(640 - 138, 20));  // Hover outline.
  // The close picture's light cross crosses the button's centre.
  QRgb centre = image.pixel(640 - 28, 24);
  EXPECT_GT(qGray(centre), 150);
  // The title text has light ink right of the icon.
  bool ink = false;
  for (int x = 64; x < 160 && !ink; ++x)
    for (int y = 10; y < 40 && !ink; ++y) ink = qGray(image.pixel(x, y)) > 120;
  EXPECT_TRUE(ink);
}

}  // namespace

int main(int argc, char** argv) {
  // Test discovery runs the program without the test environment; without a
  // display the offscreen platform is the only one that can start.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
