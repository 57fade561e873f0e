// Desktop shortcuts: freedesktop desktop entries on the user's desktop.
// The install engine makes "Tarnwick" at the end of a run, the guided first
// page makes "Tarnwick Installer"; the uninstaller removes "Tarnwick".
// All functions may be called from any thread and never throw.
#pragma once

#include <cstdint>

// Name of the product's shortcut, as the engine makes it and the
// uninstaller removes it.
inline constexpr const char* kKwProductShortcutName = "Tarnwick";

// Makes "<desktop>/<name>.desktop" pointing at `targetPath`; an earlier entry
// of the same name is replaced.  Failures are silent (nothing to tell the
// user about); a missing desktop folder means nothing is done.
void CreateDesktopShortcut(const char* targetPath, const char* name, int32_t installerFlag);

// Writes the desktop entry `linkPath` for `targetPath`: Type=Application,
// Name from the link's file name, Comment "Tarnwick Installer" when
// `installerFlag` is non-zero else "Tarnwick", Exec the target, Path the
// target's folder, Icon the target; mode 0755, replaced atomically.
// Returns 0, 87 when the target path is missing (null or empty) or the link
// path is, or the system error number of the failing step.
int32_t CreateShellLink(const char* targetPath, const char* linkPath, int32_t installerFlag);

// Removes the product's shortcut "Tarnwick.desktop" from the desktop.
void DeleteDesktopShortcut();
