// The installer that carries its package in its own file (run mode 4): the
// local package page checks the folder, the main dialog shows the install
// page for the carried package, and the page comes back after the run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "MsgBox/desktop/kwshortcut.h"
#include "MsgBox/ikwinstaller.h"
#include "MsgBox/ikwinstallerfile.h"
#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "baseview/kwcommand.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "platform/kwregistry.h"
#include "tool/makepackage/kwpkgbundle.h"

namespace fs = std::filesystem;

namespace {

using kwtest::ChooseFromCombo;
using kwtest::ClickCell;
using kwtest::ReadCell;
using kwtest::SaveShot;
using kwtest::WaitFor;

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(
    new kwpagetest::AppEnvironment("kwpages_local_test", kKwCodePageDefault));

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

class LocalFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<kwpagetest::ScopedHome>(dir_.path());
    g_installStage = 0;
    g_installPath[0] = '\0';
    g_targetDir[0] = '\0';
    g_versionText[0] = '\0';
    IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    KwSetPromptRecorder(
        [this](const std::string& text, const std::string&) { prompts_.push_back(text); });
  }
  void TearDown() override {
    KwSetPromptRecorder({});
    KwSetPackageFileChooser({});
    g_targetDir[0] = '\0';
  }

  // The program file: a stand-in for the installer with the sample product
  // appended, as the bundling step writes it.
  void CarryPackage(size_t dataBytes) {
    kwpagetest::WriteSampleProduct(dir_ / "product", dataBytes);
    ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product", dir_ / "pkg", "V2.0.0"));
    kwtest::WriteFile(dir_ / "app/stand-in", "#!/bin/sh\nexit 0\n");
    std::string why;
    ASSERT_EQ(
        KwBundlePackage((dir_ / "app/stand-in").c_str(), (dir_ / "pkg/V2.0.0_000.kwk").c_str(),
                        (dir_ / "app/tarnwick-local").c_str(), "V2.0.0", &why),
        0)
        << why;
    UseProgram(dir_ / "app/tarnwick-local");
  }
  void UseProgram(const std::string& path) {
    KwCopyText(g_exePath, kExePathSize, path.c_str());
    KwCopyText(g_exeDir, kExePathSize, fs::path(path).parent_path().c_str());
  }
  void Open(CKWMainInstallDlg* dlg) {
    dlg->show();
    ASSERT_NE(dlg->LocalPage(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return dlg->LocalPage()->FirstPaintDone(); }, 3000));
  }
  // Types `folder` into the path box as a user would.
  void TypeFolder(CIKWInstallerFile* page, const std::string& folder) {
    KwViewLockGuard lock(page->LineListMutex());
    ASSERT_TRUE(lock.owns());
    CKWBaseViewObject* edit = page->FindCell(kKwLocalPath);
    ASSERT_NE(edit, nullptr);
    ASSERT_NE(edit->Editor(), nullptr);
    edit->Editor()->SetText(folder);
  }

  kwtest::TempDir dir_;
  std::unique_ptr<kwpagetest::ScopedHome> home_;
  std::vector<std::string> prompts_;
};

}  // namespace

TEST_F(LocalFlow, FolderIsCheckedBeforeTheInstallPageShows) {
  CarryPackage(1024);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerFile* page = dlg.LocalPage();
  EXPECT_EQ(page->CarriedVersion(), "V2.0.0");
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text, "Install V2.0.0 from this package");
  // The default install folder is offered.
  EXPECT_EQ(ReadCell(page, kKwLocalPath).text, dir_.path() + "/tarnwickinst");

  TypeFolder(page, "");
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  // A place nobody may write, root included.
  TypeFolder(page, "/proc/kw-no-such-place/target");
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  ASSERT_EQ(prompts_.size(), 2u);
  EXPECT_EQ(prompts_[0], Text("pleaseinputtopath"));
  EXPECT_EQ(prompts_[1], Text("invalidpath2"));
  EXPECT_STREQ(g_targetDir, "");
  if (geteuid() != 0) {
    fs::create_directories(dir_ / "locked");
    fs::permissions(dir_ / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    TypeFolder(page, dir_ / "locked/sub");
    ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
    EXPECT_EQ(prompts_.back(), Text("invalidpath2"));
    fs::permissions(dir_ / "locked", fs::perms::owner_all);
  }
  EXPECT_EQ(dlg.InstallPage(), nullptr);

  // A folder that does not exist yet is made; only the probe goes again.
  const std::string target = dir_ / "new/deeper/target";
  TypeFolder(page, target + "/");
  prompts_.clear();
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  EXPECT_TRUE(prompts_.empty());
  EXPECT_STREQ(g_targetDir, target.c_str());
  EXPECT_TRUE(fs::is_directory(target));
  EXPECT_TRUE(fs::is_empty(target));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  EXPECT_FALSE(page->isVisible());
}

