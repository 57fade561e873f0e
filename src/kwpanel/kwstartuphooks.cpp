#include "kwpanel/kwstartuphooks.h"

#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwuilanguage.h"

int32_t KwStartupRunMainDialog() {
  // The dialog's own result code only tells how it was closed; the program
  // ends normally either way.
  // The language chosen at the last start, with Qt's own texts to match.
  KwStartUiLanguage();
  KwRunMainInstallDlg();
  return 0;
}
