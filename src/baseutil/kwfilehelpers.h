// File helpers shared by the unpacker, the install engine and the uninstaller.
#pragma once

#include <cstddef>
#include <cstdint>

// Creates every missing folder on the path of the file `filePath` (the part
// before its last "/" or "\"), from the first component on; failures are
// ignored because the folders may already exist.
void CreateFoldersForPath(const char* filePath);

// Opens the volume file `path` for writing without following a symbolic link
// at its name.  A link found there is removed as a link (its target is never
// touched); with `create` a regular file is then created (and emptied), without
// it the open fails as for a missing file.  Returns the descriptor or -1 with
// errno set.
int OpenVolumeForWrite(const char* path, bool create);

// Deletes the folder `path` with everything in it.  A symbolic link inside it
// is removed as a link; its target is never touched.  Returns 0 when the
// folder itself was removed, a negative value otherwise; does nothing and
// returns a negative value when the folder cannot be listed.
int DeleteFolderTree(const char* path);

// Reads exactly `n` bytes at `offset` of `fd` into `buf`, across short reads
// and interrupted calls.  False on an error or when the file ends first.
bool KwReadFullyAt(int fd, int64_t offset, uint8_t* buf, size_t n);
