// Private-profile (ini) files with the rules the installer relies on:
// section and key names compare without regard to ASCII letter case, a
// missing file, section or key gives the default, blanks around names and
// values are ignored, a value in matching quotes loses them, reads are cut
// to the caller's buffer, lines starting with ";" are comments.  Writing
// creates the file and the section and keeps everything else in the file;
// the file is replaced atomically.  Both "\n" and "\r\n" files are read, and
// a file keeps its line-end style when it is rewritten.
#pragma once

#include <cstdint>

// Copies the value (or `def`, empty when null) into `out` of `size` bytes,
// cut to size-1 bytes, and returns the number of bytes copied without the
// NUL.  A null `section` lists the section names and a null `key` the key
// names of `section`, each NUL-terminated with one more NUL at the end
// (cut lists return size-2).
int32_t KwGetPrivateProfileString(const char* section, const char* key, const char* def, char* out,
                                  int32_t size, const char* file);

// The value's leading decimal number; `def` when the key is missing; 0 when
// the value does not start with a number or is negative.
int32_t KwGetPrivateProfileInt(const char* section, const char* key, int32_t def, const char* file);

// Sets `key` to `value` in `section`.  A null `value` deletes the key, a null
// `key` deletes the whole section.  Returns 1 on success, 0 on failure.
int32_t KwWritePrivateProfileString(const char* section, const char* key, const char* value,
                                    const char* file);
