#include "kwpanel/kwpanelapp.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "MsgBox/desktop/kwuninstall.h"
#include "baseutil/ikwlog.h"
#include "kwpanel/kwbundle.h"
#include "kwpanel/kwstartup.h"
#include "kwpanel/kwstartuphooks.h"
#include "language/ikwlang.h"
#include "main/ikwmain.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"

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

}  // namespace

CkwpanelApp::CkwpanelApp(int argc, char** argv) : argc_(argc), argv_(argv) {}

CkwpanelApp::~CkwpanelApp() = default;

bool CkwpanelApp::InitInstance() {
  if (g_runMode == static_cast<int32_t>(RunMode::Uninstall)) {
    Uninstall();
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

  if (!WindowSystemAvailable()) {
    std::fprintf(stderr, "%s\n", kStartFailedText);
    exitStatus_ = 1;
    common->OnAppStop();
    CIKWMain::Destroy();
    return false;
  }
  qt_ = std::make_unique<QApplication>(argc_, argv_);

  KW_LOG(4, "CkwpanelApp::InitInstance", "start ...");
  if (KwStartupRunMainDialog() != 0) exitStatus_ = 1;

  common->OnAppStop();
  CIKWMain::Destroy();
  return true;
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
