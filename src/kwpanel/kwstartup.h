// The start-up steps that fill the common folders and settings.  Plain
// functions without any window, so run modes without a display and tests
// can use them; CkwpanelApp and CIKWMain call them in their order.
#pragma once

#include <cstdint>

// Copies `path` cut at its last "/" or "\" (the separator dropped) into
// `out` of `size` bytes; a path without a separator gives an empty folder.
void KwCutAtLastSeparator(const char* path, char* out, int32_t size);

// Fills g_exePath (at most 1000 characters) and g_exeDir.  Returns false when
// the executable's path cannot be read (both stay empty).
bool KwFillExePaths();
// The same from a given executable path (tests, and callers that know it).
void KwFillExePathsFrom(const char* exePath);

// Clears g_installPath and copies "InstallPath" of HKEY_CURRENT_USER
// "SOFTWARE\kws\Tarnwick" into it.  A value that does not fit is ignored
// rather than cut: a cut folder would name another place.
void KwReadInstallPath();

// Forms g_dataDir as "%s/tarnwick" of the roaming data folder and creates
// it (with missing parents; errors ignored).
void KwFormDataDir();

// Fills g_programDir (at most 510 characters) and its 500-byte copy from the
// executable's path, and g_logRoot as "%s/log" of it.
void KwFillProgramDir();
void KwFillProgramDirFrom(const char* exePath);

// The settings file "%s/itarnwick.ini" of g_programDir.
void KwIniPath(char* out, int32_t size);

// Reads "EXE" of section "ACTIONDRIVER" (at most 511 characters) into
// g_actionExe; a missing or empty named file gives "%s/ikwactionapp.exe"
// formed from the program folder's copy.
void KwReadActionExe(const char* iniPath);

// "CODEPAGE" of section "LANGUAGE", default 936.
int32_t KwReadCodePage(const char* iniPath);
