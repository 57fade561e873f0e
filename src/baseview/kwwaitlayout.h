// Layout of the wait dialog's single row, free of any window system.
#pragma once

#include "baseview/kwrect.h"

inline constexpr int kKwWaitTextCell = 1011;
inline constexpr int kKwWaitProgressCell = 1012;
inline constexpr int kKwWaitViewId = 10043;
inline constexpr KwColor kKwWaitBackground = KwRGB(26, 25, 31);
// The dialog template's 310 x 44 dialog units at the standard dialog font.
inline constexpr int kKwWaitWidth = 465;
inline constexpr int kKwWaitHeight = 72;
// The job waits this long before it runs, so the dialog is always seen.
inline constexpr int kKwWaitMinimumMs = 300;

struct KwWaitLayout {
  KwRect text;
  KwRect progress;  // Empty without progress mode.
};

// Row at (left, top) of width x height: the text 16 pixels in from both
// sides and 22 high, centred; in progress mode the text is centred in the
// upper half and the progress bar in the lower half.
inline KwWaitLayout KwComputeWaitLayout(int left, int top, int width, int height, bool progress) {
  KwWaitLayout out;
  const int x = left + 16;
  const int w = width - 32;
  if (!progress) {
    out.text = KwRectXYWH(x, top + (height - 22) / 2, w, 22);
    return out;
  }
  const int y = top + (height / 2 - 22) / 2;
  out.text = KwRectXYWH(x, y, w, 22);
  out.progress = KwRectXYWH(x, y + height / 2, w, 22);
  return out;
}

inline double KwClampProgress(double value, double minimum, double maximum) {
  if (value < minimum) return minimum;
  if (value > maximum) return maximum;
  return value;
}
