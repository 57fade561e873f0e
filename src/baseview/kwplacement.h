// Where a window goes on the screen, as pure arithmetic: every window stays
// inside the screen's available area (the screen less panels and docks), and
// a window whose designed size does not fit is scaled down as a whole so it
// does.  Sizes are in the toolkit's logical pixels (the window system's
// device pixels divided by the screen's scale), which is what the window
// system reports for the available area.
#pragma once

#include "baseview/kwrect.h"

// The smallest scale a page is drawn at; below it the text would no longer
// read, and the window is clipped by the area instead.
inline constexpr double kKwMinPageScale = 0.5;

struct KwPlacement {
  KwRect window;       // the window's rectangle on the screen
  double scale = 1.0;  // how much the pages are scaled down (1: designed size)
};

// Centres a window of the designed size in `area`.  When it does not fit
// and `canScale` is set, the window becomes the designed size times the
// largest scale (at least kKwMinPageScale) that fits, and is centred; when
// it cannot scale it keeps its size and its top-left corner is kept inside
// the area, so the caption and its close button stay reachable.
KwPlacement KwPlaceWindow(const KwRect& area, int designW, int designH, bool canScale);

// Centres a window of w x h on `around` (its owner's rectangle) and then
// moves it, without resizing, so it lies inside `area` as far as it can;
// the top-left corner always ends inside the area.
KwRect KwPlaceAround(const KwRect& area, const KwRect& around, int w, int h);

// Moves a rectangle into `area` without resizing it (top-left wins when it
// is larger than the area).
KwRect KwKeepInside(const KwRect& area, const KwRect& window);
