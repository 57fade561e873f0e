// Scrolling arithmetic and the drawn scroll bar, without a display.
#include <gtest/gtest.h>

#include "baseview/basectrl/kwscrollmodel.h"

namespace {

// A client area of 300 x `h` whose bar is the right 24 pixels.
KwRect Client(int h) {
  return KwRectXYWH(0, 0, 300, h);
}

TEST(ScrollModel, ThumbLengthNeverBelowTwelve) {
  EXPECT_EQ(KwThumbLength(400, 30), 12);
  EXPECT_EQ(KwThumbLength(400, 100), 76);      // Short content: maximum - 24.
  EXPECT_EQ(KwThumbLength(400, 800), 200);     // Long content: T * T / M.
  EXPECT_EQ(KwThumbLength(400, 1000000), 12);  // Very long content still shows a thumb.
  EXPECT_EQ(KwThumbLength(20, 5), 12);
}

TEST(ScrollModel, BarOnlyWhenContentIsTaller) {
  KwScrollModel m;
  m.SetExtent(0, 400);
  EXPECT_FALSE(m.BarVisible());
  m.SetExtent(400, 400);
  EXPECT_FALSE(m.BarVisible());
  EXPECT_EQ(m.Maximum(), 0);
  EXPECT_FALSE(m.Wheel(-120));
  m.SetExtent(401, 400);
  EXPECT_TRUE(m.BarVisible());
  EXPECT_EQ(m.Maximum(), 1);
}

TEST(ScrollModel, WheelAtTheEndsChangesNothing) {
  KwScrollModel m;
  m.SetExtent(1000, 300);      // Maximum 700, wheel step 100.
  EXPECT_FALSE(m.Wheel(120));  // Away from the user at the top.
  EXPECT_EQ(m.Position(), 0);
  EXPECT_TRUE(m.Wheel(-120));
  EXPECT_EQ(m.Position(), 100);
  EXPECT_TRUE(m.Apply(kKwScrollBottom));
  EXPECT_EQ(m.Position(), 700);
  EXPECT_FALSE(m.Wheel(-120));  // Towards the user at the bottom.
  EXPECT_EQ(m.Position(), 700);
  EXPECT_TRUE(m.Wheel(120));
  EXPECT_EQ(m.Position(), 600);
}

TEST(ScrollModel, CodesMoveAndClamp) {
  KwScrollModel m;
  m.SetExtent(1000, 300);
  EXPECT_TRUE(m.Apply(kKwScrollLineDown));
  EXPECT_EQ(m.Position(), 24);
  EXPECT_TRUE(m.Apply(kKwScrollPageDown));  // + (300 - 48).
  EXPECT_EQ(m.Position(), 276);
  EXPECT_TRUE(m.Apply(kKwScrollThumbTrack, 5000));
  EXPECT_EQ(m.Position(), 700);
  EXPECT_FALSE(m.Apply(kKwScrollLineDown));
  EXPECT_TRUE(m.Apply(kKwScrollPageUp));
  EXPECT_EQ(m.Position(), 448);
  EXPECT_FALSE(m.Apply(42));  // Unknown code keeps the position.
  EXPECT_TRUE(m.Apply(kKwScrollTop));
  EXPECT_FALSE(m.Apply(kKwScrollLineUp));
  EXPECT_EQ(m.Position(), 0);
}

TEST(ScrollModel, ShrinkingContentPullsThePositionBack) {
  KwScrollModel m;
  m.SetExtent(1000, 300);
  m.Apply(kKwScrollBottom);
  m.SetExtent(500, 300);
  EXPECT_EQ(m.Position(), 200);
  m.SetExtent(100, 300);
  EXPECT_EQ(m.Position(), 0);
  EXPECT_FALSE(m.BarVisible());
}

TEST(ScrollModel, GeometryFollowsThePosition) {
  KwScrollModel m;
  m.SetExtent(1248, 448);  // Track 400, maximum 800, thumb 200, range 200.
  KwScrollBarGeometry g = m.Geometry(Client(448));
  EXPECT_EQ(g.bar, (KwRect{276, 0, 300, 448}));
  EXPECT_EQ(g.track, 400);
  EXPECT_EQ(g.thumbLength, 200);
  EXPECT_EQ(g.thumb, (KwRect{282, 24, 294, 224}));
  m.ScrollTo(400);
  g = m.Geometry(Client(448));
  EXPECT_EQ(g.thumb.top, 124);
  EXPECT_EQ(g.pageUp, (KwRect{276, 24, 300, 124}));
  EXPECT_EQ(g.pageDown, (KwRect{276, 324, 300, 424}));
  // A bar too short for its arrows still gives sane, non-negative sizes.
  m.SetExtent(1000, 30);
  g = m.Geometry(Client(30));
  EXPECT_EQ(g.track, 0);
  EXPECT_GE(g.thumbRange, 0);
}

TEST(ScrollModel, PressesOnTheBar) {
  KwScrollModel m;
  m.SetExtent(1248, 448);
  bool changed = false;
  EXPECT_TRUE(m.PressBar(Client(448), 288, 5, &changed));  // Up arrow at the top.
  EXPECT_FALSE(changed);
  EXPECT_TRUE(m.Release());
  EXPECT_TRUE(m.PressBar(Client(448), 288, 440, &changed));  // Down arrow.
  EXPECT_TRUE(changed);
  EXPECT_EQ(m.Position(), 24);
  m.Release();
  EXPECT_TRUE(m.PressBar(Client(448), 288, 400, &changed));  // Page down area.
  EXPECT_EQ(m.Position(), 24 + 400);
  m.Release();
  EXPECT_FALSE(m.PressBar(Client(448), 100, 100, &changed));  // Content, not the bar.
  EXPECT_FALSE(m.Release());
}

TEST(ScrollModel, ThumbDragMapsPixelsToPositions) {
  KwScrollModel m;
  m.SetExtent(1248, 448);  // Range 200 pixels for 800 positions.
  bool changed = false;
  ASSERT_TRUE(m.PressBar(Client(448), 288, 50, &changed));
  EXPECT_EQ(m.BarPress(), kKwScrollPartThumb);
  EXPECT_TRUE(m.DragTo(Client(448), 100));
  EXPECT_EQ(m.Position(), 200);
  EXPECT_TRUE(m.DragTo(Client(448), 5000));
  EXPECT_EQ(m.Position(), 800);
  EXPECT_TRUE(m.DragTo(Client(448), -5000));
  EXPECT_EQ(m.Position(), 0);
  EXPECT_TRUE(m.Release());
}

TEST(ScrollModel, ContentDragStartsAfterEightPixels) {
  KwScrollModel m;
  m.SetExtent(1000, 300);
  m.ScrollTo(100);
  m.ArmContentDrag(200);
  EXPECT_FALSE(m.DragTo(Client(300), 192));  // 8 pixels: still only armed.
  EXPECT_EQ(m.ContentDragState(), 1);
  EXPECT_TRUE(m.DragTo(Client(300), 191));
  EXPECT_EQ(m.ContentDragState(), 2);
  EXPECT_EQ(m.Position(), 109);  // The content follows the pointer up.
  EXPECT_TRUE(m.DragTo(Client(300), 260));
  EXPECT_EQ(m.Position(), 40);
  EXPECT_FALSE(m.Release());
  EXPECT_EQ(m.ContentDragState(), 0);
  EXPECT_FALSE(m.DragTo(Client(300), 0));
}

}  // namespace
