// The package maker's two front ends driven offscreen with real clicks and
// typed text: the make-package window as the page of its run mode, and the
// make-package dialog opened from the main dialog's top-left corner.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "MsgBox/kwmaininstalldlg.h"
#include "kwtest/qtapp.h"
#include "kwtest/tempdir.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "makepackage/pkgtestutil.h"
#include "pages/kwpageclick.h"
#include "tool/makepackage/kwmakeini.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/window/ikwmakedlg.h"
#include "tool/makepackage/window/ikwmakepkgwnd.h"
#include "tool/makepackage/window/kwmakeprompt.h"

namespace fs = std::filesystem;
using kwtest::ClickCell;
using kwtest::WaitFor;

namespace {

// Runs a tool of the build and returns its exit status and output.
int RunTool(const std::string& commandLine, std::string* output) {
  const std::string cmd = std::string(KW_BUILD_DIR) + "/bin/" + commandLine + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) output->append(buf, n);
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void SaveShot(QWidget* w, const char* name) {
  const char* dir = getenv("KW_PAGE_SHOTS");
  if (dir == nullptr || *dir == '\0') return;
  fs::create_directories(dir);
  w->grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

// A real click into an edit box, everything selected and replaced by typing.
void TypeInto(QWidget* view, int id, const std::string& text) {
  auto* edit = view->findChild<QLineEdit*>(QString::number(id));
  ASSERT_NE(edit, nullptr) << id;
  QTest::mouseClick(edit, Qt::LeftButton, Qt::NoModifier, QPoint(8, edit->height() / 2));
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  if (text.empty()) {
    QTest::keyClick(edit, Qt::Key_Delete);
  } else {
    QTest::keyClicks(edit, QString::fromStdString(text));
  }
}

std::string EditText(QWidget* view, int id) {
  auto* edit = view->findChild<QLineEdit*>(QString::number(id));
  return edit != nullptr ? edit->text().toStdString() : "<none>";
}

bool CellEnabled(CKWBaseView* view, int id) {
  view->repaint();
  KwViewLockGuard lock(view->LineListMutex());
  CKWBaseViewObject* c = view->FindCell(id);
  return c != nullptr && c->enabled;
}

// Presses OK on every "Input error" box as it appears and counts them.
class InputErrorAnswerer {
 public:
  InputErrorAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || box->objectName() != "kwMakeInputError") return;
      texts_.push_back(box->windowTitle().toStdString() + "/" + box->text().toStdString());
      box->button(QMessageBox::Ok)->click();
    });
    timer_.start(50);
  }
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  QTimer timer_;
  std::vector<std::string> texts_;
};

class MakePkgFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    KwTestApp();
    savedExeDir_ = g_exeDir;
    KwCopyText(g_exeDir, kExePathSize, app_.c_str());
    fs::create_directories(app_);
    g_makeStopFlag = 0;
  }
  void TearDown() override {
    KwCopyText(g_exeDir, kExePathSize, savedExeDir_.c_str());
    KwSetMakeFolderChooser({});
  }

  // A small tree: files in nested folders, one hidden, and 1 MB of data;
  // the last report of its run.
  static constexpr const char* kSmallTreeEnd = "1300034 end";
  void WriteSmallTree(const std::string& root) {
    kwtest::WriteFile(root + "/README.txt", "Tarnwick sample\n");
    kwtest::WriteFile(root + "/Windows/Tarnwick.exe", "#!/bin/sh\necho hi\n");
    kwtest::WriteFile(root + "/Windows/Plugins/a.dll", pkgtest::Bytes(300000, 1));
    kwtest::WriteFile(root + "/data/sample.bin", pkgtest::Bytes(1000000, 2));
    kwtest::WriteFile(root + "/.git/config", "not packed");
  }

  // The page of run mode 1 inside its main dialog, shown and painted.
  CIKWMakePkgWnd* OpenWindow(CKWMainInstallDlg* dlg) {
    dlg->show();
    CIKWMakePkgWnd* wnd = dlg->MakePackageWnd();
    if (wnd == nullptr) return nullptr;
    WaitFor([&] { return wnd->FirstPaintDone(); }, 3000);
    WaitFor([&] { return wnd->findChild<QLineEdit*>("1002") != nullptr; }, 3000);
    return wnd;
  }

  void FillWindow(CIKWMakePkgWnd* wnd, const std::string& from, const std::string& to,
                  const std::string& name) {
    TypeInto(wnd, kKwMakeFromEdit, from);
    TypeInto(wnd, kKwMakeToEdit, to);
    TypeInto(wnd, kKwMakeNameEdit, name);
  }

  kwtest::TempDir dir_;
  const std::string app_ = dir_ / "app";
  std::string savedExeDir_;
};

}  // namespace

