// The process's own executable, starting other programs, opening addresses.
#pragma once

#include <cstdint>

// Full path of the running executable (from /proc/self/exe) into `out` of
// `size` bytes.  Returns its length, or -1 when it cannot be read or does not
// fit.
int32_t KwGetExecutablePath(char* out, int32_t size);

// Starts `program` with the arguments `args` (null-terminated list without
// the program name; null for none) in `workDir` (null: the current folder),
// detached: in its own session, with stdin from /dev/null, and not waited
// for by the caller (a background thread reaps it so no zombie stays).
// Returns 0 when it was started, -errno otherwise.
int32_t KwStartDetached(const char* program, const char* const* args, const char* workDir);

// Opens an address (or a file or folder) in the user's preferred program
// through xdg-open, detached.  0 or -errno.
int32_t KwOpenUrl(const char* url);
