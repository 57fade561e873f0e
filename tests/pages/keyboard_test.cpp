// The online installer driven by the keyboard alone, offscreen, with the key
// events an X11 server delivers (Shift+Tab arrives as a Shift press, then
// Backtab with the Shift modifier): Tab order per page, Space and Enter on
// the controls, the language list opened and chosen with keys, Escape as
// cancel, and the skinned questions answered with keys.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/ikwinstaller.h"
#include "MsgBox/ikwinstallerbkg.h"
#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "app/common/ikwbasepopup.h"
#include "app/common/ikwshowdialog.h"
#include "baseview/kwcommand.h"
#include "kwpageapp.h"
#include "kwpageclick.h"
#include "kwpagefixture.h"
#include "kwtest/roomydisk.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwserverconfig.h"

using kwpagetest::ScopedHome;
using kwpagetest::Server;
using kwtest::ReadCell;
using kwtest::WaitFor;

namespace {

::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new kwpagetest::AppEnvironment(
        "kwpages_keyboard_test", -1, [] { KwCurlBindForExecutable(""); }));

using kwtest::RoomyDisk;

// Where keys go: the open popup list, else the focus widget of the active
// window, as on a real display.
QWidget* KeyTarget() {
  if (QWidget* popup = QApplication::activePopupWidget()) {
    return popup->focusWidget() != nullptr ? popup->focusWidget() : popup;
  }
  if (QWidget* focus = QApplication::focusWidget()) return focus;
  return QApplication::activeWindow();
}

void Send(QEvent::Type type, int key, Qt::KeyboardModifiers mods, const QString& text = {}) {
  QWidget* target = KeyTarget();
  ASSERT_NE(target, nullptr);
  QKeyEvent event(type, key, mods, text);
  QApplication::sendEvent(target, &event);
  QCoreApplication::processEvents();
}

// A plain key: press and release.
void Press(int key, const QString& text = {}) {
  Send(QEvent::KeyPress, key, Qt::NoModifier, text);
  Send(QEvent::KeyRelease, key, Qt::NoModifier, text);
}
void Tab() {
  Press(Qt::Key_Tab, "\t");
}
void Space() {
  Press(Qt::Key_Space, " ");
}
void Enter() {
  Press(Qt::Key_Return, "\r");
}
void Escape() {
  Press(Qt::Key_Escape, QString(QChar(27)));
}
// X11: Shift goes down, Tab with Shift held comes as Backtab.
void ShiftTab() {
  Send(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
  Send(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
  Send(QEvent::KeyRelease, Qt::Key_Backtab, Qt::ShiftModifier);
  Send(QEvent::KeyRelease, Qt::Key_Shift, Qt::ShiftModifier);
}
// X11: Alt goes down, then Down with Alt held.
void AltDown() {
  Send(QEvent::KeyPress, Qt::Key_Alt, Qt::NoModifier);
  Send(QEvent::KeyPress, Qt::Key_Down, Qt::AltModifier);
  Send(QEvent::KeyRelease, Qt::Key_Down, Qt::AltModifier);
  Send(QEvent::KeyRelease, Qt::Key_Alt, Qt::AltModifier);
}

IKWMShowPopMenu* OpenPopup() {
  IKWMShowPopMenu* menu = nullptr;
  WaitFor(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* m = qobject_cast<IKWMShowPopMenu*>(w);
          if (m != nullptr && m->isVisible()) menu = m;
        }
        return menu != nullptr;
      },
      2000);
  return menu;
}

// Once a skinned box shows, `keys` is played at it from a timer (the box
// runs its own event loop, so the test cannot wait for it in line).
void PlayAtBox(std::function<void(CIKWShowDialog*)> keys) {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [timer, keys] {
    auto* box = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
    if (box == nullptr || !box->isVisible() || box->Content() == nullptr) return;
    timer->stop();
    timer->deleteLater();
    QApplication::setActiveWindow(box);
    box->Content()->setFocus();
    keys(box);
  });
  timer->start(50);
}