TEST_F(MakePkgFlow, WindowMakesAnInstallablePackageFromTypedInputs) {
  kwtest::WriteFile(app_ + "/make.ini",
                    "[FROM]\nFROMPATH=/old/source\n[TO]\nTOPATH=/old/out\n[EXEC]\nPACKAGE=V1\n");
  const std::string src = dir_ / "product", out = dir_ / "out";
  WriteSmallTree(src);
  fs::create_directories(out);

  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(dlg.OnlinePage(), nullptr);
  const KwRect page = dlg.PageRect();
  EXPECT_EQ(wnd->geometry(), QRect(page.left, page.top, page.Width(), page.Height()));
  // The boxes start with what make.ini remembered.
  EXPECT_EQ(EditText(wnd, kKwMakeFromEdit), "/old/source");
  EXPECT_EQ(EditText(wnd, kKwMakeToEdit), "/old/out");
  EXPECT_EQ(EditText(wnd, kKwMakeNameEdit), "V1");
  EXPECT_TRUE(CellEnabled(wnd, kKwMakeStart));
  SaveShot(&dlg, "makepkg-idle");

  FillWindow(wnd, src, out, "V2.0.0");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  EXPECT_TRUE(wnd->Running());
  ASSERT_TRUE(WaitFor([&] { return wnd->Maker() != nullptr && wnd->Maker()->Done(); }, 60000));
  // The status line shows the last report: the total and "end".
  EXPECT_TRUE(WaitFor([&] { return wnd->StatusText() == kSmallTreeEnd; }, 3000))
      << wnd->StatusText();
  EXPECT_EQ(wnd->Maker()->Result(), 0) << wnd->Maker()->ErrorText();
  // The end of a run leaves MAKE disabled until CANCEL is pressed.
  EXPECT_TRUE(wnd->Running());
  EXPECT_FALSE(CellEnabled(wnd, kKwMakeStart));
  SaveShot(&dlg, "makepkg-ended");

  const KwMakeSettings ini = KwReadMakeIni(app_);
  EXPECT_EQ(ini.fromPath, src);
  EXPECT_EQ(ini.toPath, out);
  EXPECT_EQ(ini.package, "V2.0.0");

  std::string output;
  EXPECT_EQ(RunTool("kwpack verify " + out, &output), 0) << output;
  // LIST JSON afterwards lists the maker's own volumes: the lists come out
  // the same, and the package still verifies.
  const std::string madeList = kwtest::ReadFile(out + "/list.json");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeList));
  EXPECT_EQ(kwtest::ReadFile(out + "/list.json"), madeList);
  EXPECT_EQ(RunTool("kwpack verify " + out, &output), 0) << output;
  kwtest::WriteFile(dir_ / "kwinstall.ini", "[INSTALL]\nREQUIREDSPACE=1024\n");
  const std::string target = dir_ / "installed";
  output.clear();
  EXPECT_EQ(RunTool("kwinstall --volume " + out + "/V2.0.0_000.kwk --dir " + target +
                        " --agree --quiet --ini " + (dir_ / "kwinstall.ini"),
                    &output),
            0)
      << output;
  std::map<std::string, std::string> expected = pkgtest::ReadTree(src);
  expected.erase("/.git/");
  expected.erase("/.git/config");
  EXPECT_EQ(pkgtest::ReadTree(target + "/V2.0.0"), expected);

  // CANCEL after the end forgets the maker and enables MAKE again; CANCEL
  // when idle asks the main dialog to quit, which it does at once here.
  ASSERT_TRUE(ClickCell(wnd, kKwMakeCancel));
  EXPECT_FALSE(wnd->Running());
  EXPECT_EQ(wnd->Maker(), nullptr);
  EXPECT_TRUE(CellEnabled(wnd, kKwMakeStart));
  ASSERT_TRUE(ClickCell(wnd, kKwMakeCancel));
  EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 3000));
}

