// The check that a folder chosen for an installation can take files: the
// probe file "test.txt" is created in it (with any missing folders on the
// way) and removed again.  Used by the install engine when a run starts and
// by the local package page when its folder is accepted.
#pragma once

#include <string>

// Drops trailing "/" (keeping a lone "/"), so "%s/%s" joins never double up.
std::string KwTrimFolder(std::string folder);

// True when "%s/test.txt" could be created in `folder`; the folders made on
// the way stay, the probe does not.  A file of that name that already exists
// belongs to someone else: it is only opened for writing, never removed.
bool KwProbeFolder(const std::string& folder);