class Keyboard : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = std::make_unique<ScopedHome>(dir_.path());
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    g_versionText[0] = '\0';
    IKWLang::Instance()->SetCodePage(kKwCodePageChinese);
    KwSetPromptRecorder(
        [this](const std::string& text, const std::string&) { prompts_.push_back(text); });
    KwInstallPageHooks hooks;
    hooks.disk = &disk_;
    KwSetInstallPageHooks(hooks);
    kwpagetest::WriteSampleProduct(dir_ / "product", 64 * 1024);
    ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product", dir_ / "server", "V2.0.0"));
    server_ = std::make_unique<Server>(dir_ / "server", 0);
    ASSERT_TRUE(server_->ok());
    KwSetServerBaseUrl(server_->url().c_str());
  }
  void TearDown() override {
    KwSetPromptRecorder({});
    KwSetServerBaseUrl(nullptr);
    KwSetInstallPageHooks({});
  }

  void Open(CKWMainInstallDlg* dlg) {
    dlg->show();
    QApplication::setActiveWindow(dlg);
    ASSERT_TRUE(WaitFor([&] { return dlg->OnlinePage()->QueriesDone() > 0; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return dlg->OnlinePage()->FirstPaintDone(); }, 2000));
  }

  kwtest::TempDir dir_;
  std::unique_ptr<ScopedHome> home_;
  std::unique_ptr<Server> server_;
  RoomyDisk disk_;
  std::vector<std::string> prompts_;
};

}  // namespace

TEST_F(Keyboard, VersionPageTabOrderAndLanguageList) {
  CKWMainInstallDlg dlg;
  Open(&dlg);
  CIKWInstallerBkg* page = dlg.OnlinePage();
  EXPECT_EQ(page->FocusOrder(),
            (std::vector<int>{kKwOnlineLanguage, kKwOnlineVersionList, kKwOnlineInstallLink}));
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineLanguage);
  EXPECT_TRUE(page->FocusRingShown());
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineVersionList);
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineInstallLink);
  Tab();  // wraps
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineLanguage);
  ShiftTab();
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineInstallLink);
  ShiftTab();
  ShiftTab();
  EXPECT_EQ(page->KeyFocusId(), kKwOnlineLanguage);

  // Space opens the list on the current choice; Up and Enter choose English.
  Space();
  IKWMShowPopMenu* menu = OpenPopup();
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->List()->Highlight(), 1);
  Press(Qt::Key_Up);
  EXPECT_EQ(menu->List()->Highlight(), 0);
  Enter();
  ASSERT_TRUE(WaitFor([&] { return IKWLang::Instance()->CodePage() == kKwCodePageDefault; }, 2000));
  EXPECT_TRUE(WaitFor([&] { return dlg.windowTitle() == "Tarnwick"; }, 2000));
  // Alt+Down opens it too; Escape closes it without a choice.
  ASSERT_TRUE(WaitFor([&] { return OpenPopup() == nullptr || !menu; }, 2000));
  AltDown();
  menu = OpenPopup();
  ASSERT_NE(menu, nullptr);
  Press(Qt::Key_Down);
  Escape();
  ASSERT_TRUE(WaitFor([&] { return QApplication::activePopupWidget() == nullptr; }, 2000));
  EXPECT_EQ(IKWLang::Instance()->CodePage(), kKwCodePageDefault);
  EXPECT_TRUE(dlg.isVisible());  // Escape in the list is not the window's

  // Enter on the list presses the page's main control: the install link.
  Enter();
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
}

TEST_F(Keyboard, InstallPageTabOrderAgreementDownloadAndEscape) {
  CKWMainInstallDlg dlg;
  Open(&dlg);
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  page->Engine().SetRequiredSpace(4096);
  ASSERT_TRUE(WaitFor([&] { return page->FirstPaintDone(); }, 2000));
  ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == page; }, 2000));
  EXPECT_EQ(page->FocusOrder(), (std::vector<int>{kKwInstPath, kKwInstBrowse, kKwInstAgree,
                                                  kKwInstPrivacy, kKwInstCancel, kKwInstStart}));

  // The folder box hands the focus to its native control, and Tab leaves
  // it again instead of cycling inside it.
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwInstPath);
  ASSERT_NE(qobject_cast<QLineEdit*>(QApplication::focusWidget()), nullptr);
  EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::number(kKwInstPath));
  // The ring shows around the folder box while its control has the focus.
  EXPECT_TRUE(page->FocusRingShown());
  {
    const QImage shot = page->grab().toImage();
    const kwtest::CellState path = ReadCell(page, kKwInstPath);
    // Just outside the box's top edge, whatever the page's scale: the light
    // blue of the ring (blended where the page is drawn smaller).
    bool ring = false;
    for (int y = path.centre.y() - path.height / 2 - 4; y < path.centre.y() - path.height / 2;
         ++y) {
      const QColor c = shot.pixelColor(path.centre.x(), y);
      ring = ring || (c.blue() > 150 && c.blue() > c.red() + 40);
    }
    EXPECT_TRUE(ring);
  }
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwInstBrowse);
  EXPECT_EQ(QApplication::focusWidget(), page);
  ShiftTab();
  EXPECT_EQ(QApplication::focusWidget()->objectName(), QString::number(kKwInstPath));
  ShiftTab();  // wraps to the last control
  EXPECT_EQ(page->KeyFocusId(), kKwInstStart);

  // Enter without the agreement: the page says why nothing starts.
  Enter();
  EXPECT_EQ(prompts_, (std::vector<std::string>{IKWLang::Instance()->GetText("pleasecheck")}));
  EXPECT_EQ(g_installStage.load(), 0);

  // Space ticks the agreement, twice unticks, three times ticks.
  Tab();
  Tab();
  Tab();
  EXPECT_EQ(page->KeyFocusId(), kKwInstAgree);
  Space();
  EXPECT_TRUE(ReadCell(page, kKwInstAgree).checked);
  Space();
  EXPECT_FALSE(ReadCell(page, kKwInstAgree).checked);
  Space();
  EXPECT_TRUE(ReadCell(page, kKwInstAgree).checked);

  // Escape is the cancel button: while idle the window closes at once, so
  // only look at it once the run is on.  Enter presses the download.
  Enter();
  ASSERT_TRUE(
      WaitFor([&] { return page->Engine().RunActive() || dlg.InstallPage() == nullptr; }, 5000));
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() == nullptr; }, 60000));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "tarnwickinst/V2.0.0/README.txt"));
}

