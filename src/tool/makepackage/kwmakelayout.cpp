#include "tool/makepackage/kwmakelayout.h"

#include <cstdlib>

KwRect KwMakePkgCellRect(int id, int L, int T, int W) {
  switch (id) {
    case kKwMakeFromLabel:
      return KwRectXYWH(L + 16, T + 32, 90, 24);
    case kKwMakeFromEdit:
      return KwRectXYWH(L + 112, T + 32, 640, 24);
    case kKwMakeFromBrowse:
      return KwRectXYWH(L + 800, T + 32, 96, 24);
    case kKwMakeToLabel:
      return KwRectXYWH(L + 16, T + 64, 90, 24);
    case kKwMakeToEdit:
      return KwRectXYWH(L + 112, T + 64, 640, 24);
    case kKwMakeToBrowse:
      return KwRectXYWH(L + 800, T + 64, 96, 24);
    case kKwMakeNameLabel:
      return KwRectXYWH(L + 16, T + 96, 90, 24);
    case kKwMakeNameEdit:
      return KwRectXYWH(L + 112, T + 96, 640, 24);
    case kKwMakeStatus:
      return KwRectXYWH(L + 16, T + 128, W - (L + 16), 24);
    case kKwMakeStart:
      return KwRectXYWH(L + 16, T + 160, 96, 24);
    case kKwMakeCancel:
      return KwRectXYWH(L + 136, T + 160, 96, 24);
    case kKwMakeList:
      return KwRectXYWH(L + 264, T + 160, 96, 24);
    default:
      return KwRect{};
  }
}

const KwDialogControl kKwMakeDlgControls[] = {
    {kKwMakeDlgOk, KwDialogControlKind::Button, "确定", 7, 84, 50, 14},
    {kKwMakeDlgCancel, KwDialogControlKind::Button, "取消", 62, 84, 50, 14},
    {0, KwDialogControlKind::Static, "from", 7, 7, 16, 8},
    {0, KwDialogControlKind::Static, "to", 7, 31, 8, 8},
    {0, KwDialogControlKind::Static, "package name", 7, 51, 48, 8},
    {kKwMakeDlgFrom, KwDialogControlKind::Edit, "", 131, 7, 370, 14},
    {kKwMakeDlgTo, KwDialogControlKind::Edit, "", 130, 26, 370, 14},
    {kKwMakeDlgName, KwDialogControlKind::Edit, "", 131, 46, 370, 14},
    {kKwMakeDlgBrowseFrom, KwDialogControlKind::Button, "...", 507, 7, 50, 14},
    {kKwMakeDlgBrowseTo, KwDialogControlKind::Button, "...", 507, 26, 50, 14},
    {kKwMakeDlgStatus, KwDialogControlKind::Static, "", 133, 83, 424, 8},
};
const size_t kKwMakeDlgControlCount = sizeof kKwMakeDlgControls / sizeof kKwMakeDlgControls[0];

namespace {

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c) {
  const long long p = static_cast<long long>(a) * b;
  const long long half = std::llabs(static_cast<long long>(c)) / 2;
  const long long q = (p >= 0) == (c > 0) ? (std::llabs(p) + half) / std::llabs(c)
                                          : -((std::llabs(p) + half) / std::llabs(c));
  return static_cast<int>(q);
}

}  // namespace

int KwDialogBaseUnitX(int widthOf52Letters) {
  return (widthOf52Letters / 26 + 1) / 2;
}

KwRect KwDialogUnitsToPixels(int x, int y, int width, int height, int baseX, int baseY) {
  return KwRect{MulDivRound(x, baseX, 4), MulDivRound(y, baseY, 8),
                MulDivRound(x + width, baseX, 4), MulDivRound(y + height, baseY, 8)};
}
