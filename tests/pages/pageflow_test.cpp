// The online installer's window flow, clicked through offscreen against the
// reference install server: version page, install page, agreement, a real
// download and installation, the return to the version page, the exit
// question, pause and continue, and an unreachable server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/ikwinstaller.h"
#include "MsgBox/ikwinstallerbkg.h"
#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "MsgBox/kwpagetext.h"
#include "app/common/ikwbasepopup.h"
#include "app/common/ikwshowdialog.h"
#include "baseview/kwcommand.h"
#include "baseview/kwplacement.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "kwtest/roomydisk.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwregistry.h"
#include "tool/http/kwserverconfig.h"
#include "tool/makepackage/kwunzippackage.h"

namespace fs = std::filesystem;
using kwpagetest::ScopedHome;
using kwpagetest::Server;

namespace {

using kwtest::CellState;
using kwtest::ChooseFromCombo;
using kwtest::ClickCell;
using kwtest::ReadCell;
using kwtest::SaveShot;
using kwtest::WaitFor;

::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(
    new kwpagetest::AppEnvironment("kwpages_flow_test", -1, [] { KwCurlBindForExecutable(""); }));

using kwtest::RoomyDisk;

class PageFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<ScopedHome>(dir_.path());
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    g_versionText[0] = '\0';
    IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    KwSetPromptRecorder([this](const std::string& text, const std::string& caption) {
      prompts_.emplace_back(text, caption);
    });
  }
  void TearDown() override {
    KwSetPromptRecorder({});
    KwSetServerBaseUrl(nullptr);
    KwSetInstallPageHooks({});
  }

  // Install pages made from now on measure a roomy disk.
  void UseRoomyDisk() {
    KwInstallPageHooks hooks;
    hooks.disk = &roomyDisk_;
    KwSetInstallPageHooks(hooks);
  }
  RoomyDisk roomyDisk_;

  // Packs a sample product with `bytes` of data and serves it; `rate` limits
  // every volume connection to that many bytes per second.
  void Serve(size_t bytes, int64_t rate = 0) {
    kwpagetest::WriteSampleProduct(dir_ / "product", bytes);
    ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product", dir_ / "server", "V2.0.0"));
    server_ = std::make_unique<Server>(dir_ / "server", rate);
    ASSERT_TRUE(server_->ok());
    KwSetServerBaseUrl(server_->url().c_str());
  }

  // Opens the dialog and waits for the version page's server answer.
  void Open(CKWMainInstallDlg* dlg) {
    dlg->show();
    ASSERT_NE(dlg->OnlinePage(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return dlg->OnlinePage()->QueriesDone() > 0; }, 10000));
  }

  // From the version page to a started download, the agreement ticked.
  CKWinstaller* StartDownload(CKWMainInstallDlg* dlg) {
    KwPostCommand(dlg, kCmdStartOnline);
    if (!WaitFor([&] { return dlg->InstallPage() != nullptr; }, 2000)) return nullptr;
    CKWinstaller* page = dlg->InstallPage();
    page->Engine().SetRequiredSpace(4096);
    WaitFor([] { return false; }, 500);  // a person takes a moment to read the page
    if (!ClickCell(page, kKwInstAgree)) return nullptr;
    if (!ClickCell(page, kKwInstStart)) return nullptr;
    return page;
  }

  // Serves `size` bytes at `rate` per connection, opens the dialog and starts
  // the download; the page once bytes are flowing, else null.
  CKWinstaller* StartFlowingDownload(CKWMainInstallDlg* dlg, size_t size, int64_t rate) {
    Serve(size, rate);
    Open(dlg);
    CKWinstaller* page = StartDownload(dlg);
    // The speed measure sees them.
    if (page == nullptr || !WaitFor([&] { return page->Engine().Progress().speed > 0; }, 10000))
      return nullptr;
    return page;
  }

  std::string InstallRoot() const { return dir_ / "tarnwickinst"; }

  kwtest::TempDir dir_;
  std::unique_ptr<ScopedHome> home_;
  std::unique_ptr<Server> server_;
  std::vector<std::pair<std::string, std::string>> prompts_;
};

}  // namespace

