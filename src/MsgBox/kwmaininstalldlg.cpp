#include "MsgBox/kwmaininstalldlg.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <string>

#include "MsgBox/desktop/kwinstancelock.h"
#include "MsgBox/engine/kwenginesource.h"
#include "MsgBox/ikwinsfirstwnd.h"
#include "MsgBox/ikwinstaller.h"
#include "MsgBox/ikwinstallerbkg.h"
#include "MsgBox/ikwinstallerfile.h"
#include "MsgBox/kwpagelaunch.h"
#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "MsgBox/kwpageversions.h"
#include "baseutil/ikwlog.h"
#include "baseview/kwcommand.h"
#include "images/kwembedded.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "tool/makepackage/window/ikwmakedlg.h"
#include "tool/makepackage/window/ikwmakepkgwnd.h"

CKWMainInstallDlg* g_mainDialog = nullptr;

namespace {

KwPackageFileChooser g_packageChooser;

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

bool IsRunMode(RunMode mode) {
  return g_runMode == static_cast<int32_t>(mode);
}

// The application icon: the product emblem of the skin pictures.
QIcon ApplicationIcon() {
  QPixmap pixmap;
  if (const KwEmbeddedImage* art = KwFindEmbeddedImage("me.png")) {
    pixmap.loadFromData(art->bytes, static_cast<uint>(art->count));
  }
  return QIcon(pixmap);
}

// Makes a page a visible child over `rect` and builds its rows, in the
// order the pages expect: rows first, then the window, then the row table.
void CreatePage(CIKWBaseWnd* page, QWidget* parent, const KwRect& rect, int id) {
  page->resize(rect.Width(), rect.Height());
  page->CreateAllLineFromData();
  page->Create(parent, rect, id);
  page->OnCommand(kKwCmdRefreshRows);
}

}  // namespace

CKWMainInstallDlg::CKWMainInstallDlg(QWidget* parent) : CIKWBaseDlg(parent) {
  if (IsRunMode(RunMode::MakePackage)) {
    makePackageWnd_ = new CIKWMakePkgWnd(this);
    makePackageWnd_->setParent(this);
    makePackageWnd_->hide();
  }
  // Pages of the other run modes arrive with their windows; every run mode
  // without a page of its own gets the online version page.
  if (!IsRunMode(RunMode::MakePackage) && !IsRunMode(RunMode::Guided) &&
      !IsRunMode(RunMode::LocalPackage)) {
    onlinePage_ = new CIKWInstallerBkg(this);
    onlinePage_->setParent(this);
    onlinePage_->hide();
  }
  if (IsRunMode(RunMode::Guided)) {
    firstPage_ = new CIKWInsFirstWnd(this);
    firstPage_->setParent(this);
    firstPage_->hide();
  }
  if (IsRunMode(RunMode::LocalPackage)) {
    localPage_ = new CIKWInstallerFile(this);
    localPage_->setParent(this);
    localPage_->hide();
  }
}

CKWMainInstallDlg::~CKWMainInstallDlg() {
  // The install page goes first: its engine joins threads that read the
  // online page's resume table.
  delete installPage_;
  installPage_ = nullptr;
  // Pages ended by EndEngine may still wait for their deferred deletion.
  for (CKWinstaller* ended : findChildren<CKWinstaller*>()) delete ended;
  // The make-package window stops a run still under way and waits for it.
  delete makePackageWnd_;
  makePackageWnd_ = nullptr;
  delete onlinePage_;
  onlinePage_ = nullptr;
  delete firstPage_;
  firstPage_ = nullptr;
  delete localPage_;
  localPage_ = nullptr;
  if (g_mainDialog == this) g_mainDialog = nullptr;
}

KwRect CKWMainInstallDlg::PageRect() const {
  return KwMainPageRect(width(), height());
}

void CKWMainInstallDlg::ReloadTitle() {
  SetTitle(Text("SOFTWARENAME"));
}

