// Settings of the install engine beyond its fixed design, read from the
// installer's ini file ("%s/itarnwick.ini" next to the executable).
#pragma once

#include <cstdint>
#include <string>

// The free space a run needs: key "REQUIREDSPACE" (bytes) of section
// "INSTALL".  The setting may only lower the designed 42 GiB, so small
// packages install on small disks; a missing, malformed, negative or larger
// value keeps 42 GiB.
int64_t KwReadRequiredSpace(const char* iniPath);

// "%s/itarnwick.ini" of the folder.
std::string KwIniPathIn(const char* folder);
