// The uninstaller: what the program does in its uninstall build.  Started
// from the install folder as "uninstall.exe", it removes the data folder,
// the version folder beside it, the installer copy named by "install.txt",
// its own file, the desktop shortcut, the applications-menu entry and the
// key-store entries.
#pragma once

#include <cstdint>

// Runs the whole removal.  Errors are skipped; nothing is shown or asked.
void Uninstall();

// The same removal with every input given, so tests need not move the
// running program: `selfPath` is the uninstaller's own file (its folder is
// the install folder), `dataRoot` the roaming data folder (the product's
// folder "tarnwick" inside it and its menu entry in "applications" are
// removed), `desktopDir` the desktop folder.
// Returns the number of steps that failed (0 when everything was removed or
// simply was not there).
int32_t UninstallFrom(const char* selfPath, const char* dataRoot, const char* desktopDir);
