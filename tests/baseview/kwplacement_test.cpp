// Window placement on the screen sizes users have: every window inside the
// available area, the main window scaled down where its designed size does
// not fit.  Areas are in logical pixels, as the window system reports them
// (the device size divided by the scaling).
#include <gtest/gtest.h>

#include "baseview/kwplacement.h"

namespace {

bool Inside(const KwRect& area, const KwRect& r) {
  return r.left >= area.left && r.top >= area.top && r.right <= area.right &&
         r.bottom <= area.bottom;
}

TEST(Placement, MainWindowOnTheThreeScreens) {
  // 1280 x 720 at 100 %: the 1200 x 700 window fits and is centred.
  KwPlacement p = KwPlaceWindow(KwRectXYWH(0, 0, 1280, 720), 1200, 700, true);
  EXPECT_EQ(p.window, KwRectXYWH(40, 10, 1200, 700));
  EXPECT_DOUBLE_EQ(p.scale, 1.0);

  // 1366 x 768 at 125 % is 1093 x 614 logical (Qt rounds 1092.8 and
  // 614.4); with a 32-pixel panel at the top 582 remain.  The window used
  // to open at (-66, -54); now it is scaled by 582/700 and fits.
  const KwRect small = KwRect{0, 32, 1093, 614};
  p = KwPlaceWindow(small, 1200, 700, true);
  EXPECT_TRUE(Inside(small, p.window));
  EXPECT_NEAR(p.scale, 582.0 / 700.0, 1e-9);
  EXPECT_EQ(p.window.Height(), 582);
  EXPECT_EQ(p.window.Width(), 997);  // 1200 x 0.8314, rounded down
  EXPECT_EQ(p.window.left, (1093 - 997) / 2);

  // 2560 x 1600 at 200 % is 1280 x 800 logical: fits at the designed size.
  p = KwPlaceWindow(KwRectXYWH(0, 0, 1280, 800), 1200, 700, true);
  EXPECT_EQ(p.window, KwRectXYWH(40, 50, 1200, 700));
  EXPECT_DOUBLE_EQ(p.scale, 1.0);
}

TEST(Placement, ScaleHasAFloorAndFixedWindowsKeepTheirCaptionOnScreen) {
  // A tiny screen: the scale stops at the floor and the caption's corner
  // stays inside the area.
  const KwRect tiny = KwRectXYWH(10, 20, 400, 300);
  KwPlacement p = KwPlaceWindow(tiny, 1200, 700, true);
  EXPECT_DOUBLE_EQ(p.scale, kKwMinPageScale);
  EXPECT_EQ(p.window.Width(), 600);
  EXPECT_EQ(p.window.left, 10);
  EXPECT_EQ(p.window.top, 20);
  // A window that cannot scale keeps its size; its top-left stays inside.
  p = KwPlaceWindow(KwRectXYWH(0, 0, 1093, 614), 1200, 700, false);
  EXPECT_EQ(p.window, KwRectXYWH(0, 0, 1200, 700));
}

TEST(Placement, BoxesCentreOnTheirOwnerButStayOnScreen) {
  const KwRect area = KwRectXYWH(0, 0, 1280, 720);
  // Centred on its owner.
  EXPECT_EQ(KwPlaceAround(area, KwRectXYWH(40, 10, 1200, 700), 560, 320),
            KwRectXYWH(360, 200, 560, 320));
  // An owner hanging off the right and bottom pulls the box only to the
  // edge; one off the left and top only to the corner.
  EXPECT_EQ(KwPlaceAround(area, KwRectXYWH(1000, 600, 800, 600), 560, 320),
            KwRectXYWH(720, 400, 560, 320));
  EXPECT_EQ(KwPlaceAround(area, KwRectXYWH(-900, -500, 800, 600), 560, 320),
            KwRectXYWH(0, 0, 560, 320));
  // Keeping inside never resizes.
  EXPECT_EQ(KwKeepInside(area, KwRectXYWH(-66, -54, 1200, 700)), KwRectXYWH(0, 0, 1200, 700));
  EXPECT_EQ(KwKeepInside(area, KwRectXYWH(100, 100, 50, 50)), KwRectXYWH(100, 100, 50, 50));
}

}  // namespace