void CKWMainInstallDlg::IKW_OnInitDialog() {
  const QIcon icon = ApplicationIcon();
  if (!icon.isNull()) setWindowIcon(icon);

  const KwSize size = KwMainDialogSize(g_runMode);
  int left = 0;
  int top = 0;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect s = screen->geometry();
    KwCentredOrigin(s.width(), s.height(), size.w, size.h, &left, &top);
    left += s.left();
    top += s.top();
  }
  setGeometry(left, top, size.w, size.h);

  if (makePackageWnd_ != nullptr) {
    // The package maker keeps the caption the dialog frame gave it.
    setWindowTitle(QString::fromUtf8(m_title));
    CreatePage(makePackageWnd_, this, PageRect(), kKwModePageId);
    update();
    return;
  }
  ReloadTitle();
  setWindowTitle(QString::fromUtf8(m_title));
  // A second installer started for the same folder asks this one to come
  // to the front.
  if (KwProcessInstanceLock() != nullptr) {
    auto* watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this] {
      KwInstanceLock* lock = KwProcessInstanceLock();
      if (lock == nullptr || !lock->TakeRaiseRequest()) return;
      showNormal();
      raise();
      activateWindow();
    });
    watch->start(300);
  }
  if (firstPage_ != nullptr) {
    CreatePage(firstPage_, this, PageRect(), kKwModePageId);
    firstPage_->show();
  }
  if (localPage_ != nullptr) {
    CreatePage(localPage_, this, PageRect(), kKwModePageId);
    localPage_->show();
  }
  if (onlinePage_ == nullptr) {
    update();
    return;
  }
  CreatePage(onlinePage_, this, PageRect(), kKwModePageId);
  if (IsRunMode(RunMode::BesidePackage)) {
    // The beside-package installer installs the first volume next to it at
    // once; without one there is nothing to do.
    onlinePage_->hide();
    const std::string name = KwFindBesidePackage(g_exeDir);
    if (name.empty()) {
      KwPostCommand(this, kCmdExitRequest);
    } else {
      StartEngine((std::string(g_exeDir) + "/" + name).c_str());
    }
  } else {
    onlinePage_->show();
  }
  update();
}

void CKWMainInstallDlg::IKW_OnSize(int, int) {
  const KwRect r = PageRect();
  if (onlinePage_ != nullptr && onlinePage_->ControlId() != 0) {
    onlinePage_->setGeometry(r.left, r.top, r.Width(), r.Height());
  }
  if (firstPage_ != nullptr && firstPage_->ControlId() != 0) {
    firstPage_->setGeometry(r.left, r.top, r.Width(), r.Height());
  }
  if (makePackageWnd_ != nullptr && makePackageWnd_->ControlId() != 0) {
    makePackageWnd_->setGeometry(r.left, r.top, r.Width(), r.Height());
  }
  if (localPage_ != nullptr && localPage_->ControlId() != 0) {
    localPage_->setGeometry(r.left, r.top, r.Width(), r.Height());
  }
}

void CKWMainInstallDlg::IKW_OnLButtonUp(int, const KwPoint& point) {
  if (!KwInMakePackageCorner(point.x, point.y)) return;
  KW_LOG(4, "CKWMainInstallDlg::IKW_OnLButtonUp", "make-package corner");
  CIKWMakeDlg dialog(this);
  dialog.exec();
}

void CKWMainInstallDlg::IKW_OnCommand(int command) {
  KwMainRouteState state;
  state.runMode = g_runMode;
  state.installStage = g_installStage.load();
  state.hasTargetDir = g_targetDir[0] != '\0';
  if (command == kCmdInstallDone) NoteInstallDone();
  switch (KwRouteMainCommand(command, state)) {
    case KwMainAction::Close:
      CloseDialog();
      break;
    case KwMainAction::EndEngine:
      EndEngine();
      break;
    case KwMainAction::EndEngineAndRefresh:
      if (localPage_ != nullptr) {
        localPage_->NoteInstalled(std::string(g_installPath) + "/" + g_versionText);
      }
      EndEngine();
      if (onlinePage_ != nullptr) onlinePage_->ReFlushVersion();
      break;
    case KwMainAction::PostQuit:
      KwPostCommand(this, kCmdQuit);
      break;
    case KwMainAction::ReloadCaption:
      ReloadTitle();
      setWindowTitle(QString::fromUtf8(m_title));
      update();
      // Every page shows its texts in the new language at once.
      if (onlinePage_ != nullptr) onlinePage_->RequestRepaint();
      if (localPage_ != nullptr) localPage_->RequestRepaint();
      if (installPage_ != nullptr) installPage_->RequestRepaint();
      if (firstPage_ != nullptr) firstPage_->RequestRepaint();
      break;
    case KwMainAction::AskExit:
      AskExit();
      break;
    case KwMainAction::ShowInstallOnline:
      ShowInstallPage("");
      break;
    case KwMainAction::ShowInstallLocal:
      StartLocalTarget();
      break;
    case KwMainAction::ChooseLocalPackage:
      ChooseLocalPackage();
      break;
    case KwMainAction::OfferStartProduct:
      OfferStartProduct();
      break;
    case KwMainAction::Ignore:
      break;
  }
}

