// What the uninstaller would remove, looked at before and after it runs, and
// whether the product's shared entries belong to its folder.
//
// The settings, the installed-programs entry, the desktop and menu entries
// and the data folder exist once per user, not once per folder.  A copy of
// the uninstaller started from some other folder must leave them to the
// installation they name; it removes only what lies in its own folder.
// The uninstaller's window asks with the survey, runs the removal and
// reports the difference between the two surveys.
#pragma once

#include <string>
#include <vector>

// True when the shared entries belong to `folder`: the stored install
// folder or the installed-programs entry's uninstaller names it, or neither
// names any folder at all (nothing else claims them).
bool KwEntriesNameFolder(const std::string& folder);

// The folder the shared entries name ("" when none does).
std::string KwEntriesFolder();

// One thing the uninstaller removes: a language key for its kind and, for
// version folders, the folder's name.
struct KwUninstallItem {
  const char* key;   // "uninst_version", "uninst_data", "uninst_desktop", ...
  std::string name;  // the version folder's name; empty for the others
  bool operator==(const KwUninstallItem& o) const;
};

// The items present now for the uninstaller at `selfPath` (its folder is
// the install folder), the roaming data folder `dataRoot` and the desktop
// folder `desktopDir`; shared entries count only when they belong to the
// uninstaller's folder.
std::vector<KwUninstallItem> KwSurveyUninstall(const char* selfPath, const char* dataRoot,
                                               const char* desktopDir);
