// Layout arithmetic of the two package-making front ends, tested without a
// display: where each cell of the make-package window goes for a row
// rectangle, and the make-package dialog's template, whose controls are
// placed in dialog units and turned into pixels with the dialog font's
// average character size as the platform always has.
#pragma once

#include <cstddef>

#include "baseview/kwrect.h"

// Cell IDs of the make-package window.
enum KwMakePkgCellId : int {
  kKwMakeFromLabel = 1001,
  kKwMakeFromEdit = 1002,
  kKwMakeFromBrowse = 1003,
  kKwMakeToLabel = 2001,
  kKwMakeToEdit = 2002,
  kKwMakeToBrowse = 2003,
  kKwMakeNameLabel = 3001,
  kKwMakeNameEdit = 3002,
  kKwMakeStart = 4001,
  kKwMakeCancel = 4002,
  kKwMakeList = 4003,
  kKwMakeStatus = 5000,
};

// The rectangle of cell `id` in a row whose left, top and width are L, T and
// W; an empty rectangle for an ID the window does not have.
KwRect KwMakePkgCellRect(int id, int L, int T, int W);

// ---- Make-package dialog ----------------------------------------------------
enum KwMakeDlgControlId : int {
  kKwMakeDlgOk = 1,
  kKwMakeDlgCancel = 2,
  kKwMakeDlgFrom = 1006,
  kKwMakeDlgTo = 1007,
  kKwMakeDlgName = 1008,
  kKwMakeDlgBrowseFrom = 1009,
  kKwMakeDlgBrowseTo = 1010,
  kKwMakeDlgStatus = 1011,
};

enum class KwDialogControlKind { Button, Static, Edit };

struct KwDialogControl {
  int id;  // 0 for a static that is never addressed.
  KwDialogControlKind kind;
  const char* text;         // UTF-8.
  int x, y, width, height;  // Dialog units.
};

// Template 321: 564 x 105 dialog units.
inline constexpr int kKwMakeDlgWidthDu = 564;
inline constexpr int kKwMakeDlgHeightDu = 105;
extern const KwDialogControl kKwMakeDlgControls[];
extern const size_t kKwMakeDlgControlCount;

// Horizontal base unit of a font from the width of the 52 letters A-Z and
// a-z written in it: half the per-pair average, rounded up.
int KwDialogBaseUnitX(int widthOf52Letters);
// Dialog units to pixels: x is a quarter of the horizontal base unit, y an
// eighth of the vertical one (the font's line height), each edge rounded to
// the nearest pixel, halves away from zero.
KwRect KwDialogUnitsToPixels(int x, int y, int width, int height, int baseX, int baseY);
