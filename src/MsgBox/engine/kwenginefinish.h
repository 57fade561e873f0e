// The finishing steps of a successful installation and the clean-up rules
// they use: desktop shortcut, installed-programs entry, removal of the
// unpacking marker and the downloaded volumes, and the uninstaller moved
// into the install folder.
#pragma once

#include <cstdint>
#include <string>

// Key of the installed-programs entry (local machine).
inline constexpr const char* kKwUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tarnwick";
// Key and value of the chosen install folder (current user).
inline constexpr const char* kKwProductKey = "SOFTWARE\\kws\\Tarnwick";
inline constexpr const char* kKwInstallPathValue = "InstallPath";
// Marker that lies in the install folder while volumes are unpacked.
inline constexpr const char* kKwUnzipMarker = "unzip.ins";

// True for a downloaded volume's file name: not starting with ".", and an
// extension (the text after the last ".") of exactly "tmp" in any case.
bool KwIsDownloadedVolumeName(const char* name);

// Deletes every regular file of `folder` whose name passes the rule above,
// and the journals of such volumes ("%s.journal"); folders and anything else
// stay.  Returns the number of files deleted.
int KwDeleteDownloadedVolumes(const char* folder);

// Writes "InstallPath" under the product key; 0 or the key store's error.
int32_t KwWriteInstallPath(const char* path);

// True when an installed version is registered: the installed-programs
// entry or a recorded version folder exists.  Its stored install folder
// then stays as it is until a new version is complete.
bool KwProductRegistered();

// Writes the installed-programs entry.  0 or the key store's error (logged).
int32_t KwWriteUninstallEntry(const char* installPath, const char* versionText,
                              const char* destination);

struct KwFinishInput {
  bool makeShortcut = false;     // run mode 0 only
  bool removeDownloads = false;  // only when this run downloaded the volumes
  std::string installPath;       // the install folder
  std::string destination;       // "%s/%s" of install folder and version
  std::string versionText;       // for the entry
};

// Runs the finishing steps in order, after the version folder is in place:
// desktop and menu entries, the installed-programs entry, the stored install
// folder, removal of the unpacking marker, of the downloaded volumes and of
// staging folders killed runs left, and the uninstaller's move.  Failures
// are logged and skipped, as a missing shortcut or entry must not undo a
// complete installation.  Returns the number of steps that failed.
int KwRunFinishingSteps(const KwFinishInput& in);
