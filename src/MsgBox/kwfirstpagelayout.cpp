#include "MsgBox/kwfirstpagelayout.h"

KwFirstPageLayout KwLayoutFirstPage(int L, int T, int W, int H) {
  const int Y = static_cast<int>(0.65 * H);
  KwFirstPageLayout l;
  l.image = KwRectXYWH(L + (W - 320) / 2, T + (Y - 200) / 2, 320, 200);
  l.languageLabel = KwRectXYWH(L + 72, T + Y + 32, 192, 24);
  l.languageList = KwRectXYWH(L + 272, T + Y + 32, 192, 24);
  l.pathLabel = KwRectXYWH(L + 72, T + Y + 64, 192, 24);
  l.pathBox = KwRectXYWH(L + 272, T + Y + 64, W - L - 432, 24);
  l.browseButton = KwRectXYWH(W - 152, T + Y + 64, 80, 24);
  l.cancelButton = KwRectXYWH(L + W - 252, T + H - 48, 80, 24);
  l.installButton = KwRectXYWH(L + W - 152, T + H - 48, 80, 24);
  return l;
}
