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

// A byte count of section "INSTALL" that is off by default: "LOWESTSPEED"
// (bytes per second below which a transfer moves to another file server)
// or "MAXSPEED" (the run's bandwidth cap in bytes per second).  0 (off)
// when missing, malformed or negative.
int64_t KwReadInstallBytes(const char* iniPath, const char* key);

// "%s/itarnwick.ini" of the folder.
std::string KwIniPathIn(const char* folder);