TEST_F(PageFlow, VersionPageInstallsFromServerAndReturns) {
  Serve(64 * 1024);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* online = dlg.OnlinePage();
  // Inside the screen's available area, scaled down as a whole where the
  // designed 1200 x 700 does not fit (the offscreen screen is smaller).
  const QRect a = QGuiApplication::primaryScreen()->availableGeometry();
  const KwPlacement place =
      KwPlaceWindow(KwRectXYWH(a.x(), a.y(), a.width(), a.height()), 1200, 700, true);
  EXPECT_EQ(dlg.geometry(), QRect(place.window.left, place.window.top, place.window.Width(),
                                  place.window.Height()));
  EXPECT_TRUE(a.contains(dlg.geometry()));
  EXPECT_DOUBLE_EQ(dlg.PageScale(), place.scale);
  EXPECT_DOUBLE_EQ(online->ContentScale(), place.scale);
  EXPECT_EQ(online->geometry(), QRect(6, 48, dlg.width() - 12, dlg.height() - 54));
  dlg.resize(1000, 650);  // the version page follows the window
  EXPECT_TRUE(WaitFor([&] { return online->geometry() == QRect(6, 48, 988, 596); }, 2000));
  dlg.resize(1200, 700);
  EXPECT_TRUE(WaitFor([&] { return online->geometry() == QRect(6, 48, 1188, 646); }, 2000));
  EXPECT_STREQ(g_versionText, "V2.0.0");
  EXPECT_EQ(std::string(g_installPath), InstallRoot());
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "New version V2.0.0"; }, 3000));
  EXPECT_FALSE(ReadCell(online, kKwOnlineOpen).visible);  // nothing installed yet
  SaveShot(&dlg, "version-page-en");

  // The link posts 35125; the dialog shows a fresh install page.
  ASSERT_TRUE(ClickCell(online, kKwOnlineInstallLink));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  EXPECT_TRUE(dlg.InstallPageShown());
  EXPECT_FALSE(online->isVisible());
  EXPECT_EQ(page->ChosenFolder(), InstallRoot());
  page->Engine().SetRequiredSpace(4096);
  SaveShot(&dlg, "install-page-en");

  // Without the agreement nothing starts.
  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  ASSERT_EQ(prompts_.size(), 1u);
  EXPECT_EQ(prompts_[0].first, IKWLang::Instance()->GetText("pleasecheck"));
  EXPECT_EQ(prompts_[0].second, "prompt");
  EXPECT_EQ(g_installStage.load(), 0);
  EXPECT_FALSE(page->Engine().RunActive());

  ASSERT_TRUE(ClickCell(page, kKwInstAgree));
  EXPECT_TRUE(ReadCell(page, kKwInstAgree).checked);
  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  // The run ends with 833: the install page is gone, the version page is back
  // and lists the installed version.
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 30000));
  EXPECT_FALSE(dlg.InstallPageShown());
  EXPECT_TRUE(online->isVisible());
  EXPECT_EQ(g_installStage.load(), 0);
  ASSERT_EQ(online->InstalledVersions().size(), 1u);
  EXPECT_EQ(online->InstalledVersions()[0], "V2.0.0");
  EXPECT_TRUE(WaitFor([&] { return ReadCell(online, kKwOnlineOpen).visible; }, 2000));
  // The page says what was installed where; Open is the way on, not the
  // same version again.
  EXPECT_TRUE(WaitFor([&] { return ReadCell(online, kKwOnlineNotice).visible; }, 5000));
  EXPECT_EQ(ReadCell(online, kKwOnlineNotice).text,
            "Tarnwick V2.0.0 is installed in " + InstallRoot() + ".");
  EXPECT_TRUE(WaitFor([&] { return !ReadCell(online, kKwOnlineInstallLink).visible; }, 5000));
  SaveShot(&dlg, "version-page-installed-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  online->repaint();
  EXPECT_EQ(ReadCell(online, kKwOnlineNotice).text,
            "塔恩维克 V2.0.0 已安装到 " + InstallRoot() + "。");
  SaveShot(&dlg, "version-page-installed-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  // The product's settings are written by the installation itself, so a
  // start from the desktop entry finds them too.
  const std::string productIni =
      InstallRoot() + "/V2.0.0/Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini";
  EXPECT_NE(kwtest::ReadFile(productIni).find("ikwdriver/ikwactionapp.exe"), std::string::npos);

  // "Open" starts the installed version after writing its settings.
  ASSERT_TRUE(ClickCell(online, kKwOnlineOpen));
  EXPECT_NE(kwtest::ReadFile(productIni).find("ikwdriver/ikwactionapp.exe"), std::string::npos);
  EXPECT_TRUE(
      WaitFor([&] { return fs::exists(InstallRoot() + "/V2.0.0/Windows/started.log"); }, 5000));

  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/README.txt"));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/uninstall.exe"));
  EXPECT_FALSE(fs::exists(InstallRoot() + "/unzip.ins"));
  for (const auto& e : fs::directory_iterator(InstallRoot())) {
    EXPECT_NE(e.path().extension(), ".tmp") << e.path();
  }
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead, &key), 0);
  std::string value;
  EXPECT_EQ(key.GetString("InstallPath", &value), 0);
  EXPECT_EQ(value, InstallRoot());

  // A second install builds a fresh page.
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  EXPECT_EQ(dlg.InstallPagesMade(), 2);
  EXPECT_TRUE(ReadCell(dlg.InstallPage(), kKwInstAgree).visible);
  EXPECT_FALSE(ReadCell(dlg.InstallPage(), kKwInstAgree).checked);
  KwPostCommand(&dlg, kCmdInstallFailed);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 2000));
  EXPECT_TRUE(online->isVisible());
}

