// The wait dialog: its row layout, and a real dialog whose job runs on the
// thread manager.
#include "baseview/kwdlgwait.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "baseview/kwwaitfreeview.h"
#include "baseview/kwwaitlayout.h"

namespace {

TEST(WaitLayout, TextIsCentredAndProgressTakesTheLowerHalf) {
  KwWaitLayout plain = KwComputeWaitLayout(0, 0, 465, 72, false);
  EXPECT_EQ(KwRectXYWH(16, 25, 433, 22), plain.text);
  EXPECT_TRUE(plain.progress.IsEmpty());
  KwWaitLayout progress = KwComputeWaitLayout(10, 100, 465, 72, true);
  EXPECT_EQ(KwRectXYWH(26, 107, 433, 22), progress.text);
  EXPECT_EQ(KwRectXYWH(26, 143, 433, 22), progress.progress);
  EXPECT_EQ(0, KwClampProgress(-5, 0, 100));
  EXPECT_EQ(100, KwClampProgress(250, 0, 100));
  EXPECT_EQ(42, KwClampProgress(42, 0, 100));
}

struct JobRecord {
  std::atomic<int> calls{0};
  std::atomic<bool> release{true};
  std::atomic<bool> returned{false};
  CKwDlgWait* dialogSeen = nullptr;
  void* dataSeen = nullptr;
};

void RecordingJob(void* userData, CKwDlgWait* dialog) {
  auto* record = static_cast<JobRecord*>(userData);
  record->dataSeen = userData;
  record->dialogSeen = dialog;
  ++record->calls;
  while (!record->release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  record->returned = true;
}

TEST(WaitDialog, AJobThatReturnsAtOnceStillShowsForThreeHundredMs) {
  JobRecord record;
  CKwDlgWait dialog;
  dialog.SetMessage("Please wait");
  dialog.SetJob(RecordingJob, &record);
  auto start = std::chrono::steady_clock::now();
  int result = dialog.exec();
  auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(QDialog::Rejected, result);
  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  EXPECT_EQ(1, record.calls.load());
  EXPECT_EQ(&dialog, record.dialogSeen);
  EXPECT_EQ(&record, record.dataSeen);
  EXPECT_TRUE(dialog.Done());
}

TEST(WaitDialog, EscapeAndEnterCannotCloseItWhileTheJobRuns) {
  JobRecord record;
  record.release = false;
  CKwDlgWait dialog;
  dialog.SetMessage("Please wait");
  dialog.SetJob(RecordingJob, &record);
  bool visibleAfterKeys = false;
  QTimer::singleShot(500, &dialog, [&] {
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    dialog.close();
    QCoreApplication::processEvents();
    visibleAfterKeys = dialog.isVisible();
    record.release = true;
  });
  dialog.exec();
  EXPECT_TRUE(visibleAfterKeys);
  EXPECT_TRUE(record.returned.load());
  EXPECT_TRUE(dialog.Done());
}

TEST(WaitDialog, DestroyingTheDialogWhileItsJobRunsIsSafe) {
  JobRecord record;
  record.release = false;
  auto dialog = std::make_unique<CKwDlgWait>();
  dialog->SetJob(RecordingJob, &record);
  dialog->show();
  QTRY_VERIFY_WITH_TIMEOUT(record.calls.load() == 1, 3000);
  dialog.reset();
  record.release = true;
  QTRY_VERIFY_WITH_TIMEOUT(record.returned.load(), 3000);
  QTest::qWait(50);  // Nothing may be posted to the destroyed dialog.
}

TEST(WaitDialog, RendersTheMessageCentredOnItsDarkGround) {
  JobRecord record;
  record.release = false;
  CKwDlgWait dialog;
  dialog.SetMessage("Please wait...");
  dialog.SetJob(RecordingJob, &record);
  dialog.show();
  QImage image(dialog.size(), QImage::Format_RGB32);
  dialog.render(&image);
  image.save(QDir(KW_BUILD_DIR).filePath("tk1-wait.png"));
  EXPECT_EQ(qRgb(26, 25, 31), image.pixel(4, 4));
  int first = -1, last = -1;
  for (int x = 0; x < image.width(); ++x)
    for (int y = 0; y < image.height(); ++y)
      if (qGray(image.pixel(x, y)) > 120) {
        if (first < 0) first = x;
        last = x;
      }
  ASSERT_GE(first, 0);
  EXPECT_NEAR(image.width() / 2, (first + last) / 2, 4);
  record.release = true;
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), 3000);
}

TEST(WaitDialog, ProgressModeKeepsTheValueInRange) {
  CKwWaitFreeView view;
  view.BuildRow(72, "x");
  view.SetProgressMode(true);
  view.SetRange(0, 50);
  view.SetProgress(80);
  EXPECT_EQ(50, view.Progress());
  view.SetProgress(-3);
  EXPECT_EQ(0, view.Progress());
  // Drawn: the text in the upper half, a bar 40 % filled in the lower half.
  view.SetRange(0, 100);
  view.SetProgress(40);
  view.BuildRow(72, "Unpacking");
  view.SetProgressMode(true);
  view.SetProgress(40);
  view.Create(nullptr, KwRect{0, 0, 465, 72}, kKwWaitViewId);
  QImage image(465, 72, QImage::Format_RGB32);
  view.render(&image);
  image.save(QDir(KW_BUILD_DIR).filePath("tk1-wait-progress.png"));
  const int barY = 36 + 7 + 11;
  EXPECT_EQ(qRgb(47, 111, 235), image.pixel(16 + 100, barY));
  EXPECT_EQ(qRgb(55, 55, 57), image.pixel(16 + 300, barY));
  EXPECT_EQ(qRgb(26, 25, 31), image.pixel(4, 4));
}

}  // namespace
