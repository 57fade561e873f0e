#include "kwpanel/kwpanelapp.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "MsgBox/desktop/kwinstancelock.h"
#include "MsgBox/desktop/kwuninstall.h"
#include "MsgBox/kwpagequery.h"
#include "MsgBox/kwpagetext.h"
#include "MsgBox/kwuninstallwnd.h"
#include "app/common/ikwshowdialog.h"
#include "baseutil/ikwlog.h"
#include "kwpanel/kwbundle.h"
#include "kwpanel/kwstartup.h"
#include "kwpanel/kwstartuphooks.h"
#include "language/ikwlang.h"
#include "main/ikwmain.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwinifile.h"
#include "platform/kwknownfolders.h"
#include "platform/kwprocess.h"

#ifndef KW_BUNDLE_INSTALLER
#define KW_BUNDLE_INSTALLER "tarnwick-local"
#endif
#ifndef KW_BUNDLE_VOLUME
#define KW_BUNDLE_VOLUME "v201_000.kwk"
#endif
#ifndef KW_BUNDLE_OUTPUT
#define KW_BUNDLE_OUTPUT "tarnwick-bundled"
#endif

namespace {

// Shown when the window system cannot be started (the platform's
// counterpart of the framework's own start failure).
constexpr const char* kStartFailedText = "OLE 初始化失败。  请确保 OLE 库是正确的版本。";

// Qt ends the process when it finds no display, so the check comes first.
bool WindowSystemAvailable() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && *platform != '\0') return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The folder an installer of this run mode installs into at first.
std::string FirstInstallFolder() {
  if (g_runMode == static_cast<int32_t>(RunMode::BesidePackage)) return g_exeDir;
  if (g_runMode == static_cast<int32_t>(RunMode::Online) && g_installPath[0] != '\0') {
    return g_installPath;
  }
  return KwDefaultInstallPath();
}

bool InstallsIntoAFolder() {
  return g_runMode == static_cast<int32_t>(RunMode::Online) ||
         g_runMode == static_cast<int32_t>(RunMode::LocalPackage) ||
         g_runMode == static_cast<int32_t>(RunMode::BesidePackage);
}

}  // namespace

CkwpanelApp::CkwpanelApp(int argc, char** argv) : argc_(argc), argv_(argv) {}

CkwpanelApp::~CkwpanelApp() = default;

bool CkwpanelApp::InitInstance() {
  if (g_runMode == static_cast<int32_t>(RunMode::Uninstall)) {
    RunUninstaller();
    return false;
  }
  if (g_runMode == static_cast<int32_t>(RunMode::Bundle)) {
    std::string why;
    int32_t result = KwRunBundleStep(KW_BUNDLE_INSTALLER, KW_BUNDLE_VOLUME, KW_BUNDLE_OUTPUT, &why);
    if (result != 0) {
      std::fprintf(stderr, "bundling failed (%d): %s\n", result, why.c_str());
      exitStatus_ = 1;
    }
    return false;
  }

  KwFillExePaths();
  KwReadInstallPath();
  KwCurlBindForExecutable(g_exeDir);
  // Qt's widgets need no registration of control classes.

  CIKWMain* common = CIKWMain::Create();
  common->RegisterStartupImages();
  common->SetApp(this);
  common->InitCommanData();

  IKWLang::StartupLoadBuiltIn();
  // Start-up leaves the Chinese texts current; settings that ask for the
  // default language (the guided installer writes the user's choice there)
  // have it.
  {
    char ini[kFolderSize + 32];
    KwIniPath(ini, sizeof(ini));
    if (KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", kKwCodePageChinese, ini) ==
        kKwCodePageDefault) {
      IKWLang::Instance()->SetCodePage(kKwCodePageDefault);
    }
  }

  if (!WindowSystemAvailable()) {
    std::fprintf(stderr, "%s\n", kStartFailedText);
    exitStatus_ = 1;
    common->OnAppStop();
    CIKWMain::Destroy();
    return false;
  }
  qt_ = std::make_unique<QApplication>(argc_, argv_);

  KW_LOG(4, "CkwpanelApp::InitInstance", "start ...");
  // One installer per install folder: a second one would run a second
  // engine on the same volume files.  It asks the first to come to the
  // front, says why it ends, and ends.
  KwInstanceLock instance;
  if (InstallsIntoAFolder()) {
    const std::string folder = FirstInstallFolder();
    if (!instance.Acquire(folder)) {
      KW_LOG(4, "CkwpanelApp::InitInstance", "another installer runs for %s", folder.c_str());
      IKWLang* lang = IKWLang::Instance();
      const std::string running = KwFormatText(lang->GetText("alreadyrunning"), folder);
      std::fprintf(stderr, "%s\n", running.c_str());
      // The running window comes to the front; only when it does not answer
      // is the user told in a box.
      if (!KwInstanceLock::WaitUntilRaised(folder, 3000)) {
        KwShowMessage(nullptr, running.c_str(), lang->GetText("prompt"));
      }
      common->OnAppStop();
      CIKWMain::Destroy();
      return false;
    }
    KwSetProcessInstanceLock(&instance);
  }
  if (KwStartupRunMainDialog() != 0) exitStatus_ = 1;
  KwSetProcessInstanceLock(nullptr);

  common->OnAppStop();
  CIKWMain::Destroy();
  return true;
}

void CkwpanelApp::RunUninstaller() {
  // "--unattended" (for scripts and package managers), or a session without
  // a window system, removes without asking, as the uninstaller always did.
  bool unattended = !WindowSystemAvailable();
  for (int i = 1; i < argc_; ++i) {
    if (std::strcmp(argv_[i], "--unattended") == 0) unattended = true;
  }
  if (unattended) {
    Uninstall();
    return;
  }
  KwUninstallUiInput in;
  char path[4096];
  if (KwGetExecutablePath(path, sizeof path) < 0) return;
  in.selfPath = path;
  if (KwGetKnownFolder(KwKnownFolder::AppData, path, sizeof path) == 0) in.dataRoot = path;
  if (KwGetKnownFolder(KwKnownFolder::CommonDesktop, path, sizeof path) == 0) in.desktopDir = path;
  KwFillExePaths();
  CIKWMain* common = CIKWMain::Create();
  common->RegisterStartupImages();
  common->SetApp(this);
  IKWLang::StartupLoadBuiltIn();
  qt_ = std::make_unique<QApplication>(argc_, argv_);
  exitStatus_ = KwRunUninstallWindow(in);
  common->OnAppStop();
  CIKWMain::Destroy();
}

int CkwpanelApp::ExitInstance() {
  qt_.reset();
  return exitStatus_;
}

int KwRunApplication(int argc, char** argv) {
  CkwpanelApp app(argc, argv);
  app.InitInstance();
  return app.ExitInstance();
}