TEST_F(PageFlow, CloseDuringDownloadAsksAndCancelKeepsDownloading) {
  // The last volume is shared out over four connections: 8 MB at 600 KB/s
  // each lasts about three and a half seconds.
  CKWMainInstallDlg dlg;
  CKWinstaller* page = StartFlowingDownload(&dlg, 8 * 1024 * 1024, 600 * 1024);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(g_installStage.load(), 1);
  page->repaint();
  // The folder row is gone while downloading, its native path box with it.
  EXPECT_FALSE(ReadCell(page, kKwInstPath).visible);
  QPointer<QWidget> pathControl;
  for (QWidget* w : page->findChildren<QWidget*>()) {
    if (w->objectName() == QString::number(kKwInstPath)) pathControl = w;
  }
  ASSERT_NE(pathControl, nullptr);
  EXPECT_TRUE(WaitFor([&] { return pathControl != nullptr && !pathControl->isVisible(); }, 1000));
  SaveShot(&dlg, "install-progress-en");

  // The close button's request asks; Cancel keeps everything going.
  std::string question;
  QTimer::singleShot(200, &dlg, [&] {
    if (QWidget* box = QApplication::activeModalWidget()) SaveShot(box, "exit-question-en");
    kwtest::AnswerQuestion(false, &question);
  });
  // A real press on the caption's close button (28 x 28, 42 pixels from the
  // right edge, 10 from the top).
  QTest::mouseClick(&dlg, Qt::LeftButton, Qt::NoModifier, QPoint(dlg.width() - 28, 24));
  ASSERT_TRUE(WaitFor([&] { return !question.empty(); }, 5000));
  EXPECT_EQ(question, "Exit installation, are you sures ?");
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.InstallPage(), page);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));

  // Idle again: the close request closes at once.
  KwPostCommand(&dlg, kCmdExitRequest);
  EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 2000));
}

TEST_F(PageFlow, PauseHoldsTheTransferAndContinueFinishes) {
  for (int i = 0; i < 400; ++i) {  // many small files make the unpacking visible
    kwtest::WriteFile(dir_ / ("product/docs/page" + std::to_string(i) + ".txt"), "text");
  }
  // 6 MB over four connections at 400 KB/s each: about four seconds.
  CKWMainInstallDlg dlg;
  CKWinstaller* page = StartFlowingDownload(&dlg, 6 * 1024 * 1024, 400 * 1024);
  ASSERT_NE(page, nullptr);
  EXPECT_EQ(ReadCell(page, kKwInstStart).text, "Pause");

  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  EXPECT_EQ(g_pauseState.load(), 2);
  EXPECT_TRUE(
      WaitFor([&] { return ReadCell(page, kKwInstStart).text == "Continue Download"; }, 2000));
  page->repaint();
  EXPECT_EQ(page->ProgressText().rfind("Paused ", 0), 0u) << page->ProgressText();
  SaveShot(&dlg, "install-paused-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  EXPECT_EQ(page->ProgressText().rfind("已暂停 ", 0), 0u) << page->ProgressText();
  page->repaint();
  SaveShot(&dlg, "install-paused-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  // Held for longer than the whole transfer would take: after a moment for
  // bytes already on their way, no byte arrives, the speed reads zero and the
  // page stays in the download.
  WaitFor([] { return false; }, 1000);
  const int64_t held = page->Engine().Progress().doneBytes;
  WaitFor([] { return false; }, 5000);
  EXPECT_EQ(page->Engine().Progress().doneBytes, held);
  EXPECT_LT(held, page->Engine().Progress().totalBytes);
  EXPECT_EQ(page->Engine().Progress().speed, 0);
  EXPECT_EQ(g_installStage.load(), 1);
  EXPECT_EQ(dlg.InstallPage(), page);

  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  EXPECT_EQ(g_pauseState.load(), 0);
  // A picture of the unpacking, when the poll catches it (it is short).
  if (WaitFor([&] { return g_installStage.load() == 2 || dlg.InstallPage() == nullptr; }, 60000) &&
      dlg.InstallPage() != nullptr) {
    page->repaint();
    SaveShot(&dlg, "install-unpacking-en");
  }
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));
}

