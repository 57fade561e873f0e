// The guided installer (run mode 2): its first page checks the location,
// deploys the carried second installer behind the wait dialog, starts it
// and closes; the language list and cancel behave as on the other pages.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwdeploy.h"
#include "MsgBox/ikwinsfirstwnd.h"
#include "MsgBox/kwfirstpagelayout.h"
#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpageprompt.h"
#include "baseview/kwdlgwait.h"
#include "images/kwimageutil.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"

namespace fs = std::filesystem;
using kwtest::ChooseFromCombo;
using kwtest::ClickCell;
using kwtest::ReadCell;
using kwtest::SaveShot;
using kwtest::WaitFor;

namespace {

::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new kwpagetest::AppEnvironment("kwpages_firstpage_test"));

const int kTextCells[] = {kKwFirstLanguageLabel, kKwFirstPathLabel, kKwFirstBrowse, kKwFirstInstall,
                          kKwFirstCancel};
const char* const kTextKeys[] = {"selectLanguage", "selectpath", "openf", "install", "cancel"};

class FirstPage : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<kwpagetest::ScopedHome>(dir_ / "home");
    fs::create_directories(dir_ / "app");
    KwCopyText(g_exeDir, kExePathSize, (dir_ / "app").c_str());
    IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    SetCarried("installer bytes");
    KwSetPromptRecorder([this](const std::string& text, const std::string& caption) {
      prompts_.push_back(caption + ": " + text);
    });
    KwFirstPageHooks hooks;
    hooks.settleMs = 0;
    hooks.start = [this](const char* program, const char*) {
      std::lock_guard<std::mutex> lock(mutex_);
      started_.push_back(program);
      return 0;
    };
    hooks.chooseFolder = [this](QWidget*, const std::string& start) {
      chooserStart_ = start;
      return chosen_;
    };
    KwSetFirstPageHooks(hooks);
  }
  void TearDown() override {
    KwSetPromptRecorder({});
    KwSetFirstPageHooks({});
    KwSetCarriedInstaller(nullptr, 0);
    IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  }

  void SetCarried(const std::string& bytes) {
    carried_ = bytes;
    KwSetCarriedInstaller(reinterpret_cast<const uint8_t*>(carried_.data()), carried_.size());
  }

  CIKWBaseWnd* Open(CKWMainInstallDlg* dlg) {
    dlg->show();
    CIKWBaseWnd* page = dlg->FirstPage();
    if (page != nullptr) WaitFor([&] { return page->FirstPaintDone(); }, 3000);
    return page;
  }

  // Types `text` into the location box with real key presses.
  static bool TypeLocation(CIKWBaseWnd* page, const std::string& text) {
    QLineEdit* edit = nullptr;
    WaitFor(
        [&] {
          for (auto* e : page->findChildren<QLineEdit*>()) {
            if (e->objectName() == QString::number(kKwFirstPath)) edit = e;
          }
          return edit != nullptr;
        },
        2000);
    if (edit == nullptr) return false;
    edit->clear();
    QTest::keyClicks(edit, QString::fromStdString(text));
    return edit->text().toStdString() == text;
  }

  std::vector<std::string> Started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }

  std::string Prompt(const char* key) {
    return std::string(IKWLang::Instance()->GetText("prompt")) + ": " +
           IKWLang::Instance()->GetText(key);
  }

  kwtest::TempDir dir_;
  std::unique_ptr<kwpagetest::ScopedHome> home_;
  std::string carried_;
  std::string chosen_;
  std::string chooserStart_;
  std::vector<std::string> prompts_;
  std::mutex mutex_;
  std::vector<std::string> started_;
};

}  // namespace