TEST_F(MakePkgFlow, CancelDuringALargeFileStopsWithinAChunk) {
  const std::string src = dir_ / "big", out = dir_ / "out";
  const int64_t size = 15 * int64_t{kwpkg::kChunkSize};
  kwtest::WriteFile(src + "/big.bin", pkgtest::Bytes(static_cast<size_t>(size), 3));
  fs::create_directories(out);

  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  FillWindow(wnd, src, out, "P");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  ASSERT_NE(wnd->Maker(), nullptr);
  ASSERT_TRUE(WaitFor([&] { return wnd->Maker()->BytesRead() >= kwpkg::kChunkSize; }, 30000));
  EXPECT_FALSE(CellEnabled(wnd, kKwMakeStart));
  // A file's report comes before its size is counted.
  EXPECT_TRUE(WaitFor([&] { return wnd->StatusText() == "0 /big.bin"; }, 3000))
      << wnd->StatusText();
  // Between the per-file reports the cell shows the bytes read so far.
  EXPECT_NE(wnd->ShownStatus().find(" bytes read)"), std::string::npos) << wnd->ShownStatus();
  SaveShot(&dlg, "makepkg-running");
  const int64_t readAtCancel = wnd->Maker()->BytesRead();
  ASSERT_TRUE(ClickCell(wnd, kKwMakeCancel));  // returns once the maker is done
  EXPECT_EQ(wnd->Maker(), nullptr);
  EXPECT_FALSE(wnd->Running());
  EXPECT_TRUE(dlg.isVisible());

  // The run says it was cancelled rather than "... end".
  EXPECT_EQ(wnd->StatusText(), "cancelled: no package was written");
  SaveShot(&dlg, "makepkg-cancelled-en");

  // The partial package is not listed, so nothing passes it as complete;
  // its volume is closed, and the file in it ends after at most the chunk
  // that was being read.
  EXPECT_FALSE(fs::exists(out + "/list.json"));
  EXPECT_FALSE(fs::exists(out + "/release.json"));
  std::string output;
  EXPECT_NE(RunTool("kwpack verify " + out, &output), 0) << output;
  const std::string volume = kwtest::ReadFile(out + "/P_000.kwk");
  const pkgtest::Unpacked u =
      pkgtest::Unpack(volume.substr(kwpkg::kVolumeHeaderSize), dir_ / "unpacked", 0);
  const int64_t packed = static_cast<int64_t>(fs::file_size(dir_ / "unpacked/big.bin"));
  EXPECT_GE(packed, readAtCancel - 2 * kwpkg::kChunkSize);
  EXPECT_LE(packed, readAtCancel + 2 * kwpkg::kChunkSize);
  EXPECT_LT(packed, size);
  EXPECT_EQ(u.badFiles, 1);  // reported short, as a stopped file is
}