TEST_F(PageFlow, UnreachableServerShowsTheErrorAndCloses) {
  KwSetPromptRecorder({});  // the real skinned box
  KwSetServerBaseUrl("http://127.0.0.1:9");
  // The designed English box, and the same box in Chinese for the Chinese UI.
  for (int codePage : {kKwCodePageDefault, kKwCodePageChinese}) {
    IKWLang::Instance()->SetCodePage(codePage);
    std::string title;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      title = box->m_title;
      SaveShot(box, codePage == 0 ? "error-cannot-connect-en" : "error-cannot-connect-zh");
      KwPostCommand(box, 10004);  // its OK button's command
    });
    answer.start(100);
    CKWMainInstallDlg dlg;
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 15000));
    EXPECT_EQ(title, codePage == 0 ? "error" : "错误");
  }
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  // The texts themselves.
  std::vector<std::pair<std::string, std::string>> seen;
  KwSetPromptRecorder([&](const std::string& text, const std::string& caption) {
    seen.emplace_back(text, caption);
  });
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  {
    CKWMainInstallDlg dlg;
    dlg.show();
    ASSERT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 15000));
  }
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, "无法连接服务器 !");
  EXPECT_EQ(seen[0].second, "错误");
}

// With the product installed, an unreachable server leaves the installer
// open on the version page: Open works, a line says why nothing is offered.
TEST_F(PageFlow, UnreachableServerWithAnInstalledVersionStaysOpen) {
  kwtest::WriteFile(InstallRoot() + "/V2.0.0/Windows/Tarnwick.exe",
                    "#!/bin/sh\necho started >> \"$(dirname \"$0\")/started.log\"\n");
  KwSetServerBaseUrl("http://127.0.0.1:9");
  CKWMainInstallDlg dlg;
  dlg.show();
  CIKWInstallerBkg* online = dlg.OnlinePage();
  ASSERT_TRUE(WaitFor([&] { return online->QueriesDone() > 0; }, 15000));
  WaitFor([] { return false; }, 300);  // a close would come now
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(prompts_.empty());
  EXPECT_TRUE(online->ServerUnreachable());
  EXPECT_TRUE(WaitFor([&] { return ReadCell(online, kKwOnlineNotice).visible; }, 2000));
  EXPECT_EQ(ReadCell(online, kKwOnlineNotice).text,
            "The install server cannot be reached. Installed versions can still be opened.");
  EXPECT_FALSE(ReadCell(online, kKwOnlineInstallLink).visible);
  EXPECT_TRUE(ReadCell(online, kKwOnlineOpen).visible);
  SaveShot(&dlg, "version-page-unreachable-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  online->repaint();
  EXPECT_EQ(ReadCell(online, kKwOnlineNotice).text, "无法连接安装服务器，已安装的版本仍可打开。");
  SaveShot(&dlg, "version-page-unreachable-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  ASSERT_TRUE(ClickCell(online, kKwOnlineOpen));
  EXPECT_TRUE(
      WaitFor([&] { return fs::exists(InstallRoot() + "/V2.0.0/Windows/started.log"); }, 5000));
}

// The server goes away in the middle of a download: the page says so and
// counts its attempts, keeps what it had, offers Cancel and carries on by
// itself once the server is back.
TEST_F(PageFlow, LostConnectionIsSaidKeepsTheProgressAndCarriesOn) {
  CKWMainInstallDlg dlg;
  CKWinstaller* page = StartFlowingDownload(&dlg, 6 * 1024 * 1024, 400 * 1024);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(WaitFor([&] { return page->Engine().Progress().doneBytes > 1024 * 1024; }, 20000));
  const int port = server_->port();
  server_.reset();
  const int64_t before = page->Engine().Progress().doneBytes;
  ASSERT_TRUE(WaitFor([&] { return page->Engine().Progress().retryAttempt >= 2; }, 20000));
  const KwEngineProgress lost = page->Engine().Progress();
  EXPECT_GE(lost.doneBytes, before);  // nothing taken back
  EXPECT_TRUE(lost.runActive);
  EXPECT_EQ(
      page->StatusText().rfind("Connection to the install server lost. Retrying (attempt ", 0), 0u)
      << page->StatusText();
  EXPECT_EQ(page->ProgressText().rfind("Downloading ", 0), 0u) << page->ProgressText();
  EXPECT_NE(page->ProgressText(), "Downloading 0.00 %");
  page->repaint();
  EXPECT_TRUE(ReadCell(page, kKwInstCancel).visible);
  SaveShot(&dlg, "install-connection-lost-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  EXPECT_EQ(page->StatusText().rfind("与安装服务器的连接已断开", 0), 0u) << page->StatusText();
  page->repaint();
  SaveShot(&dlg, "install-connection-lost-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);

  server_ = std::make_unique<Server>(dir_ / "server", 0, port);
  ASSERT_TRUE(server_->ok());
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));
}

// Download pressed after the server went away: not "Preparing" for ever,
// but the lost connection, and the run starts when the server is back.
TEST_F(PageFlow, DownloadWithTheServerGoneWaitsForItAndSaysSo) {
  Serve(64 * 1024);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  const int port = server_->port();
  server_.reset();
  CKWinstaller* page = StartDownload(&dlg);
  ASSERT_NE(page, nullptr);
  ASSERT_TRUE(WaitFor([&] { return page->Engine().Progress().retryAttempt >= 1; }, 20000));
  EXPECT_EQ(page->StatusText().rfind("Connection to the install server lost.", 0), 0u);
  server_ = std::make_unique<Server>(dir_ / "server", 0, port);
  ASSERT_TRUE(server_->ok());
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/README.txt"));
}

// Only the first question closes the installer when it fails; the refresh
// after an installation (the same command) keeps the window and its versions.
TEST_F(PageFlow, FailedRefreshKeepsTheWindowOpen) {
  Serve(16 * 1024);
  kwtest::WriteFile(InstallRoot() + "/V2.0.0/Windows/Tarnwick.exe", "#!/bin/sh\n");
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* online = dlg.OnlinePage();
  KwSetServerBaseUrl("http://127.0.0.1:9");
  KwPostCommand(online, kCmdRefreshVersions);
  ASSERT_TRUE(WaitFor([&] { return online->QueriesDone() == 2; }, 15000));
  WaitFor([] { return false; }, 300);  // any message or close would come now
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_TRUE(prompts_.empty());
  EXPECT_TRUE(ReadCell(online, kKwOnlineOpen).visible);
  SaveShot(&dlg, "version-page-after-failed-refresh-en");
  // The page is free to ask again.
  KwSetServerBaseUrl(server_->url().c_str());
  KwPostCommand(online, kCmdRefreshVersions);
  EXPECT_TRUE(WaitFor([&] { return online->QueriesDone() == 3; }, 15000));
}

TEST_F(PageFlow, LanguageSwitchChangesTitleAndTexts) {
  Serve(16 * 1024);
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);  // the start-up language
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* online = dlg.OnlinePage();
  EXPECT_STREQ(dlg.m_title, "塔恩维克");
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "最新版本 V2.0.0下载安装"; },
      2000))
      << ReadCell(online, kKwOnlineInstallLink).text;
  SaveShot(&dlg, "version-page-zh");

  // English from the page's own list: the title follows through 9103.
  ASSERT_TRUE(ChooseFromCombo(online, kKwOnlineLanguage, 0));
  EXPECT_EQ(IKWLang::Instance()->CodePage(), kKwCodePageDefault);
  EXPECT_TRUE(WaitFor([&] { return std::string(dlg.m_title) == "Tarnwick"; }, 2000));
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "New version V2.0.0"; }, 2000));
  EXPECT_EQ(dlg.windowTitle().toStdString(), "Tarnwick");

  // And back to Chinese; the install page made afterwards speaks it too.
  ASSERT_TRUE(ChooseFromCombo(online, kKwOnlineLanguage, 1));
  EXPECT_TRUE(WaitFor([&] { return std::string(dlg.m_title) == "塔恩维克"; }, 2000));
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  EXPECT_TRUE(
      WaitFor([&] { return ReadCell(dlg.InstallPage(), kKwInstStart).text == "下载"; }, 2000))
      << ReadCell(dlg.InstallPage(), kKwInstStart).text;
  SaveShot(&dlg, "install-page-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
}

