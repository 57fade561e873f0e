// Desktop shortcuts: freedesktop desktop entries on the user's desktop.
// The install engine makes "Tarnwick" at the end of a run, the guided first
// page makes "Tarnwick Installer"; the uninstaller removes "Tarnwick".  The
// product also gets an entry in the user's applications menu.
// All functions may be called from any thread and never throw.
#pragma once

#include <cstdint>
#include <string>

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

// As CreateShellLink and CreateDesktopShortcut, with `iconPath` (a picture
// file) as the entry's icon; null or empty keeps the target as the icon.
int32_t CreateShellLinkWithIcon(const char* targetPath, const char* linkPath, int32_t installerFlag,
                                const char* iconPath);
void CreateDesktopShortcutWithIcon(const char* targetPath, const char* name, int32_t installerFlag,
                                   const char* iconPath);

// File name of the product's entry in the applications menu.  The vendor
// prefix keeps it apart from other programs' entries in the shared folder.
inline constexpr const char* kKwProductMenuEntryFile = "kws-tarnwick.desktop";

// The folder of the user's applications menu, "$XDG_DATA_HOME/applications"
// for the data folder `dataRoot`.
std::string KwApplicationsFolder(const char* dataRoot);

// Writes the product's menu entry into the user's applications folder
// (created when missing): Name "Tarnwick", Exec `targetPath`, its folder as
// Path, `iconPath` as Icon.  Returns 0, 87 when the target or icon is
// missing, or the system error number of the failing step.
int32_t KwCreateMenuEntry(const char* targetPath, const char* iconPath);
