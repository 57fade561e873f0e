// Decoding of PNG and JPEG bytes into the three planes of an image object.
//
// Plain C++ over libpng and libjpeg, no window system, so it is tested and
// fuzzed without a display.  Decoding never reads outside the given bytes and
// never aborts the process: both libraries report errors through longjmp into
// the decoder, which then answers failure.
#pragma once

#include <cstdint>
#include <vector>

struct KwImagePlanes {
  int width = 0;
  int height = 0;
  // width * height * 3 bytes each, rows top to bottom.
  std::vector<uint8_t> alpha;         // (a, a, a) per pixel.
  std::vector<uint8_t> inverseAlpha;  // (255 - a) three times per pixel.
  std::vector<uint8_t> colour;        // (blue, green, red) per pixel.

  bool IsEmpty() const { return width <= 0 || height <= 0; }
};

// True when bytes 6 to 9 carry the JFIF or Exif mark ("JFIF", "Exif" in
// either case mix the format allows); anything else is taken as PNG.
bool KwLooksLikeJpeg(const uint8_t* bytes, int count);

// Pictures larger than this many pixels per side are refused, so hostile
// headers cannot make the decoder allocate gigabytes.
inline constexpr int kKwMaxImageSide = 16384;

// Decodes into `out`.  Returns 0 on success, -1 on any failure; `out` is
// written only on success.
int KwDecodeImage(const uint8_t* bytes, int count, KwImagePlanes* out);
