// Which version folders this installer put into which install folder, and
// the names of the companion files that belong to a version folder.
//
// The engine records every version folder right after it moved it into
// place; the uninstaller reads the record to remove each of them (not only
// the folder of the version it came with).  The record lives in the key
// store under the product's key ("SOFTWARE\kws\Tarnwick\Versions"), one
// value per version folder: the value's name is the folder's full path and
// its data the version name.  The uninstaller removes the whole product key,
// the record with it.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kKwVersionsKey = "SOFTWARE\\kws\\Tarnwick\\Versions";

// Records `installPath`/`version` as installed.  0 or the key store's error.
int KwRecordInstalledVersion(const std::string& installPath, const std::string& version);

// The version names recorded for `installPath` (compared as given, without a
// trailing "/"), in the order they were recorded.  Entries whose name could
// leave the folder are left out.
std::vector<std::string> KwRecordedVersions(const std::string& installPath);

// The folder a version is unpacked into before it is complete: hidden, in the
// install folder, ".VERSION.staging".  Never the version's own name, so a
// half version is never seen under it.
std::string KwStagingFolderName(const std::string& version);
// Where a version folder of the same name waits while a new one takes its
// place, on file systems that cannot swap two folders at once:
// ".VERSION.retired".
std::string KwRetiredFolderName(const std::string& version);
// True for a name formed by either function above.
bool KwIsStagingFolderName(const char* name);

// True when `name` is a companion file of `version`'s folder: a volume the
// download left ("VERSION_NNN.tmp", any letter case of "tmp") or its journal
// ("VERSION_NNN.tmp.journal").
bool KwIsVersionCompanionName(const char* name, const std::string& version);
