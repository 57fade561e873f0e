// The mode of an unpacked file.  The package format carries no permission
// bits, so on this system a file's content decides: one that begins with an
// ELF header or with "#!" is a program and gets the run bits (0755 before the
// umask), every other file is 0644 before the umask.  The unpacker applies it
// to every file it writes, so every tool and page that unpacks agrees.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/kwtempfile.h"

// Bytes of a file's beginning that decide its mode.
constexpr size_t kRunBitsHeadSize = 4;

// Collects the first kRunBitsHeadSize bytes of a file as it is written in
// pieces of any size, and tells the mode they call for.
class KwRunBits {
 public:
  void Reset() { m_length = 0; }
  void Add(const uint8_t* data, size_t length);
  // True for content that begins with "\x7f" "ELF" or "#!".
  bool Runnable() const;
  // 0755 or 0644, less `umask`.
  mode_t Mode(mode_t umask) const { return (Runnable() ? 0755 : 0644) & ~umask & 07777; }

 private:
  uint8_t m_head[kRunBitsHeadSize] = {};
  size_t m_length = 0;
};
