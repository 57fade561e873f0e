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
// The area a page fills in a main dialog whose window is W x H: below the
// 48-pixel caption band and 6 pixels clear of the other edges, so the
// frame's resize bands stay reachable.
KwRect KwMainPageRect(int windowW, int windowH);
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

// ---- Local package page (row left L, top T, width W, height H) -------------
// The folder row and the buttons sit where the install page keeps its own,
// so the two pages read as one.  The install button keeps its right edge
// and grows to the left when its text (`installTextWidth`) needs more room;
// cancel stays 16 pixels left of it.
struct KwLocalLayout {
  KwRect emblem;         // where the online page shows it
  KwRect language;       // 1006
  KwRect headline;       // 7
  KwRect folderLabel;    // beside the path box
  KwRect pathBox;        // 1002
  KwRect browseButton;   // 1003
  KwRect cancelButton;   // 1004
  KwRect installButton;  // 1005
};
KwLocalLayout KwLayoutLocalPage(int L, int T, int W, int H, int installTextWidth);

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

// Places of the progress text and of the speed text.  The progress text
// sits right of the progress bar's end (218 pixels before the right edge),
// right-aligned up to 16 pixels before the edge, so "Downloading 100.00 %"
// fits; the speed text runs from the bar's start to the cancel button.
KwRect KwProgressTextRect(int L, int W);
KwRect KwSpeedTextRect(int L, int W);
// A button that keeps its left edge and grows to the right when its text
// (measured width `textWidth`) needs more than its designed width.
KwRect KwFitButton(const KwRect& designed, int textWidth);
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
