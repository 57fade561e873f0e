// Rectangles and colours of the skinned toolkit, free of any window system.
//
// A KwRect has the corner convention of the toolkit's geometry: left and top
// are inside, right and bottom are one past the last pixel, so width is
// right - left.  All layout and hit-testing arithmetic of the toolkit works on
// this type; painters convert it to the drawing layer's types at the edge.
#pragma once

#include <cstdint>

struct KwRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  // A point is inside when left <= x < right and top <= y < bottom.
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  KwRect Offset(int dx, int dy) const { return {left + dx, top + dy, right + dx, bottom + dy}; }
  bool operator==(const KwRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const KwRect& o) const { return !(*this == o); }
};

inline KwRect KwRectXYWH(int x, int y, int width, int height) {
  return {x, y, x + width, y + height};
}

struct KwPoint {
  int x = 0;
  int y = 0;
  bool operator==(const KwPoint& o) const { return x == o.x && y == o.y; }
};

// A 24-bit colour with red in the low byte (0x00BBGGRR).
using KwColor = uint32_t;

constexpr KwColor KwRGB(int r, int g, int b) {
  return static_cast<KwColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int KwRed(KwColor c) {
  return static_cast<int>(c & 0xFF);
}
constexpr int KwGreen(KwColor c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int KwBlue(KwColor c) {
  return static_cast<int>((c >> 16) & 0xFF);
}