TEST_F(PageFlow, RefusedStartShowsTheSkinnedPromptInTheCurrentLanguage) {
  KwSetPromptRecorder({});  // the real box this time
  Serve(16 * 1024);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  for (int codePage : {kKwCodePageDefault, kKwCodePageChinese}) {
    IKWLang::Instance()->SetCodePage(codePage);
    std::string title;
    QTimer::singleShot(300, [&] {
      auto* box = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      title = box->m_title;
      SaveShot(box, codePage == 0 ? "prompt-pleasecheck-en" : "prompt-pleasecheck-zh");
      KwPostCommand(box, 10004);  // the OK button's command
    });
    ASSERT_TRUE(ClickCell(dlg.InstallPage(), kKwInstStart));
    EXPECT_EQ(title, IKWLang::Instance()->GetText("prompt"));
  }
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  EXPECT_FALSE(dlg.InstallPage()->Engine().RunActive());
}

namespace {

// Reports 40 GiB free, or a kilobyte for folders named "small"; remembers the
// folders it was asked about.
class FakeDisk : public IKWEngineDisk {
 public:
  bool Measure(const char* folder, int64_t* total, int64_t* free) override {
    std::lock_guard<std::mutex> lock(mutex);
    asked.push_back(folder);
    const int64_t gib = int64_t{1} << 30;
    *total = 100 * gib;
    *free = std::string(folder).find("small") != std::string::npos ? 1024 : 40 * gib;
    return true;
  }
  size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return asked.size();
  }
  std::mutex mutex;
  std::vector<std::string> asked;
};

