// Pictures carried in the executable's data.
//
// Every PNG and JPEG under the source tree's resources/ folder is embedded at
// build time.  Those under resources/images/ are named by their file name
// ("close.png"); others by their path below resources/ ("pages/logo1.png").
// The bytes are read-only and live as long as the process.
#pragma once

#include <cstdint>

struct KwEmbeddedImage {
  const char* name;
  const uint8_t* bytes;
  int count;
};

// nullptr for an unknown name.  Names compare byte-wise.
const KwEmbeddedImage* KwFindEmbeddedImage(const char* name);
// The whole table, sorted by name.
const KwEmbeddedImage* KwEmbeddedImages(int* count);
