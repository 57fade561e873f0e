// The work of the online version page's server-query thread, without the
// window: settle the default install folder, ask the install server for the
// current version and its volumes, and find out whether volumes of an
// earlier download wait in the install folder.  The page runs KwRunServerQuery
// on its own thread and applies the result on the window thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "MsgBox/engine/kwengineresume.h"

class CKWDownloadUtilFor;

// The install folder for a machine: the "InstallPath" value under
// HKEY_CURRENT_USER "SOFTWARE\kws\Tarnwick" when present and not empty,
// else "tarnwickinst" on the last fixed drive (the first drive when none is
// fixed).
std::string KwDefaultInstallPath();

struct KwServerQueryResult {
  int status = -1;                       // 0, or GetVersion's negative result
  std::string version;                   // the server's current version
  std::vector<std::string> volumeNames;  // volume names in list order
  bool fresh = false;                    // no volume of an earlier download lies in the folder
  int64_t volumeBytes = 0;               // the listed volumes' summed length
  std::string refusalKey;                // language key when the release was refused
};

// Asks the server through `util` and checks `installPath` for leftovers.
void KwRunServerQuery(CKWDownloadUtilFor* util, const std::string& installPath,
                      KwServerQueryResult* out);

// Entry i gets volume i's name with status 0 and offset 0; the entry after
// the last gets an empty name.  At most capacity - 1 volumes are listed so
// the table always ends; names are cut to the entry's 80 bytes.
void KwFillResumeTable(KwResumeEntry* table, int capacity, const std::vector<std::string>& names);
