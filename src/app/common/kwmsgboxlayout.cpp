#include "app/common/kwmsgboxlayout.h"

#include <algorithm>

namespace {

int Measure(const KwMeasureTextFn& measure, const std::string& text, int size) {
  return measure ? measure(text, size) : 0;
}

}  // namespace

KwMsgBoxLayout KwLayoutMessageBox12(int kind, int W, int H, const std::string& message,
                                    const std::string& firstButton, const std::string& secondButton,
                                    const KwMeasureTextFn& measure) {
  KwMsgBoxLayout out;
  const int h = H / 2;
  const int f = (h - 48) / 2;
  const int d = Measure(measure, message, 16);
  if (W - 64 < d + 32) {
    out.messageWrapped = true;
    out.cells[1001] = KwRectXYWH(32, f, 48, 48);
    out.cells[1002] = KwRectXYWH(88, f, W - 136, 72);
  } else {
    const int g = (W - d - 68) / 2;
    out.cells[1001] = KwRectXYWH(g, f, 52, 48);
    out.cells[1002] = KwRectXYWH(g + 56, f, d + 32, 48);
  }
  const int by = h + (h - 42) / 2;
  if (kind == 1) {
    out.cells[1003] = KwRectXYWH((W - 96) / 2, by, 96, 42);
  } else {
    const int l =
        std::max(Measure(measure, firstButton, 16), Measure(measure, secondButton, 16)) + 32;
    const int x = (W - (2 * l + 16)) / 2;
    out.cells[1003] = KwRectXYWH(x, by, l, 42);
    out.cells[1004] = KwRectXYWH(x + l + 16, by, l, 42);
  }
  return out;
}

KwMsgBoxLayout KwLayoutMessageBox3(int W, int H) {
  KwMsgBoxLayout out;
  const int m = W / 12;
  out.messageWrapped = true;
  out.cells[1002] = KwRectXYWH(m + 20, 2 * H / 15, 13 * W / 15 - 20, 48);
  out.cells[1003] = KwRectXYWH(m + 20, 5 * H / 15, W / 2 - 15, 48);
  out.cells[1007] = KwRectXYWH(m + W / 2 + 5, 5 * H / 15, 45, 48);
  const int by = 11 * H / 15;
  out.cells[1004] = KwRectXYWH(m, by, 100, 42);
  out.cells[1005] = KwRectXYWH(5 * W / 12, by, 145, 42);
  out.cells[1006] = KwRectXYWH(9 * W / 12, by, 80, 42);
  return out;
}

KwMsgBoxLayout KwLayoutMessageBox45(int kind, int W, const std::string& message,
                                    const KwMeasureTextFn& measure) {
  KwMsgBoxLayout out;
  const int d = Measure(measure, message, 12);
  int y = 56;
  if (W - 64 < d + 32) {
    out.messageWrapped = true;
    out.cells[10003] = KwRectXYWH(16, 8, W - 32, 72);
    y = 104;
  } else {
    out.cells[10003] = KwRectXYWH(16, 8, W - 32, 24);
  }
  const int editHeight = kind == 5 ? 120 : 24;
  out.cells[10004] = KwRectXYWH(16, y, W - 32, editHeight);
  const int by = kind == 5 ? y + 144 : y + 48;
  out.cells[10006] = KwRectXYWH(32, by, 96, 24);
  out.cells[10005] = KwRectXYWH(160, by, 96, 24);
  return out;
}