void CKWMainInstallDlg::NoteInstallDone() {
  char version[kVersionTextSize];
  KwCopyText(version, sizeof version, g_versionText);
  const std::string folder = std::string(g_installPath) + "/" + version;
  // The product started later from its desktop or menu entry reads these,
  // so they are written now, not only when Open starts it.
  KwWriteProductSettings(folder, IKWLang::Instance()->CodePage() != 0);
  if (onlinePage_ != nullptr) onlinePage_->NoteInstalled(g_installPath, version);
}

void CKWMainInstallDlg::ShowInstallPage(const char* source) {
  installPageShown_ = 1;
  if (onlinePage_ != nullptr) onlinePage_->hide();
  if (localPage_ != nullptr) localPage_->hide();
  if (installPage_ == nullptr) {
    installPage_ = new CKWinstaller(this);
    ++installPagesMade_;
    CreatePage(installPage_, this, PageRect(), kKwInstallPageId);
  } else {
    installPage_->SetOwnerDlg(this);
  }
  installPage_->SetPackageSource(source);
  installPage_->show();
  installPage_->raise();
  // An installation started earlier and not finished continues without the
  // user pressing the button again.
  if (g_installStage.load() > 0) installPage_->StartRun();
  installPage_->OnCommand(kKwCmdRefreshRows);
}

void CKWMainInstallDlg::StartEngine(const char* packagePath) {
  ShowInstallPage(packagePath != nullptr ? packagePath : "");
}

void CKWMainInstallDlg::EndEngine() {
  if (installPage_ != nullptr) {
    CKWinstaller* page = installPage_;
    installPage_ = nullptr;
    page->hide();
    page->DestroyView();
    // Deleted from the event loop, so a nested loop running on the page's
    // behalf (a message box) never returns into a deleted page.
    page->deleteLater();
  }
  if (onlinePage_ != nullptr) {
    onlinePage_->show();
    KwPostCommand(onlinePage_, kCmdRefreshVersions);
  }
  // The local package page comes back after a run, so a failed one can be
  // tried again with another folder.
  if (localPage_ != nullptr) {
    localPage_->show();
    localPage_->RequestRepaint();
  }
  installPageShown_ = 0;
}

void CKWMainInstallDlg::AskExit() {
  const std::string text = Text("exitinstques");
  const std::string caption = Text("prompt");
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption.c_str()),
                  QString::fromUtf8(text.c_str()), QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setObjectName("kwExitQuestion");
  if (box.exec() == QMessageBox::Ok) CloseDialog();
}

void CKWMainInstallDlg::OfferStartProduct() {
  const std::string text = Text("torundir");
  const std::string caption = Text("prompt");
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption.c_str()),
                  QString::fromUtf8(text.c_str()), QMessageBox::Ok | QMessageBox::Cancel, this);
  box.setObjectName("kwStartProductQuestion");
  if (box.exec() != QMessageBox::Ok) {
    CloseDialog();
    return;
  }
  // The product lies where the engine installed it: the install folder and
  // the version of the volume beside the installer.
  char version[kVersionTextSize];
  KwCopyText(version, sizeof version, g_versionText);
  KwStartProductProgram(std::string(g_installPath) + "/" + version + "/Windows/Tarnwick.exe");
  KwPostCommand(this, kCmdQuit);
}

void CKWMainInstallDlg::CloseDialog() {
  EndDialog(QDialog::Rejected);
}

void CKWMainInstallDlg::ChooseLocalPackage() {
  std::string path;
  if (g_packageChooser) {
    path = g_packageChooser(this);
  } else {
    path = QFileDialog::getOpenFileName(this, QString(), QString(), "Tarnwick install files(*.kwk)")
               .toStdString();
  }
  if (path.empty()) return;
  StartEngine(path.c_str());
}

void CKWMainInstallDlg::StartLocalTarget() {
  const bool carries = localPage_ != nullptr ? !localPage_->CarriedVersion().empty()
                                             : KwFindAppendedPackage(g_exePath, nullptr);
  if (carries) {
    ShowInstallPage("^");
    return;
  }
  // A program without a package would only fail on the install page; the
  // user learns why and may pick package files for the chosen folder.
  KwPagePrompt(this, "nopackage");
  ChooseLocalPackage();
}

void KwSetPackageFileChooser(KwPackageFileChooser chooser) {
  g_packageChooser = std::move(chooser);
}

int KwRunMainInstallDlg() {
  CKWMainInstallDlg dialog;
  // The guided installer's window is smaller than the others.
  const KwSize size = KwMainDialogSize(g_runMode);
  dialog.m_minWidth = std::min(800, size.w);
  dialog.m_minHeight = std::min(600, size.h);
  g_mainDialog = &dialog;
  const int result = dialog.exec();
  g_mainDialog = nullptr;
  return result;
}