// The summed size of the served volumes.
int64_t ServedBytes(const std::string& folder) {
  int64_t bytes = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().extension() == ".kwk") bytes += static_cast<int64_t>(e.file_size());
  }
  return bytes;
}

}  // namespace

TEST_F(PageFlow, DiskLineBrowseTypedFolderLicenceLinkAndAgreementLabel) {
  Serve(16 * 1024);
  FakeDisk disk;
  std::vector<std::string> opened;
  KwInstallPageHooks hooks;
  hooks.disk = &disk;
  hooks.chooseFolder = [&](QWidget*, const std::string&) { return dir_ / "small"; };
  hooks.openUrl = [&](const char* url) { opened.push_back(url); };
  KwSetInstallPageHooks(hooks);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  page->repaint();
  ASSERT_EQ(disk.Count(), 1u);
  EXPECT_EQ(disk.asked[0], InstallRoot());
  // The release's need: its volumes and the files unpacked from them.
  const std::string need = "Required disk space: " + KwSizeText(2 * ServedBytes(dir_ / "server"));
  EXPECT_EQ(ReadCell(page, kKwInstDiskLine).text, need);
  EXPECT_EQ(page->Engine().RequiredSpace(), 2 * ServedBytes(dir_ / "server"));

  // Browsing replaces the folder and measures its disk again: too small.
  ASSERT_TRUE(ClickCell(page, kKwInstBrowse));
  EXPECT_EQ(page->ChosenFolder(), dir_ / "small");
  EXPECT_EQ(ReadCell(page, kKwInstPath).text, dir_ / "small");
  ASSERT_EQ(disk.Count(), 2u);
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwInstDiskLine).text, need + " Not enough disk space");
  {
    KwViewLockGuard lock(page->LineListMutex());
    EXPECT_EQ(page->FindCell(kKwInstDiskLine)->textColor, 0x0000FFu);
  }
  SaveShot(&dlg, "install-page-low-disk-en");

  // A folder typed on a large disk is measured too: the warning goes.
  KwSetEditCellText(page, kKwInstPath, dir_ / "large");
  ASSERT_TRUE(WaitFor([&] { return disk.Count() >= 3u; }, 5000));
  EXPECT_EQ(disk.asked.back(), dir_ / "large");
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwInstDiskLine).text, need);
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page->repaint();
  EXPECT_EQ(ReadCell(page, kKwInstDiskLine).text.rfind("所需磁盘空间：", 0), 0u);
  SaveShot(&dlg, "install-page-disk-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);

  // The licence link opens the licence; the agreement's words tick its box.
  ASSERT_TRUE(ClickCell(page, kKwInstPrivacy));
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0], kKwLicenceUrl);
  EXPECT_FALSE(ReadCell(page, kKwInstAgree).checked);
  ASSERT_TRUE(ClickCell(page, kKwInstAgreeText));
  EXPECT_TRUE(ReadCell(page, kKwInstAgree).checked);
  ASSERT_TRUE(ClickCell(page, kKwInstAgreeText));
  EXPECT_FALSE(ReadCell(page, kKwInstAgree).checked);
  KwSetInstallPageHooks({});
}

TEST_F(PageFlow, LeftoverVolumeContinuesWithoutAskingAgain) {
  Serve(64 * 1024);
  // A volume of an earlier download lies in the folder (its bytes are not
  // the served ones, so it is fetched again and then verifies).
  kwtest::WriteFile(InstallRoot() + "/V2.0.0_000.tmp", "partial");
  UseRoomyDisk();
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* online = dlg.OnlinePage();
  EXPECT_EQ(g_installStage.load(), 1);
  EXPECT_FALSE(online->Fresh());
  EXPECT_STREQ(online->ResumeTable()[0].name, "V2.0.0_000.tmp");
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "Continue install..."; }, 2000));
  SaveShot(&dlg, "version-page-continue-en");

  // The link shows the install page and the run starts at once; the
  // agreement counts as given.
  ASSERT_TRUE(ClickCell(online, kKwOnlineInstallLink));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  // Read before the event loop runs again: the run may end quickly.
  CKWinstaller* page = dlg.InstallPage();
  EXPECT_TRUE(page->Engine().RunActive() || page->Engine().RunFinished());
  page->repaint();
  EXPECT_FALSE(ReadCell(page, kKwInstAgree).visible);
  EXPECT_TRUE(prompts_.empty());
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 30000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/README.txt"));
  EXPECT_FALSE(fs::exists(InstallRoot() + "/V2.0.0_000.tmp"));
  // The version page asks again after the installation: nothing to continue.
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "New version V2.0.0"; }, 5000));
}