TEST_F(LocalFlow, InstallsTheCarriedPackageAndTheLocalPageComesBack) {
  CarryPackage(12u << 20);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerFile* page = dlg.LocalPage();
  page->repaint();
  // It installs what it carries; it downloads nothing.
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text.find("ownload"), std::string::npos);
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text.rfind("Install ", 0), 0u)
      << ReadCell(page, kKwLocalHeadline).text;
  SaveShot(&dlg, "local-page-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text.find("下载"), std::string::npos);
  SaveShot(&dlg, "local-page-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  const std::string target = dir_ / "Programs/Tarnwick";
  TypeFolder(page, target);
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* install = dlg.InstallPage();
  // Nothing to download: the button says install (its text is set on paint).
  EXPECT_TRUE(WaitFor([&] { return ReadCell(install, kKwInstStart).text == "Install"; }, 3000))
      << ReadCell(install, kKwInstStart).text;
  // The page has no folder row, so no disk line speaks for one.
  EXPECT_FALSE(ReadCell(install, kKwInstDiskLine).visible);
  SaveShot(&dlg, "local-install-page-en");
  ASSERT_TRUE(ClickCell(install, kKwInstAgree));
  ASSERT_TRUE(ClickCell(install, kKwInstStart));
  // One picture while the package streams in, if the run is slow enough.
  bool shot = false;
  ASSERT_TRUE(WaitFor(
      [&] {
        if (!shot && dlg.InstallPage() != nullptr) {
          const KwEngineProgress p = dlg.InstallPage()->Engine().Progress();
          if (p.runActive && p.doneBytes > 0) {
            SaveShot(&dlg, "local-installing-en");
            shot = true;
          }
        }
        return dlg.InstallPage() == nullptr;
      },
      30000));
  EXPECT_TRUE(prompts_.empty()) << prompts_.front();
  EXPECT_TRUE(page->isVisible());
  EXPECT_EQ(g_installStage.load(), 0);
  EXPECT_TRUE(WaitFor(
      [&] {
        return ReadCell(page, kKwLocalHeadline).text ==
               "Tarnwick is installed in " + target + "/V2.0.0";
      },
      2000))
      << ReadCell(page, kKwLocalHeadline).text;
  // The main button starts the product now, rather than installing again;
  // the folder row has done its work.
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwLocalInstall).text, "Open");
  EXPECT_FALSE(ReadCell(page, kKwLocalPath).visible);
  SaveShot(&dlg, "local-page-after-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwLocalInstall).text, "打开");
  SaveShot(&dlg, "local-page-after-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  EXPECT_TRUE(WaitFor([&] { return fs::exists(target + "/V2.0.0/Windows/started.log"); }, 5000));
  EXPECT_EQ(dlg.InstallPage(), nullptr);

  // The product, byte for byte, where the user said.
  EXPECT_EQ(kwtest::ReadFile(target + "/V2.0.0/data/sample.bin"),
            kwtest::ReadFile(dir_ / "product/data/sample.bin"));
  EXPECT_EQ(kwtest::ReadFile(target + "/V2.0.0/README.txt"), "Tarnwick sample\n");
  EXPECT_EQ(kwtest::ReadFile(target + "/uninstall.exe"), "uninstaller");
  // Registered: the folder for the next installer, the entry for removal,
  // and the desktop entry.
  KwRegKey key;
  std::string value;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead, &key), 0);
  ASSERT_EQ(key.GetString("InstallPath", &value), 0);
  EXPECT_EQ(value, target);
  KwRegKey entry;
  ASSERT_EQ(KwRegKey::Open(KwHive::LocalMachine,
                           "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick",
                           kKwRegRead, &entry),
            0);
  ASSERT_EQ(entry.GetString("UninstallString", &value), 0);
  EXPECT_EQ(value, target + "/uninstall.exe");
  EXPECT_TRUE(fs::exists(dir_ / (std::string("Desktop/") + kKwProductShortcutName + ".desktop")));
}