TEST_F(MakePkgFlow, AMissingOutputFolderIsMadeAndOneThatCannotBeIsSaid) {
  WriteSmallTree(dir_ / "product");
  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  FillWindow(wnd, dir_ / "product", dir_ / "missing/out", "P");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  ASSERT_TRUE(WaitFor([&] { return wnd->Maker() != nullptr && wnd->Maker()->Done(); }, 30000));
  EXPECT_EQ(wnd->Maker()->Result(), 0) << wnd->ShownStatus();
  EXPECT_EQ(wnd->StatusText(), kSmallTreeEnd);
  std::string output;
  EXPECT_EQ(RunTool("kwpack verify " + (dir_ / "missing/out"), &output), 0) << output;
  ASSERT_TRUE(ClickCell(wnd, kKwMakeCancel));  // back to idle

  // A folder under a file cannot be made: the window says so and starts nothing.
  kwtest::WriteFile(dir_ / "afile", "x");
  TypeInto(wnd, kKwMakeToEdit, dir_ / "afile/out");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  EXPECT_EQ(wnd->Maker(), nullptr);
  EXPECT_FALSE(wnd->Running());
  EXPECT_EQ(wnd->StatusText(), "cannot create the output folder " + (dir_ / "afile/out"));
  EXPECT_TRUE(CellEnabled(wnd, kKwMakeStart));
  SaveShot(&dlg, "makepkg-no-output-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  EXPECT_EQ(wnd->StatusText(), "无法创建输出目录 " + (dir_ / "afile/out"));
  SaveShot(&dlg, "makepkg-no-output-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
}

TEST_F(MakePkgFlow, ListJsonListsVolumesAndNeverEmptiesAList) {
  const std::string out = dir_ / "out";
  kwtest::WriteFile(out + "/P_000.tmp", pkgtest::Bytes(5000, 1));
  kwtest::WriteFile(out + "/P_001.tmp", pkgtest::Bytes(3000, 2));
  kwtest::WriteFile(out + "/P_002.tmp", "");
  kwtest::WriteFile(out + "/P_003.tmp", pkgtest::Bytes(10, 3));

  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  InputErrorAnswerer answers;
  // Listing needs no source folder, but an empty box is refused all the same.
  FillWindow(wnd, "", out, "P");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeList));
  // The box names the empty field.
  EXPECT_EQ(answers.texts(), std::vector<std::string>{
                                 "error/Input error: enter the folder to pack (source folder)."});
  EXPECT_FALSE(fs::exists(out + "/list.json"));

  TypeInto(wnd, kKwMakeFromEdit, "/unused");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeList));
  std::vector<KwVolumeEntry> two(2);
  ASSERT_TRUE(KwDescribeVolume(out + "/P_000.tmp", &two[0]));
  ASSERT_TRUE(KwDescribeVolume(out + "/P_001.tmp", &two[1]));
  EXPECT_EQ(kwtest::ReadFile(out + "/list.json"), KwBuildListJson(two));
  EXPECT_EQ(wnd->StatusText(), "2 volumes listed");

  // Without a first volume the list stays as it was, and the window says why.
  const std::string listed = kwtest::ReadFile(out + "/list.json");
  fs::remove(out + "/P_000.tmp");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeList));
  EXPECT_EQ(kwtest::ReadFile(out + "/list.json"), listed);
  EXPECT_EQ(wnd->StatusText(), "no volume in " + out + ": the lists were left as they were");

  // An empty package name blocks both MAKE and LIST JSON.
  fs::remove(out + "/list.json");
  TypeInto(wnd, kKwMakeNameEdit, "");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeList));
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  ASSERT_EQ(answers.texts().size(), 3u);
  EXPECT_EQ(answers.texts()[2], "error/Input error: enter the package name.");
  EXPECT_FALSE(fs::exists(out + "/list.json"));
  EXPECT_EQ(wnd->Maker(), nullptr);
  EXPECT_FALSE(wnd->Running());
  EXPECT_EQ(KwReadMakeIni(app_).toPath, "");  // nothing remembered from refused input
}

TEST_F(MakePkgFlow, BrowseButtonsFillTheirBoxes) {
  std::vector<std::string> asked;
  std::string answer = "/chosen/source";
  KwSetMakeFolderChooser([&](QWidget*, const std::string& title, const std::string& start) {
    asked.push_back(title + "|" + start);
    return answer;
  });
  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  TypeInto(wnd, kKwMakeFromEdit, "/typed");
  ASSERT_TRUE(ClickCell(wnd, kKwMakeFromBrowse));
  EXPECT_EQ(EditText(wnd, kKwMakeFromEdit), "/chosen/source");
  answer = "/chosen/out";
  ASSERT_TRUE(ClickCell(wnd, kKwMakeToBrowse));
  EXPECT_EQ(EditText(wnd, kKwMakeToEdit), "/chosen/out");
  answer = "";  // cancelled: the box keeps its text
  ASSERT_TRUE(ClickCell(wnd, kKwMakeToBrowse));
  EXPECT_EQ(EditText(wnd, kKwMakeToEdit), "/chosen/out");
  EXPECT_EQ(asked, (std::vector<std::string>{"请选择目录|/typed", "请选择目录|",
                                             "请选择目录|/chosen/out"}));
}

