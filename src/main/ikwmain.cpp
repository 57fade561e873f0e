#include "main/ikwmain.h"

#include <cstdio>

#include "baseutil/ikwlog.h"
#include "baseutil/ikwthreadmanager.h"
#include "images/kwresourcemanager.h"
#include "images/kwstockimages.h"
#include "kwpanel/kwstartup.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "tool/http/kwserverconfig.h"

namespace {
CIKWMain* g_main = nullptr;
}

CIKWMain* CIKWMain::Instance() {
  return g_main;
}

CIKWMain* CIKWMain::Create() {
  if (g_main == nullptr) g_main = new CIKWMain();
  return g_main;
}

void CIKWMain::Destroy() {
  delete g_main;
  g_main = nullptr;
}

CIKWMain::CIKWMain() {
  CKwImageRegistry::SetCurrent(&images_);
}

CIKWMain::~CIKWMain() {
  if (CKwImageRegistry::Current() == &images_) CKwImageRegistry::SetCurrent(nullptr);
}

void CIKWMain::RegisterImage(const char* name, const uint8_t* bytes, int32_t length) {
  images_.RegisterImage(name, bytes, length);
}

CKwImageUtil* CIKWMain::CreateImage(const char* name) const {
  return images_.CreateImage(name);
}

int CIKWMain::RegisterStartupImages() {
  return images_.RegisterCaptionImages();
}

void CIKWMain::InitCommanData() {
  KwFormDataDir();
  // The toolkit asks Qt for the system cursors by shape when it needs them,
  // so there are no cursor handles to load here.
  KwFillProgramDir();

  KwLogConfigure(g_logRoot, "INS", 5, 1);
  KW_LOG(1, "CIKWMain::InitCommanData", "Start app ...");

  char ini[kFolderSize + 32];
  KwIniPath(ini, sizeof(ini));
  KwReadActionExe(ini);
  KW_LOG(4, "CIKWMain::InitCommanData", "action:%s", g_actionExe);
  // The install server's address and an extra CA bundle live in the same
  // settings file.
  KwLoadServerConfig(ini);

  IKWLang::StartupLoadFile(g_programDir, KwReadCodePage(ini));

  if (!resources_) {
    resources_ = std::make_unique<CKwResourceManager>();
    char folder[kFolderSize + 32];
    std::snprintf(folder, sizeof(folder), "%s/resource/images", g_programDir);
    resources_->AddFolder(folder);
    std::snprintf(folder, sizeof(folder), "%s/servericon", g_programDir);
    resources_->AddFolder(folder);
  }
  CIKWImageIcon::Instance();
}

void CIKWMain::OnAppStop() {
  KW_LOG(1, "CIKWMain::OnAppStop", "Exit app");
  KW_LOG(1, "CIKWMain::OnAppStop", "Exit 7");
  KwReleaseStockImages();
  CKWThreadManager::StopAll();
  IKWLang::DestroyInstance();
  KW_LOG(1, "CIKWMain::OnAppStop", "all exit");
  KwLogShutdown();
}