TEST_F(Keyboard, EscapeDuringADownloadAsksAndTheBoxAnswersKeys) {
  // 4 MiB at 256 KiB/s per connection: some seconds of download.
  kwpagetest::WriteSampleProduct(dir_ / "product2", 4 * 1024 * 1024);
  ASSERT_TRUE(kwpagetest::MakePackage(dir_ / "product2", dir_ / "server2", "V2.0.0"));
  server_ = std::make_unique<Server>(dir_ / "server2", 256 * 1024);
  ASSERT_TRUE(server_->ok());
  KwSetServerBaseUrl(server_->url().c_str());
  CKWMainInstallDlg dlg;
  Open(&dlg);
  KwPostCommand(&dlg, kCmdStartOnline);
  ASSERT_TRUE(WaitFor([&] { return dlg.InstallPage() != nullptr; }, 2000));
  CKWinstaller* page = dlg.InstallPage();
  page->Engine().SetRequiredSpace(4096);
  ASSERT_TRUE(WaitFor([&] { return QApplication::focusWidget() == page; }, 2000));
  page->SetKeyFocus(kKwInstAgree, true);
  Space();
  Enter();
  ASSERT_TRUE(WaitFor([&] { return g_installStage.load() == 1; }, 5000));

  // A screen reader finds the progress bar with its name and percentage.
  QAccessibleInterface* view = QAccessible::queryAccessibleInterface(page);
  ASSERT_NE(view, nullptr);
  QAccessibleInterface* bar = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (int i = 0; i < view->childCount() && bar == nullptr; ++i) {
          if (view->child(i)->role() == QAccessible::ProgressBar) bar = view->child(i);
        }
        return bar != nullptr;
      },
      5000));
  EXPECT_EQ(bar->text(QAccessible::Name).toStdString(), IKWLang::Instance()->GetText("ondownload"));
  ASSERT_NE(bar->valueInterface(), nullptr);
  const double percent = bar->valueInterface()->currentValue().toDouble();
  EXPECT_GE(percent, 0.0);
  EXPECT_LE(percent, 100.0);
  EXPECT_EQ(bar->valueInterface()->maximumValue().toDouble(), 100.0);

  // Escape asks the exit question in the skinned box, which runs its own
  // event loop: a timer plays the user at it.  Escape answers no.
  std::string question;
  PlayAtBox([&](CIKWShowDialog* box) {
    question = box->Content()->Message();
    Escape();
  });
  Escape();
  EXPECT_EQ(question, IKWLang::Instance()->GetText("exitinstques"));
  EXPECT_TRUE(dlg.isVisible());

  // Back in the window (offscreen, nobody hands the activation back).
  const auto activate = [&] {
    QApplication::setActiveWindow(&dlg);
    page->setFocus();
  };
  // Tab moves between the box's buttons; Space on "cancel" answers no too.
  std::vector<int> order;
  int focused = 0;
  PlayAtBox([&](CIKWShowDialog* box) {
    order = box->Content()->FocusOrder();
    Tab();
    focused = box->Content()->KeyFocusId();
    Space();
  });
  activate();
  Escape();
  EXPECT_EQ(order, (std::vector<int>{1003, 1004}));
  EXPECT_EQ(focused, 1003);
  EXPECT_TRUE(dlg.isVisible());

  // Enter answers with the default button: yes, close.
  PlayAtBox([&](CIKWShowDialog*) { Enter(); });
  activate();
  Escape();
  EXPECT_TRUE(WaitFor([&] { return !dlg.isVisible(); }, 5000));
}
