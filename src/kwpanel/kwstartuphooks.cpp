#include "kwpanel/kwstartuphooks.h"

#include "MsgBox/kwmaininstalldlg.h"

int32_t KwStartupRunMainDialog() {
  // The dialog's own result code only tells how it was closed; the program
  // ends normally either way.
  KwRunMainInstallDlg();
  return 0;
}
