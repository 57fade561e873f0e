#include "kwpanel/kwstartuphooks.h"

#include "baseutil/ikwlog.h"

int32_t KwStartupRunMainDialog() {
  // The main install dialog is joined here by calling KwRunMainInstallDlg()
  // from "MsgBox/kwmaininstalldlg.h" once it is part of the build.
  KW_LOG(1, "CkwpanelApp::InitInstance", "no main dialog in this build");
  return -1;
}
