// The user's well-known folders, looked up as the freedesktop conventions
// place them.  Each call reads the environment afresh, so tests can move
// every folder into a temporary home.
#pragma once

#include <cstdint>

enum class KwKnownFolder : int32_t {
  Desktop = 0x0010,        // XDG_DESKTOP_DIR (env or ~/.config/user-dirs.dirs), else ~/Desktop.
  CommonDesktop = 0x0019,  // The same desktop: shortcuts go where the user sees them.
  AppData = 0x001A,        // $XDG_DATA_HOME, else ~/.local/share.
  Config = 0x0100,         // $XDG_CONFIG_HOME, else ~/.config.
  Home = 0x0101,           // $HOME, else the password database entry.
  Temp = 0x0102,           // $TMPDIR, else /tmp.
};

// Writes the folder (no trailing "/") into `out` of `size` bytes.  Returns 0,
// or -1 when it cannot be determined or does not fit.  The folder itself is
// not created.
int32_t KwGetKnownFolder(KwKnownFolder which, char* out, int32_t size);
