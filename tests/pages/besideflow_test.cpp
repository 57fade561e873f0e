// The beside-package installer (run mode 5): the main dialog opens the
// install page at once with the package volume lying next to the program,
// installs it where the user says, offers to start the product and closes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "MsgBox/ikwinstaller.h"
#include "MsgBox/ikwinstallerbkg.h"
#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpageprompt.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"

namespace fs = std::filesystem;

namespace {

using kwtest::ClickCell;
using kwtest::ReadCell;
using kwtest::WaitFor;

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(
    new kwpagetest::AppEnvironment("kwpages_beside_test", kKwCodePageDefault));

class BesideFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<kwpagetest::ScopedHome>(dir_.path());
    KwCopyText(g_exeDir, kExePathSize, (dir_ / "app").c_str());
    fs::create_directories(dir_ / "app");
    g_installStage = 0;
    g_installPath[0] = '\0';
    g_versionText[0] = '\0';
    KwSetPromptRecorder(
        [this](const std::string& text, const std::string&) { prompts_.push_back(text); });
  }
  void TearDown() override { KwSetPromptRecorder({}); }

  kwtest::TempDir dir_;
  std::unique_ptr<kwpagetest::ScopedHome> home_;
  std::vector<std::string> prompts_;
};

}  // namespace

TEST_F(BesideFlow, InstallsTheVolumeBesideAndStartsTheProduct) {
  kwpagetest::WriteSampleProduct(dir_ / "product", 32 * 1024);
  ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product", dir_ / "app", "V2.0.0"));
  ASSERT_EQ(g_runMode, static_cast<int32_t>(RunMode::BesidePackage));
  CKWMainInstallDlg dlg;
  dlg.show();
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  ASSERT_NE(dlg.OnlinePage(), nullptr);
  EXPECT_FALSE(dlg.OnlinePage()->isVisible());
  EXPECT_EQ(dlg.OnlinePage()->QueriesDone(), 0);  // no server is asked
  EXPECT_EQ(page->ChosenFolder(), dir_ / "app");
  page->repaint();
  {
    KwViewLockGuard lock(page->LineListMutex());
    ASSERT_NE(page->FindCell(kKwInstLanguage), nullptr);
    // The list shows the language in use (English here).
    EXPECT_EQ(page->FindCell(kKwInstLanguage)->ComboBox()->SelectedIndex(), 0);
    // The folder beside the installer was measured: a real disk, no false
    // warning of missing space (this machine's disk has room).
  }
  EXPECT_GT(page->Engine().Progress().diskTotal, 0);
  // Nothing is downloaded here: the button installs.
  EXPECT_TRUE(WaitFor(
      [&] {
        page->repaint();
        return ReadCell(page, kKwInstStart).text == "Install";
      },
      3000))
      << ReadCell(page, kKwInstStart).text;
  // The disk line speaks of what this volume needs.
  EXPECT_EQ(ReadCell(page, kKwInstDiskLine).text.rfind("Required disk space: ", 0), 0u);

  // The finished run offers to start the product: answer it from a timer,
  // since the question runs its own event loop.
  if (const char* shots = getenv("KW_PAGE_SHOTS")) {
    fs::create_directories(shots);
    dlg.grab().save(QString::fromStdString(std::string(shots) + "/beside-install-page-en.png"));
  }
  std::string offer;
  std::string status;
  std::string progress;
  bool startShown = true;
  bool folderShown = true;
  bool agreementShown = true;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    offer = box->text().toStdString();
    // Behind the question the page only reports: no folder row, agreement
    // or start button, no stray file name and no disk summary.
    page->repaint();
    status = page->StatusText();
    progress = page->ProgressText();
    startShown = ReadCell(page, kKwInstStart).visible;
    folderShown = ReadCell(page, kKwInstPath).visible;
    agreementShown = ReadCell(page, kKwInstAgree).visible;
    if (const char* shots = getenv("KW_PAGE_SHOTS")) {
      dlg.grab().save(QString::fromStdString(std::string(shots) + "/beside-finished-en.png"));
      box->grab().save(QString::fromStdString(std::string(shots) + "/beside-torundir-en.png"));
      IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
      page->repaint();
      dlg.grab().save(QString::fromStdString(std::string(shots) + "/beside-finished-zh.png"));
      IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    }
    box->button(QMessageBox::Ok)->click();
  });
  answer.start(100);
  ASSERT_TRUE(ClickCell(page, kKwInstAgree));
  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  ASSERT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 30000))
      << "stage " << g_installStage.load() << ", run active " << page->Engine().RunActive()
      << ", result " << page->Engine().LastResult() << ", " << page->Engine().Progress().failure;
  EXPECT_TRUE(prompts_.empty()) << prompts_.front();
  EXPECT_EQ(offer, "Tarnwick is installed. Do you want to start it now ?");
  EXPECT_EQ(status, "Tarnwick V2.0.0 is installed in " + (dir_ / "app") + ".");
  EXPECT_EQ(progress, "");
  EXPECT_FALSE(startShown);
  EXPECT_FALSE(folderShown);
  EXPECT_FALSE(agreementShown);
  EXPECT_TRUE(fs::exists(dir_ / "app/V2.0.0/README.txt"));
  EXPECT_TRUE(WaitFor([&] { return fs::exists(dir_ / "app/V2.0.0/Windows/started.log"); }, 5000));
}

TEST_F(BesideFlow, NothingBesideClosesWithoutAsking) {
  CKWMainInstallDlg dlg;
  dlg.show();
  ASSERT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 3000));
  EXPECT_EQ(dlg.InstallPage(), nullptr);
  EXPECT_EQ(dlg.InstallPagesMade(), 0);
}
