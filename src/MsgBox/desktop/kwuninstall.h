// The uninstaller: what the program does in its uninstall build.  Started
// from the install folder as "uninstall.exe", it removes the data folder,
// every version folder the installer put beside it (with the volumes,
// journals and staging folders that belong to them), the installer copy
// named by "install.txt", its own file, the desktop shortcut, the
// applications-menu entry and the key-store entries.  Nothing else in the
// install folder is touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KwUninstallResult {
  int32_t failed = 0;  // steps that failed (a missing item is no failure)
  // What was removed, in order: full paths of files and folders, and key
  // names prefixed "key store: ".  For the log and for a window to show.
  std::vector<std::string> removed;
};

// Runs the whole removal.  Errors are skipped; nothing is asked.  Each
// removed item is written to standard error as "removed: PATH".
void Uninstall();

// The same removal with every input given, so tests need not move the
// running program: `selfPath` is the uninstaller's own file (its folder is
// the install folder), `dataRoot` the roaming data folder (the product's
// folder "tarnwick" inside it and its menu entry in "applications" are
// removed), `desktopDir` the desktop folder.
// Returns the number of steps that failed (0 when everything was removed or
// simply was not there).
int32_t UninstallFrom(const char* selfPath, const char* dataRoot, const char* desktopDir);

// The same removal, returning what it removed; each removal is also logged.
KwUninstallResult KwUninstallFrom(const char* selfPath, const char* dataRoot,
                                  const char* desktopDir);
