// Layout arithmetic of the guided first page: where each control goes for a
// given row rectangle.  Pure integer arithmetic, tested without a display.
#pragma once

#include "baseview/kwrect.h"

struct KwFirstPageLayout {
  KwRect image;          // 1001, the page picture's 320 x 200 place
  KwRect languageLabel;  // 1002
  KwRect languageList;   // 1003
  KwRect pathLabel;      // 2001
  KwRect pathBox;        // 2002
  KwRect browseButton;   // 2003
  KwRect cancelButton;   // 4002
  KwRect installButton;  // 4001
};

// Row left L, top T, width W, height H.  The picture is centred in the top
// 65 % of the row; the two control rows and the buttons sit below it.
KwFirstPageLayout KwLayoutFirstPage(int L, int T, int W, int H);
