// Files made beside a target before they take its name, and the modes new
// files get.
//
// A temporary name that can be guessed can be taken first: by a symbolic
// link that turns the write into a write of another file, or by a file of
// someone else's.  Temporary files are therefore made under a fresh random
// name, exclusively and without following a link; when the name is taken
// another is tried.
#pragma once

#include <sys/types.h>

#include <string>

// The process's file-creation mask, read without changing it.
mode_t KwCurrentUmask();

// `mode` as the umask lets a new file have it.
inline mode_t KwMaskedMode(mode_t mode) {
  return mode & ~KwCurrentUmask() & 0777;
}

// A mode an existing file may pass on to its replacement: the permission
// bits without write access for others (a world-writable file is no reason
// to make its successor one) and without set-id bits.
inline mode_t KwInheritableMode(mode_t mode) {
  return mode & 0775;
}

// Creates a new empty file "<path>.<random>.part" beside `path` for writing,
// with O_EXCL and O_NOFOLLOW and mode 0600 (the caller sets the final mode).
// Returns the descriptor and its name in `tempPath`, or -errno.
int KwCreateTempBeside(const std::string& path, std::string* tempPath);
