// The manifest an installation keeps of the version it installed, as
// "<install folder>/<version>.kwm" beside the version folder: what a later
// install of another version plans its update from, and what
// "kwinstall --verify" checks the installed files against.  The
// uninstaller removes it with the version folder.
#pragma once

#include <string>

// "%s/%s.kwm" of the install folder and the version.
std::string KwKeptManifestPath(const std::string& installPath, const std::string& version);

// The installed version, other than `except`, whose version folder and kept
// manifest both exist; the most recently kept one when there are several.
// Empty when there is none.
std::string KwFindInstalledVersion(const std::string& installPath, const std::string& except);

// Writes the manifest bytes for `version` atomically.  0 or -1.
int KwKeepManifest(const std::string& installPath, const std::string& version,
                   const std::string& bytes);
