// The uninstaller's window side: it asks before removing anything, removes,
// and reports what was removed in a skinned box in the user's language.
// Started without a window system, or with "--unattended", the uninstaller
// removes without asking (start-up decides; see kwpanelapp.cpp).
#pragma once

#include <string>
#include <vector>

#include "MsgBox/desktop/kwuninstallsurvey.h"

struct KwUninstallUiInput {
  std::string selfPath;    // the uninstaller's own file; its folder is the install folder
  std::string dataRoot;    // the roaming data folder
  std::string desktopDir;  // the desktop folder
};

// Exit statuses of the uninstaller.
enum KwUninstallStatus : int {
  kKwUninstallDone = 0,      // removed (or nothing was there to remove)
  kKwUninstallFailed = 1,    // some items stayed
  kKwUninstallDeclined = 2,  // the user said no; nothing was touched
};

// The language the uninstaller speaks: the one the product was installed
// in (its settings file in the version folder), else the user's locale.
int KwUninstallCodePage(const std::string& installFolder);

// Asks, removes and reports; returns a KwUninstallStatus.  Needs a running
// QApplication and the language tables.
int KwRunUninstallWindow(const KwUninstallUiInput& in);

// The report's text for what was removed (`removed`), what stayed
// (`stayed`) and whether the shared entries belonged to another folder
// (`otherFolder` non-empty), as one run of sentences.
std::string KwUninstallReport(const std::string& folder,
                              const std::vector<KwUninstallItem>& removed,
                              const std::vector<KwUninstallItem>& stayed,
                              const std::string& otherFolder);