TEST(FirstPageLayout, ControlsFitThePageAndDoNotOverlap) {
  // The page area of the 800 x 520 window.
  const KwFirstPageLayout l = KwLayoutFirstPage(0, 0, 788, 466);
  const KwRect all[] = {l.image,   l.languageLabel, l.languageList, l.pathLabel,
                        l.pathBox, l.browseButton,  l.cancelButton, l.installButton};
  for (size_t i = 0; i < std::size(all); ++i) {
    EXPECT_GE(all[i].left, 0) << i;
    EXPECT_GE(all[i].top, 0) << i;
    EXPECT_LE(all[i].right, 788) << i;
    EXPECT_LE(all[i].bottom, 466) << i;
    for (size_t j = i + 1; j < std::size(all); ++j) {
      const KwRect& a = all[i];
      const KwRect& b = all[j];
      const bool apart =
          a.right <= b.left || b.right <= a.left || a.bottom <= b.top || b.bottom <= a.top;
      EXPECT_TRUE(apart) << i << " overlaps " << j;
    }
  }
  EXPECT_EQ(l.image.Width(), 320);
  EXPECT_EQ(l.image.Height(), 200);
}

TEST_F(FirstPage, RefusesEachBadLocationWithItsMessage) {
  ASSERT_EQ(g_runMode, static_cast<int32_t>(RunMode::Guided));
  fs::create_directories(dir_ / "Program Files");
  CKWMainInstallDlg dlg;
  CIKWBaseWnd* page = Open(&dlg);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(dlg.size(), QSize(800, 520));
  EXPECT_EQ(page->geometry(), QRect(6, 48, 788, 466));
  auto* first = static_cast<CIKWInsFirstWnd*>(page);
  ASSERT_NE(first->PageImage(), nullptr);
  EXPECT_EQ(first->PageImage()->Width(), 115);
  EXPECT_EQ(first->PageImage()->Height(), 67);

  // The box suggests the home folder, which the user can write to.
  EXPECT_EQ(first->Location(), dir_ / "home");
  // A folder cannot be made inside a file, whoever runs the test.
  kwtest::WriteFile(dir_ / "afile", "x");
  const std::pair<std::string, const char*> refused[] = {
      {"", "pleaseinputtopath"},
      {dir_ / "Program Files", "invalidpath"},
      {dir_ / "afile/inside", "invalidpath2"},
  };
  for (const auto& [location, key] : refused) {
    prompts_.clear();
    ASSERT_TRUE(TypeLocation(page, location));
    ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
    ASSERT_EQ(prompts_.size(), 1u) << location;
    EXPECT_EQ(prompts_[0], Prompt(key)) << location;
  }
  EXPECT_FALSE(fs::exists(dir_ / "Program Files/tarnwick_install"));
  EXPECT_TRUE(Started().empty());
  EXPECT_TRUE(dlg.isVisible());

  // The same folder in lower case passes and is deployed into, made first
  // when it does not exist yet, as the other installers make theirs; the
  // started installer ends this program.
  prompts_.clear();
  ASSERT_TRUE(TypeLocation(page, dir_ / "program files"));
  ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
  EXPECT_TRUE(prompts_.empty());
  const std::string exe = dir_ / "program files/tarnwick_install/twinstaller.exe";
  EXPECT_EQ(kwtest::ReadFile(exe), carried_);
  EXPECT_EQ(Started(), std::vector<std::string>{exe});
  EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 3000));
}

TEST_F(FirstPage, DeployingTwiceReplacesInstallerAndEntryBehindTheWaitDialog) {
  fs::create_directories(dir_ / "loc");
  const std::string exe = dir_ / "loc/tarnwick_install/twinstaller.exe";
  const std::string entry = dir_ / "home/Desktop/Tarnwick Installer.desktop";
  for (const char* bytes : {"first build", "second build"}) {
    SetCarried(bytes);
    CKWMainInstallDlg dlg;
    CIKWBaseWnd* page = Open(&dlg);
    ASSERT_NE(page, nullptr);
    // The location through the folder chooser the second time.
    if (Started().empty()) {
      ASSERT_TRUE(TypeLocation(page, dir_ / "loc"));
    } else {
      chosen_ = dir_ / "loc";
      ASSERT_TRUE(ClickCell(page, kKwFirstBrowse));
      EXPECT_EQ(static_cast<CIKWInsFirstWnd*>(page)->Location(), chosen_);
      // With an empty box the chooser opens in the home folder.
      EXPECT_EQ(chooserStart_, dir_ / "home");
    }
    std::string waitText;
    bool waitShown = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* wait = qobject_cast<CKwDlgWait*>(w);
        if (wait == nullptr || !wait->isVisible() || waitShown) continue;
        waitShown = true;
        waitText = wait->Message();
        SaveShot(wait, "firstpage-wait");
      }
    });
    watch.start(20);
    ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
    watch.stop();
    EXPECT_TRUE(waitShown);
    EXPECT_EQ(waitText, IKWLang::Instance()->GetText("pleasewait"));
    EXPECT_TRUE(prompts_.empty());
    EXPECT_EQ(kwtest::ReadFile(exe), bytes);
    EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 3000));
  }
  EXPECT_EQ(Started(), (std::vector<std::string>{exe, exe}));
  const std::string text = kwtest::ReadFile(entry);
  EXPECT_NE(text.find("Exec=" + exe + "\n"), std::string::npos) << text;
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "home/Desktop"), fs::directory_iterator()),
            1);
}