// A disk whose free space the test turns.
class DialDisk : public IKWEngineDisk {
 public:
  bool Measure(const char*, int64_t* total, int64_t* free) override {
    *total = int64_t{500} << 30;
    *free = free_.load();
    return true;
  }
  // Less than any release needs: the start is refused.
  std::atomic<int64_t> free_{1024};
};

TEST_F(PageFlow, RefusedContinueLeavesAButtonThatStartsTheRunAgain) {
  Serve(64 * 1024);
  kwtest::WriteFile(InstallRoot() + "/V2.0.0_000.tmp", "partial");
  DialDisk disk;
  KwInstallPageHooks hooks;
  hooks.disk = &disk;
  KwSetInstallPageHooks(hooks);
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* online = dlg.OnlinePage();
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "Continue install..."; }, 2000));
  ASSERT_TRUE(ClickCell(online, kKwOnlineInstallLink));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  ASSERT_TRUE(WaitFor([&] { return !prompts_.empty(); }, 2000));
  EXPECT_EQ(prompts_[0].first, IKWLang::Instance()->GetText("notenough"));
  EXPECT_FALSE(page->Engine().RunActive());
  page->repaint();
  // The folder shows and the button offers to continue rather than pause.
  EXPECT_TRUE(ReadCell(page, kKwInstPath).visible);
  EXPECT_EQ(ReadCell(page, kKwInstStart).text, IKWLang::Instance()->GetText("continuedownload"));
  SaveShot(&dlg, "install-page-refused-continue-en");

  // Space was freed: the same button starts the run, which installs.
  disk.free_ = int64_t{400} << 30;
  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  EXPECT_TRUE(page->Engine().RunActive() || page->Engine().RunFinished());
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 30000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/README.txt"));
}

TEST_F(PageFlow, PackageFilesChosenByTheUserInstallWithoutDownloading) {
  Serve(16 * 1024);
  // A second package made locally, whose volume the user picks.
  kwpagetest::WriteSampleProduct(dir_ / "local-product", 48 * 1024);
  kwtest::WriteFile(dir_ / "local-product/LOCAL.txt", "from the file");
  ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "local-product", dir_ / "local", "V2.0.0"));
  int asked = 0;
  KwSetPackageFileChooser([&](QWidget*) {
    ++asked;
    return asked == 1 ? std::string() : dir_ / "local/V2.0.0_000.kwk";
  });
  CKWMainInstallDlg dlg;
  Open(&dlg);
  // Cancelled: the version page stays.
  KwPostCommand(&dlg, kCmdStartLocal);
  ASSERT_TRUE(WaitFor([&] { return asked == 1; }, 2000));
  EXPECT_EQ(dlg.InstallPage(), nullptr);
  EXPECT_TRUE(dlg.OnlinePage()->isVisible());

  KwPostCommand(&dlg, kCmdStartLocal);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  page->Engine().SetRequiredSpace(4096);
  // The pictures change every 2.5 s while the page is up.
  const int firstPicture = page->LogoIndex();
  WaitFor([] { return false; }, 2700);
  page->repaint();
  EXPECT_EQ(page->LogoIndex(), (firstPicture + 1) % 3);
  ASSERT_TRUE(ClickCell(page, kKwInstAgree));
  ASSERT_TRUE(ClickCell(page, kKwInstStart));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 30000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/LOCAL.txt"));
  KwSetPackageFileChooser({});
}

TEST_F(PageFlow, QuittingDuringDownloadLeavesItToContinueNextTime) {
  // The last volume is shared out over four connections: 8 MB at 600 KB/s
  // each lasts about three and a half seconds.
  {
    CKWMainInstallDlg dlg;
    CKWinstaller* page = StartFlowingDownload(&dlg, 8 * 1024 * 1024, 600 * 1024);
    ASSERT_NE(page, nullptr);
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] { kwtest::AnswerQuestion(true); });
    answer.start(100);
    KwPostCommand(&dlg, kCmdExitRequest);
    ASSERT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 5000));
  }  // the dialog, its pages and the engine's threads are gone here
  EXPECT_EQ(g_installStage.load(), 1);
  EXPECT_FALSE(fs::exists(InstallRoot() + "/V2.0.0/README.txt"));

  // The next start finds the volume and offers to continue.
  g_installStage = 0;
  UseRoomyDisk();
  CKWMainInstallDlg again;
  Open(&again);
  CIKWInstallerBkg* online = again.OnlinePage();
  EXPECT_EQ(g_installStage.load(), 1);
  EXPECT_TRUE(WaitFor(
      [&] { return ReadCell(online, kKwOnlineInstallLink).text == "Continue install..."; }, 2000));
  ASSERT_TRUE(ClickCell(online, kKwOnlineInstallLink));
  ASSERT_TRUE(WaitFor([&] { return again.InstallPage() != nullptr; }, 2000));
  ASSERT_TRUE(WaitFor([&] { return again.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));
  EXPECT_TRUE(prompts_.empty());
}

