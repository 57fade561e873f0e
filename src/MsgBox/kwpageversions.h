// What the online version page finds on disk: the installed version folders
// of the install folder, the volumes an unfinished download left behind, and
// the drive that gets the default install folder.  No window and no Qt; the
// file system is read through std::filesystem, so tests use temporary folders.
#pragma once

#include <string>
#include <vector>

// The one version folder name the page lists.  The comparison is exact:
// "V2.0.0-old" or "v2.0.0" are not installed versions.
inline constexpr const char* kKwInstalledVersionName = "V2.0.0";
inline constexpr int kKwMaxInstalledVersions = 64;

// Folders of `installPath` named exactly kKwInstalledVersionName, at most
// kKwMaxInstalledVersions.  A missing or unreadable folder gives none.
std::vector<std::string> KwScanInstalledVersions(const std::string& installPath);

// The file name of a volume as listed by the server: the text after the last
// "/" or "\".
std::string KwVolumeBaseName(const std::string& entryName);

// True when any listed volume lies in `installPath` with a non-zero size: an
// earlier download is waiting to be continued.  An empty leftover file does
// not count.
bool KwHasLeftoverVolume(const std::string& installPath, const std::vector<std::string>& names);

// The first package volume lying in `folder` for the beside-package
// installer: a regular file, not hidden (no leading "."), whose extension
// (after the last ".") is exactly "kwk" in any letter case.  Entries are
// taken in name order so the choice does not depend on the file system.
// Empty when there is none.
std::string KwFindBesidePackage(const std::string& folder);

// A drive root as the platform reports it, with whether it is a fixed disk.
struct KwDriveRoot {
  std::string root;
  bool fixed = false;
};

// The last fixed drive, else the first drive; empty when there is none.
std::string KwChooseInstallDrive(const std::vector<KwDriveRoot>& drives);

// "%starnwickinst" of the chosen drive root ("/home/u/" -> "/home/u/tarnwickinst").
std::string KwDefaultInstallFolder(const std::string& driveRoot);