TEST_F(LocalFlow, LanguageSwitchRetitlesAndCancelClosesAtOnce) {
  CarryPackage(1024);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerFile* page = dlg.LocalPage();
  EXPECT_EQ(std::string(dlg.m_title), "Tarnwick");
  ASSERT_TRUE(ChooseFromCombo(page, kKwLocalLanguage, 1));
  EXPECT_EQ(IKWLang::Instance()->CodePage(), kKwCodePageChinese);
  EXPECT_TRUE(WaitFor([&] { return std::string(dlg.m_title) == "塔恩维克"; }, 2000));
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(page, kKwLocalInstall).text == Text("IKW_LOCAL_INSTALL"); }, 2000));
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text, "从本安装包安装 V2.0.0");
  SaveShot(&dlg, "local-page-zh");
  ASSERT_TRUE(ChooseFromCombo(page, kKwLocalLanguage, 0));
  EXPECT_TRUE(WaitFor([&] { return std::string(dlg.m_title) == "Tarnwick"; }, 2000));

  ASSERT_TRUE(ClickCell(page, kKwLocalCancel));
  EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 2000));
}

TEST_F(LocalFlow, AProgramWithoutAPackageSaysSoAndOffersPackageFiles) {
  kwtest::WriteFile(dir_ / "app/tarnwick-local", "#!/bin/sh\nexit 0\n");
  UseProgram(dir_ / "app/tarnwick-local");
  int asked = 0;
  KwSetPackageFileChooser([&](QWidget*) {
    ++asked;
    return std::string();
  });
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerFile* page = dlg.LocalPage();
  EXPECT_EQ(page->CarriedVersion(), "");
  EXPECT_EQ(ReadCell(page, kKwLocalHeadline).text, "Install from this package");
  TypeFolder(page, dir_ / "target");
  ASSERT_TRUE(ClickCell(page, kKwLocalInstall));
  ASSERT_TRUE(WaitFor([&] { return asked == 1; }, 2000));
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0], Text("nopackage"));
  // Cancelled: the page stays.
  EXPECT_EQ(dlg.InstallPage(), nullptr);
  EXPECT_TRUE(page->isVisible());
}

TEST(LocalPage, HeadlineFillsOnlyTheVersion) {
  EXPECT_EQ(KwLocalHeadline(0, "go on", "New version %s", "V2.0.0"), "New version V2.0.0");
  EXPECT_EQ(KwLocalHeadline(1, "go on", "New version %s", "V2.0.0"), "go on");
  // A language file's text is never a format: other conversions stay text.
  EXPECT_EQ(KwLocalHeadline(0, "", "%n %s %s %d", "v"), "%n v %s %d");
  EXPECT_EQ(KwFillOnce("no place", "v"), "no place");
}

TEST(LocalPage, RowsLineUpWithTheInstallPage) {
  const KwInstallLayout install = KwLayoutInstallPage(6, 48, 1188, 646);
  const KwLocalLayout narrow = KwLayoutLocalPage(6, 48, 1188, 646, 40);
  EXPECT_EQ(narrow.pathBox, install.pathBox);
  EXPECT_EQ(narrow.browseButton, install.browseButton);
  EXPECT_EQ(narrow.installButton, install.startButton);
  EXPECT_EQ(narrow.cancelButton, install.cancelButton);
  // A longer text widens the button to the left; its right edge stays.
  const KwLocalLayout wide = KwLayoutLocalPage(6, 48, 1188, 646, 200);
  EXPECT_EQ(wide.installButton.right, install.startButton.right);
  EXPECT_EQ(wide.installButton.Width(), 224);
  EXPECT_EQ(wide.cancelButton.right + 16, wide.installButton.left);
}