TEST_F(MakePkgFlow, CornerClickOpensTheDialogAndCancelClosesIt) {
  kwtest::WriteFile(app_ + "/make.ini",
                    "[FROM]\nFROMPATH=/s\n[TO]\nTOPATH=/o\n[EXEC]\nPACKAGE=P\n");
  CKWMainInstallDlg dlg;
  ASSERT_NE(OpenWindow(&dlg), nullptr);

  // Nothing opens for a release outside the 48 x 48 corner.
  bool opened = false;
  QTimer::singleShot(300, [&] {
    opened = qobject_cast<CIKWMakeDlg*>(QApplication::activeModalWidget()) != nullptr;
  });
  QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, QPoint(48, 10));
  KwPump(500);
  EXPECT_FALSE(opened);

  std::vector<std::string> seen;
  QTimer::singleShot(300, [&] {
    auto* make = qobject_cast<CIKWMakeDlg*>(QApplication::activeModalWidget());
    if (make == nullptr) return;
    seen.push_back(make->windowTitle().toStdString());
    for (int id : {kKwMakeDlgFrom, kKwMakeDlgTo, kKwMakeDlgName}) {
      seen.push_back(qobject_cast<QLineEdit*>(make->Control(id))->text().toStdString());
    }
    SaveShot(make, "makedlg");
    QTest::mouseClick(make->Control(kKwMakeDlgCancel), Qt::LeftButton);
  });
  QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, QPoint(47, 47));  // returns when closed
  EXPECT_EQ(seen, (std::vector<std::string>{"make pakage", "/s", "/o", "P"}));
  EXPECT_TRUE(dlg.isVisible());
}

TEST_F(MakePkgFlow, DialogControlsSitWhereTheirDialogUnitsSay) {
  CIKWMakeDlg make;
  const QFontMetrics fm(make.font());
  const int baseX = KwDialogBaseUnitX(
      fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  ASSERT_GT(baseX, 0);
  EXPECT_EQ(make.size(), QSize((564 * baseX + 2) / 4, (105 * fm.height() + 4) / 8));
  for (size_t i = 0; i < kKwMakeDlgControlCount; ++i) {
    const KwDialogControl& c = kKwMakeDlgControls[i];
    if (c.id == 0) continue;
    ASSERT_NE(make.Control(c.id), nullptr) << c.id;
    EXPECT_EQ(make.Control(c.id)->geometry(), make.MapDialogRect(c.x, c.y, c.width, c.height));
  }
  EXPECT_EQ(qobject_cast<QPushButton*>(make.Control(kKwMakeDlgOk))->text().toStdString(), "确定");
  EXPECT_EQ(qobject_cast<QLabel*>(make.Control(kKwMakeDlgStatus))->text(), "");
}

TEST_F(MakePkgFlow, DialogRunsOnceAndClosesWhenTheMakerEnds) {
  const std::string src = dir_ / "product", out = dir_ / "out";
  WriteSmallTree(src);
  fs::create_directories(out);
  CIKWMakeDlg make;
  make.show();
  // Empty input is ignored without a word.
  TypeInto(&make, kKwMakeDlgFrom, src);
  TypeInto(&make, kKwMakeDlgTo, "");
  QTest::mouseClick(make.Control(kKwMakeDlgOk), Qt::LeftButton);
  EXPECT_EQ(make.Maker(), nullptr);
  TypeInto(&make, kKwMakeDlgTo, out);
  TypeInto(&make, kKwMakeDlgName, "D");
  QTest::mouseClick(make.Control(kKwMakeDlgOk), Qt::LeftButton);
  IKWMakePkg* first = make.Maker();
  ASSERT_NE(first, nullptr);
  QTest::mouseClick(make.Control(kKwMakeDlgOk), Qt::LeftButton);  // refused: one run per dialog
  EXPECT_EQ(make.Maker(), first);
  ASSERT_TRUE(WaitFor([&] { return !make.isVisible(); }, 60000));
  ASSERT_TRUE(WaitFor([&] { return first->Done(); }, 10000));
  EXPECT_EQ(first->Result(), 0) << first->ErrorText();
  EXPECT_EQ(KwReadMakeIni(app_).package, "D");
  std::string output;
  EXPECT_EQ(RunTool("kwpack verify " + out, &output), 0) << output;
  // The status line had the maker's reports, up to the last.
  KwPump(100);
  EXPECT_EQ(qobject_cast<QLabel*>(make.Control(kKwMakeDlgStatus))->text().toStdString(),
            kSmallTreeEnd);
}

TEST_F(MakePkgFlow, DialogCancelStopsOnlyItsOwnRun) {
  const std::string big = dir_ / "big", small = dir_ / "product";
  kwtest::WriteFile(big + "/big.bin", pkgtest::Bytes(15 * size_t{kwpkg::kChunkSize}, 4));
  // Compressible, so the window's run goes quickly.
  kwtest::WriteFile(small + "/blocks.bin", pkgtest::Blocks(12 * size_t{kwpkg::kChunkSize}, 5));
  fs::create_directories(dir_ / "dlgout");
  fs::create_directories(dir_ / "wndout");

  CKWMainInstallDlg dlg;
  CIKWMakePkgWnd* wnd = OpenWindow(&dlg);
  ASSERT_NE(wnd, nullptr);
  FillWindow(wnd, small, dir_ / "wndout", "W");
  {
    CIKWMakeDlg make(&dlg);
    make.show();
    TypeInto(&make, kKwMakeDlgFrom, big);
    TypeInto(&make, kKwMakeDlgTo, dir_ / "dlgout");
    TypeInto(&make, kKwMakeDlgName, "D");
    QTest::mouseClick(make.Control(kKwMakeDlgOk), Qt::LeftButton);
    ASSERT_NE(make.Maker(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return make.Maker()->BytesRead() > 0; }, 30000));

    // The window's run starts while the dialog's is under way; the
    // dialog's Cancel must not stop it.
    ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
    ASSERT_NE(wnd->Maker(), nullptr);
    QTest::mouseClick(make.Control(kKwMakeDlgCancel), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !make.isVisible(); }, 30000));
    ASSERT_TRUE(WaitFor([&] { return make.Maker()->Done(); }, 10000));
    EXPECT_EQ(make.Maker()->ErrorText(), "cancelled");
  }
  ASSERT_TRUE(WaitFor([&] { return wnd->Maker()->Done(); }, 60000));
  EXPECT_EQ(wnd->Maker()->Result(), 0) << wnd->Maker()->ErrorText();
  ASSERT_TRUE(ClickCell(wnd, kKwMakeCancel));

  // A stop request left over from earlier does not stop a later run.
  g_makeStopFlag = 1;
  ASSERT_TRUE(ClickCell(wnd, kKwMakeStart));
  ASSERT_TRUE(WaitFor([&] { return wnd->Maker()->Done(); }, 60000));
  EXPECT_EQ(wnd->Maker()->Result(), 0) << wnd->Maker()->ErrorText();
  std::string output;
  EXPECT_EQ(RunTool("kwpack verify " + (dir_ / "wndout"), &output), 0) << output;
  // The dialog's cancelled run left no list: nothing there passes for a package.
  EXPECT_FALSE(fs::exists(dir_ / "dlgout/list.json"));
  EXPECT_NE(RunTool("kwpack verify " + (dir_ / "dlgout"), &output), 0) << output;
}