// A package of several volumes on a slow link: the page shows the download
// and, beside it, the file being unpacked from the volumes that verified;
// its bar counts both kinds of work and never runs backwards.
TEST_F(PageFlow, UnpackingBesideTheDownloadShowsBothAndTheBarNeverRunsBack) {
  kwpagetest::WriteSampleProduct(dir_ / "product", 6 * 1024 * 1024);
  for (int i = 0; i < 200; ++i) {
    kwtest::WriteFile(dir_ / ("product/docs/page" + std::to_string(i) + ".txt"), "text");
  }
  {
    std::filesystem::create_directories(dir_ / "server");
    IKWMakePkg maker(1, 800000);
    maker.SetSourceFolder((dir_ / "product").c_str());
    maker.SetOutputFolder((dir_ / "server").c_str());
    maker.SetPackageName("V2.0.0");
    ASSERT_EQ(maker.Start(), 0);
    maker.WaitDone();
    ASSERT_EQ(maker.Result(), 0);
    ASSERT_TRUE(fs::exists(dir_ / "server/V2.0.0_002.kwk"));
  }
  server_ = std::make_unique<Server>(dir_ / "server", 300 * 1024);
  ASSERT_TRUE(server_->ok());
  KwSetServerBaseUrl(server_->url().c_str());
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CKWinstaller* page = StartDownload(&dlg);
  ASSERT_NE(page, nullptr);
  int64_t shown = 0;
  bool backwards = false;
  auto watch = [&] {
    const KwEngineProgress p = page->Engine().Progress();
    if (p.doneBytes < shown) backwards = true;
    shown = p.doneBytes;
    return p;
  };
  ASSERT_TRUE(WaitFor(
      [&] {
        const KwEngineProgress p = watch();
        return p.unpackDone > 0 && p.downloadDone < p.downloadTotal && !p.statusLine.empty();
      },
      30000));
  page->repaint();
  SaveShot(&dlg, "install-overlap-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page->repaint();
  SaveShot(&dlg, "install-overlap-zh");
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
  // The page goes away with the end of the run.
  ASSERT_TRUE(WaitFor(
      [&] {
        if (dlg.InstallPage() == nullptr) return true;
        watch();
        return false;
      },
      90000));
  EXPECT_FALSE(backwards);
  EXPECT_TRUE(fs::exists(InstallRoot() + "/V2.0.0/data/sample.bin"));
}

// With an installed version that kept its manifest, the install page says
// before start how much an update downloads out of the whole release, in
// either language.
TEST_F(PageFlow, InstallPageShowsTheUpdateSizeBeforeStart) {
  kwpagetest::WriteSampleProduct(dir_ / "product1", 3000000);
  ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product1", dir_ / "pkg1", "V1.0.0"));
  {
    CKWUnzipPackage unzip;
    unzip.SetTargetFolder((InstallRoot() + "/V1.0.0").c_str());
    const std::string v = kwtest::ReadFile(dir_ / "pkg1/V1.0.0_000.kwk");
    ASSERT_EQ(unzip.PutBuffer(v.data() + 24, static_cast<int32_t>(v.size() - 24)), 0);
    ASSERT_EQ(unzip.Finish(), 0);
  }
  fs::copy_file(dir_ / "pkg1/manifest.kwm", InstallRoot() + "/V1.0.0.kwm");
  kwpagetest::WriteSampleProduct(dir_ / "product", 3000000);
  kwtest::WriteFile(dir_ / "product/README.txt", "Tarnwick sample, second edition\n");
  ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product", dir_ / "server", "V2.0.0"));
  server_ = std::make_unique<Server>(dir_ / "server", 0);
  ASSERT_TRUE(server_->ok());
  KwSetServerBaseUrl(server_->url().c_str());

  CKWMainInstallDlg dlg;
  Open(&dlg);
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  ASSERT_TRUE(WaitFor(
      [&] { return page->Engine().UpdateEstimate().state != KwUpdateEstimate::kUnknown; }, 10000));
  const KwUpdateEstimate e = page->Engine().UpdateEstimate();
  ASSERT_EQ(e.state, KwUpdateEstimate::kUpdate) << e.note;
  EXPECT_EQ(e.from, "V1.0.0");
  EXPECT_GT(e.updateBytes, 0);
  EXPECT_LT(e.updateBytes, e.fullBytes / 4);
  WaitFor([] { return false; }, 300);
  SaveShot(&dlg, "install-page-update-en");
  IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
  page->update();
  WaitFor([] { return false; }, 300);
  SaveShot(&dlg, "install-page-update-zh");
  EXPECT_NE(
      KwUpdateSizeLine(IKWLang::Instance()->GetText("updatesize"), e, &KwSizeText).find("V1.0.0"),
      std::string::npos);
  IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
}
