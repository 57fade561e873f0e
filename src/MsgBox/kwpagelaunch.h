// Starting an installed version of the product from the online version page.
#pragma once

#include <string>

// The product's own settings file inside a version folder.
std::string KwProductIniPath(const std::string& versionFolder);

// Writes the product's settings into the version folder `versionFolder`:
// section "LANGUAGE" key "CODEPAGE" (936 for Chinese, else 0) and section
// "ACTIONDRIVER" key "EXE" (the folder's "ikwdriver/ikwactionapp.exe").
// Done when an installation ends, so the product started from its desktop
// or menu entry speaks the installer's language, and again by Open.  0, or
// -1 when the file could not be written.
int KwWriteProductSettings(const std::string& versionFolder, bool chinese);

// Starts the product's program `program` detached in its own folder,
// giving it the run right first (see below).  0, or the start's negative
// error.
int KwStartProductProgram(const std::string& program);

// Writes the product's settings first (section "LANGUAGE" key "CODEPAGE":
// 936 for Chinese, else 0; section "ACTIONDRIVER" key "EXE": the version
// folder's "ikwdriver/ikwactionapp.exe"), then starts
// "<installPath>/<version>/Windows/Tarnwick.exe" detached.  Returns 0 when
// the program was started, -1 when the settings could not be written (the
// program is still started), or the start's negative error.
int KwStartInstalledVersion(const std::string& installPath, const std::string& version,
                            bool chinese);
