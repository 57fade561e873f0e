#include "baseview/kwplacement.h"

#include <algorithm>
#include <cmath>

KwRect KwKeepInside(const KwRect& area, const KwRect& window) {
  const int w = window.Width();
  const int h = window.Height();
  int left = std::min(window.left, area.right - w);
  int top = std::min(window.top, area.bottom - h);
  left = std::max(left, area.left);
  top = std::max(top, area.top);
  return KwRectXYWH(left, top, w, h);
}

KwPlacement KwPlaceWindow(const KwRect& area, int designW, int designH, bool canScale) {
  KwPlacement p;
  int w = std::max(designW, 1);
  int h = std::max(designH, 1);
  const int aw = area.Width();
  const int ah = area.Height();
  if ((w > aw || h > ah) && canScale && aw > 0 && ah > 0) {
    const double s = std::max(std::min(static_cast<double>(aw) / w, static_cast<double>(ah) / h),
                              kKwMinPageScale);
    // Rounded down so the scaled window never overhangs by a pixel.
    w = static_cast<int>(std::floor(w * s + 1e-6));
    h = static_cast<int>(std::floor(h * s + 1e-6));
    p.scale = s;
  }
  const KwRect centred = KwRectXYWH(area.left + (aw - w) / 2, area.top + (ah - h) / 2, w, h);
  p.window = KwKeepInside(area, centred);
  return p;
}

KwRect KwPlaceAround(const KwRect& area, const KwRect& around, int w, int h) {
  const int left = (around.left + around.right) / 2 - w / 2;
  const int top = (around.top + around.bottom) / 2 - h / 2;
  return KwKeepInside(area, KwRectXYWH(left, top, w, h));
}
