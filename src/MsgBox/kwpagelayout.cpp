#include "MsgBox/kwpagelayout.h"

#include <algorithm>

KwSize KwMainDialogSize(int runMode) {
  if (runMode == 2) return {800, 520};
  return {1200, 700};
}

void KwCentredOrigin(int screenW, int screenH, int w, int h, int* left, int* top) {
  // C++ integer division truncates toward zero, as the placement requires
  // for screens smaller than the window.
  *left = (screenW - w) / 2;
  *top = (screenH - h) / 2;
}

KwRect KwMainPageRect(int windowW, int windowH) {
  constexpr int kCaption = 48;
  constexpr int kEdge = 6;
  KwRect r{kEdge, kCaption, windowW - kEdge, windowH - kEdge};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

bool KwInMakePackageCorner(int x, int y) {
  return x >= 0 && y >= 0 && x < 48 && y < 48;
}

KwOnlineLayout KwLayoutOnlinePage(int L, int T, int W, int /*H*/) {
  const int X = (W - L) / 2;
  KwOnlineLayout out;
  out.emblem = KwRectXYWH(X - 120, 130, 240, 240);
  out.language = KwRectXYWH(L + W - 116, T + 32, 100, 24);
  out.versionLabel = KwRectXYWH(X - 300, 430, 200, 35);
  out.versionList = KwRectXYWH(X - 100, 430, 200, 35);
  out.openButton = KwRectXYWH(X + 200, 430, 100, 35);
  out.installLink = KwRectXYWH(X - 300, 490, 200, 24);
  return out;
}

KwLocalLayout KwLayoutLocalPage(int L, int T, int W, int H, int installTextWidth) {
  const KwInstallLayout row = KwLayoutInstallPage(L, T, W, H);
  KwLocalLayout out;
  out.emblem = KwLayoutOnlinePage(L, T, W, H).emblem;
  out.language = KwRectXYWH(L + W - 132, T + 32, 100, 24);
  out.folderLabel = row.folderLabel;
  out.pathBox = row.pathBox;
  out.browseButton = row.browseButton;
  const KwRect fitted = KwFitButton(row.startButton, installTextWidth);
  out.installButton = KwRect{row.startButton.right - fitted.Width(), fitted.top,
                             row.startButton.right, fitted.bottom};
  out.cancelButton = KwRectXYWH(out.installButton.left - 116, row.cancelButton.top, 100, 24);
  // The headline stands above the folder row, from the label's left edge
  // to the browse button's right edge.
  out.headline = KwRect{row.folderLabel.left, row.folderLabel.top - 56, row.browseButton.right,
                        row.folderLabel.top - 32};
  return out;
}

KwInstallLayout KwLayoutInstallPage(int L, int T, int W, int H) {
  KwInstallLayout out;
  const int B = T + H;
  const int R = L + W;
  // The logo keeps the 1067:600 aspect of the pictures.
  const int h0 = static_cast<int>(0.8 * (H - 72));
  const int logoH = static_cast<int>(0.8 * h0);
  const int logoW = static_cast<int>(0.8 * static_cast<int>(h0 * 1.7783333333333333));
  out.logo = KwRectXYWH(L + (W - logoW) / 2, T + (H - logoH - 72) / 2 - 8, logoW, logoH);

  const int row1 = B - 102;
  out.agreeBox = KwRectXYWH(L + 100, row1, 24, 24);
  out.agreeText = KwRectXYWH(L + 132, row1, 98, 24);
  out.privacyLink = KwRectXYWH(L + 230, row1, 170, 24);
  out.cancelButton = KwRectXYWH(R - 316, row1, 100, 24);
  out.startButton = KwRectXYWH(R - 200, row1, 100, 24);

  const int row2 = B - 168;
  out.folderLabel = KwRectXYWH(L + 104, row2, 120, 24);
  out.pathBox = KwRectXYWH(L + 240, row2, W - 456, 24);
  out.browseButton = KwRectXYWH(R - 200, row2, 100, 24);
  out.diskLine = KwRectXYWH(L + 240, B - 140, W - 456, 14);
  // The language list of the beside-package installer sits where the
  // online page keeps its own, at the top right.
  out.languageList = KwRectXYWH(L + W - 116, T + 32, 100, 24);
  return out;
}

KwRect KwProgressTextRect(int L, int W) {
  // Anchored to the right edge so a wider or narrower window keeps the text
  // beside the end of the progress bar, never over it.
  const int R = L + W;
  return KwRectXYWH(R - 210, 505, 194, 16);
}

KwRect KwSpeedTextRect(int L, int W) {
  const int R = L + W;
  return KwRectXYWH(L + 218, 559, std::max(182, (R - 330) - (L + 218)), 24);
}

KwRect KwFitButton(const KwRect& designed, int textWidth) {
  const int needed = textWidth + 24;
  if (needed <= designed.Width()) return designed;
  return KwRect{designed.left, designed.top, designed.left + needed, designed.bottom};
}

KwRect KwStatusLineRect(int L, int T, int W, int H) {
  const int B = T + H;
  const int R = L + W;
  return KwRectXYWH(100, B - 64, std::max(0, R - 200 - 100), 24);
}

KwProgressBar KwLayoutProgressBar(int L, int W, bool hasFolderLabel, double doneFraction) {
  const int x0 = hasFolderLabel ? 218 : L + 104;
  const int right = L + W - 218;
  KwProgressBar bar;
  bar.track = KwRectXYWH(x0, 513, std::max(0, right - x0), 4);
  const double f = std::clamp(doneFraction, 0.0, 1.0);
  bar.done = KwRectXYWH(x0, 513, static_cast<int>(bar.track.Width() * f), 4);
  return bar;
}