TEST_F(FirstPage, FailedDeploymentSaysSoAndKeepsThePage) {
  kwtest::WriteFile(dir_ / "loc/tarnwick_install", "a file in the way");
  CKWMainInstallDlg dlg;
  CIKWBaseWnd* page = Open(&dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(TypeLocation(page, dir_ / "loc"));
  ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
  EXPECT_EQ(prompts_, std::vector<std::string>{Prompt("deployfailed")});
  EXPECT_TRUE(Started().empty());
  WaitFor([] { return false; }, 200);
  EXPECT_TRUE(dlg.isVisible());
}

TEST_F(FirstPage, LanguageListChangesEveryTextAndStaysInForce) {
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);  // the start-up language
  CKWMainInstallDlg dlg;
  CIKWBaseWnd* page = Open(&dlg);
  ASSERT_NE(page, nullptr);
  auto texts = [&] {
    std::vector<std::string> out;
    page->repaint();
    for (int id : kTextCells) out.push_back(ReadCell(page, id).text);
    return out;
  };
  auto expected = [] {
    std::vector<std::string> out;
    for (const char* key : kTextKeys) out.push_back(IKWLang::Instance()->GetText(key));
    return out;
  };
  EXPECT_EQ(texts(), expected());
  EXPECT_EQ(texts()[3], "安装");
  EXPECT_STREQ(dlg.m_title, "塔恩维克");
  SaveShot(&dlg, "firstpage-zh");

  ASSERT_TRUE(ChooseFromCombo(page, kKwFirstLanguage, 0));
  EXPECT_EQ(IKWLang::Instance()->CodePage(), kKwCodePageDefault);
  EXPECT_EQ(texts(), expected());
  EXPECT_EQ(texts()[3], "Install");
  EXPECT_TRUE(WaitFor([&] { return std::string(dlg.m_title) == "Tarnwick"; }, 2000));
  SaveShot(&dlg, "firstpage-en");

  // Messages shown afterwards speak the chosen language.
  ASSERT_TRUE(TypeLocation(page, ""));
  ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
  EXPECT_EQ(prompts_, std::vector<std::string>{"prompt: Please input install tagert path !"});

  // The installer it deploys starts in the chosen language: the choice is
  // in the settings beside it.
  ASSERT_TRUE(TypeLocation(page, dir_ / "english"));
  ASSERT_TRUE(ClickCell(page, kKwFirstInstall));
  const std::string ini = kwtest::ReadFile(dir_ / "english/tarnwick_install/itarnwick.ini");
  EXPECT_NE(ini.find("CODEPAGE=0"), std::string::npos) << ini;
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
}

TEST_F(FirstPage, CancelAsksBeforeClosing) {
  CKWMainInstallDlg dlg;
  CIKWBaseWnd* page = Open(&dlg);
  ASSERT_NE(page, nullptr);
  for (QMessageBox::StandardButton answer : {QMessageBox::Cancel, QMessageBox::Ok}) {
    // The question is answered whenever it shows, however slow the machine.
    std::string question;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !question.empty()) return;
      question = box->text().toStdString();
      box->button(answer)->click();
    });
    answerer.start(50);
    ASSERT_TRUE(ClickCell(page, kKwFirstCancel));
    ASSERT_TRUE(WaitFor([&] { return !question.empty(); }, 5000));
    EXPECT_EQ(question, "Exit installation, are you sures ?");
    WaitFor([] { return false; }, 100);
    EXPECT_EQ(dlg.isVisible(), answer == QMessageBox::Cancel);
  }
}