TEST(MakePkgLayout, WindowCellsFollowTheRow) {
  EXPECT_EQ(KwMakePkgCellRect(kKwMakeFromEdit, 0, 0, 1188), KwRectXYWH(112, 32, 640, 24));
  EXPECT_EQ(KwMakePkgCellRect(kKwMakeList, 10, 20, 1188), KwRectXYWH(274, 180, 96, 24));
  // The status line runs to the row's right edge.
  EXPECT_EQ(KwMakePkgCellRect(kKwMakeStatus, 10, 20, 1188), KwRectXYWH(26, 148, 1162, 24));
  EXPECT_TRUE(KwMakePkgCellRect(4004, 0, 0, 100).IsEmpty());
}

TEST(MakePkgLayout, DialogUnitsConvertWithTheFontsAverageCharacter) {
  // A font whose 52 letters are 364 pixels wide averages 7 pixels per
  // character: a base unit of 7, so 4 units across are 7 pixels.
  EXPECT_EQ(KwDialogBaseUnitX(364), 7);
  EXPECT_EQ(KwDialogBaseUnitX(351), 7);  // 13.5 per pair rounds up
  EXPECT_EQ(KwDialogBaseUnitX(337), 6);
  // Edges are rounded separately, halves away from zero.
  EXPECT_EQ(KwDialogUnitsToPixels(7, 84, 50, 14, 7, 16), (KwRect{12, 168, 100, 196}));
  EXPECT_EQ(KwDialogUnitsToPixels(0, 0, 564, 105, 6, 13), (KwRect{0, 0, 846, 171}));
  EXPECT_EQ(KwDialogUnitsToPixels(-2, 0, 2, 0, 6, 13), (KwRect{-3, 0, 0, 0}));
}
