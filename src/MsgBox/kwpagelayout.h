// Layout arithmetic of the installer pages and the main dialog: where each
// control of a page goes for a given row rectangle, where the main window is
// placed, and the geometry of the install page's progress bar.  Pure
// integer arithmetic (divisions truncate toward zero), tested without a
// display; the page classes copy the rectangles into their cells.
#pragma once

#include "baseview/kwrect.h"

struct KwSize {
  int w = 0;
  int h = 0;
};

// ---- Main dialog ----------------------------------------------------------
// 800 x 520 for the guided first page, 1200 x 700 for every other run mode.
KwSize KwMainDialogSize(int runMode);
// Top-left corner that centres a window on a screen; may be negative on a
// screen smaller than the window.
void KwCentredOrigin(int screenW, int screenH, int w, int h, int* left, int* top);
// The top-left 48 x 48 pixels of the client area open the make-package dialog.
bool KwInMakePackageCorner(int x, int y);

// ---- Online version page (row left L, top T, width W, height H) ------------
struct KwOnlineLayout {
  KwRect emblem;        // 3100
  KwRect language;      // 912
  KwRect versionLabel;  // 4
  KwRect versionList;   // 5
  KwRect openButton;    // 6
  KwRect installLink;   // 7
};
KwOnlineLayout KwLayoutOnlinePage(int L, int T, int W, int H);

// ---- Install page ---------------------------------------------------------
struct KwInstallLayout {
  KwRect logo;          // 101
  KwRect startButton;   // 102
  KwRect cancelButton;  // 103
  KwRect agreeBox;      // 104
  KwRect agreeText;     // 105
  KwRect privacyLink;   // 113
  KwRect languageList;  // 106
  KwRect folderLabel;   // 107
  KwRect pathBox;       // 108
  KwRect browseButton;  // 109
  KwRect diskLine;      // 110
};
KwInstallLayout KwLayoutInstallPage(int L, int T, int W, int H);

// Places of the progress text (right-aligned, ending 116 pixels before the
// right edge; at the designed page width of 1200 that is 968..1084) and of
// the speed text.
KwRect KwProgressTextRect(int L, int W);
KwRect KwSpeedTextRect(int L);
// The status line (file being unpacked), above the bottom edge.
KwRect KwStatusLineRect(int L, int T, int W, int H);

// Progress bar: grey track and the blue done part.  The bar starts at 218
// when the folder row exists, else at L + 104; it ends 218 pixels before the
// right edge.  The done part never leaves the track.
struct KwProgressBar {
  KwRect track;
  KwRect done;
};
KwProgressBar KwLayoutProgressBar(int L, int W, bool hasFolderLabel, double doneFraction);
