// File helpers shared by the unpacker, the install engine and the uninstaller.
#pragma once

// Creates every missing folder on the path of the file `filePath` (the part
// before its last "/" or "\").  Separators within the first four bytes are
// skipped so a drive prefix is never created; failures are ignored because
// the folders may already exist.
void CreateFoldersForPath(const char* filePath);

// Deletes the folder `path` with everything in it.  A symbolic link inside it
// is removed as a link; its target is never touched.  Returns 0 when the
// folder itself was removed, a negative value otherwise; does nothing and
// returns a negative value when the folder cannot be listed.
int DeleteFolderTree(const char* path);
