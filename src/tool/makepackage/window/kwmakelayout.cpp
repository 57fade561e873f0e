#include "tool/makepackage/window/kwmakelayout.h"

#include <cstdlib>

namespace {

// Each cell's offset from the row's left and top, and its size.  The status
// line's width (0 here) runs to the row's right edge instead.
struct CellPlace {
  int id, dx, dy, width, height;
};
constexpr CellPlace kCellPlaces[] = {
    {kKwMakeFromLabel, 16, 32, 90, 24},   {kKwMakeFromEdit, 112, 32, 640, 24},
    {kKwMakeFromBrowse, 800, 32, 96, 24}, {kKwMakeToLabel, 16, 64, 90, 24},
    {kKwMakeToEdit, 112, 64, 640, 24},    {kKwMakeToBrowse, 800, 64, 96, 24},
    {kKwMakeNameLabel, 16, 96, 90, 24},   {kKwMakeNameEdit, 112, 96, 640, 24},
    {kKwMakeStatus, 16, 128, 0, 24},      {kKwMakeStart, 16, 160, 96, 24},
    {kKwMakeCancel, 136, 160, 96, 24},    {kKwMakeList, 264, 160, 96, 24},
};

}  // namespace

KwRect KwMakePkgCellRect(int id, int L, int T, int W) {
  for (const CellPlace& p : kCellPlaces) {
    if (p.id != id) continue;
    const int width = id == kKwMakeStatus ? W - (L + p.dx) : p.width;
    return KwRectXYWH(L + p.dx, T + p.dy, width, p.height);
  }
  return KwRect{};
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
