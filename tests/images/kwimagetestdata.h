// Pictures made by Qt's own encoders, so the decoder is checked against an
// independent writer.
#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

inline std::vector<uint8_t> EncodeImage(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// 4 x 3 RGBA picture: column 0 opaque red, column 1 fully transparent
// green, column 2 half-transparent blue, column 3 opaque white.
inline QImage SampleRgba() {
  QImage image(4, 3, QImage::Format_ARGB32);
  for (int y = 0; y < 3; ++y) {
    image.setPixel(0, y, qRgba(255, 0, 0, 255));
    image.setPixel(1, y, qRgba(0, 255, 0, 0));
    image.setPixel(2, y, qRgba(0, 0, 255, 128));
    image.setPixel(3, y, qRgba(255, 255, 255, 255));
  }
  return image;
}
