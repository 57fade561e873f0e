// The dialog frame's geometry and press/drag state machine, without a display.
#include "baseview/kwframelogic.h"

#include <gtest/gtest.h>

namespace {

constexpr int kW = 800;
constexpr int kH = 600;
const KwRect kWindow{100, 50, 100 + kW, 50 + kH};

KwPoint Screen(int x, int y) {
  return {kWindow.left + x, kWindow.top + y};
}

struct Click {
  std::vector<int> commands;
  KwFrameActions release;
};

Click ClickAt(KwFrameLogic& logic, int x, int y) {
  Click c;
  KwFrameActions press = logic.Press(x, y, kW, kH, Screen(x, y), kWindow);
  c.commands = press.commands;
  c.release = logic.Release(Screen(x, y));
  c.commands.insert(c.commands.end(), c.release.commands.begin(), c.release.commands.end());
  return c;
}

TEST(FrameGeometry, CaptionButtonsTitleAndStrips) {
  KwCaptionLayout layout = KwComputeCaptionLayout(kW, true);
  EXPECT_EQ((KwRect{758, 10, 786, 38}), layout.buttons[kKwBtnClose]);
  EXPECT_EQ((KwRect{710, 10, 738, 38}), layout.buttons[kKwBtnMax]);
  EXPECT_EQ((KwRect{662, 10, 690, 38}), layout.buttons[kKwBtnMin]);
  EXPECT_EQ((KwPoint{760, 12}), layout.images[kKwBtnClose]);
  EXPECT_EQ((KwPoint{712, 12}), layout.images[kKwBtnMax]);
  EXPECT_EQ((KwPoint{664, 12}), layout.images[kKwBtnMin]);
  EXPECT_EQ((KwRect{64, 0, kW, 48}), layout.title);
  EXPECT_EQ(16, KwComputeCaptionLayout(kW, false).title.left);
  EXPECT_EQ(48, layout.band.bottom);
  KwFrameStrips strips = KwComputeFrameStrips(kW, kH);
  EXPECT_EQ((KwRect{0, 48, 12, kH}), strips.left);
  EXPECT_EQ((KwRect{kW - 12, 48, kW, kH}), strips.right);
  EXPECT_EQ((KwRect{0, kH - 12, kW, kH}), strips.bottom);
}

TEST(FrameGeometry, EdgeBandsAreSixPixelsAndLeaveCornersOut) {
  EXPECT_EQ(kKwDragLeft, KwHitEdge(0, 300, kW, kH));
  EXPECT_EQ(kKwDragLeft, KwHitEdge(5, 7, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(6, 300, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(0, 6, kW, kH));       // Corner.
  EXPECT_EQ(kKwDragNone, KwHitEdge(0, kH - 6, kW, kH));  // Corner.
  EXPECT_EQ(kKwDragRight, KwHitEdge(kW - 5, 300, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(kW - 6, 300, kW, kH));
  EXPECT_EQ(kKwDragTop, KwHitEdge(7, 0, kW, kH));
  EXPECT_EQ(kKwDragTop, KwHitEdge(400, 5, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(6, 0, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(400, 6, kW, kH));
  EXPECT_EQ(kKwDragBottom, KwHitEdge(400, kH - 5, kW, kH));
  EXPECT_EQ(kKwDragNone, KwHitEdge(400, kH - 6, kW, kH));
}

TEST(FrameButtons, MinimisePostsTwiceCloseOnceAtThePress) {
  KwFrameLogic logic;
  Click minimise = ClickAt(logic, 676, 24);
  EXPECT_EQ((std::vector<int>{kKwCmdMinimize, kKwCmdMinimize}), minimise.commands);
  KwFrameActions closePress = logic.Press(770, 24, kW, kH, Screen(770, 24), kWindow);
  EXPECT_EQ((std::vector<int>{kKwCmdClose}), closePress.commands);
  EXPECT_EQ(kKwButtonPressed, logic.ButtonState(kKwBtnClose));
  EXPECT_TRUE(logic.Release(Screen(770, 24)).commands.empty());
  EXPECT_EQ(kKwButtonNormal, logic.ButtonState(kKwBtnClose));
  EXPECT_EQ(kKwDragNone, logic.DragMode());
}

TEST(FrameButtons, MaximiseTogglesAndLeavingAPressedButtonCancelsIt) {
  KwFrameLogic logic;
  Click first = ClickAt(logic, 720, 20);
  EXPECT_EQ(1, first.release.maximize);
  EXPECT_EQ(2, logic.WindowState());
  EXPECT_EQ(2, ClickAt(logic, 720, 20).release.maximize);
  EXPECT_EQ(1, logic.WindowState());

  // Press minimise, slide off and back: hover again, so no release action.
  logic.Press(676, 24, kW, kH, Screen(676, 24), kWindow);
  logic.Move(400, 300, kW, Screen(400, 300));
  EXPECT_EQ(kKwButtonNormal, logic.ButtonState(kKwBtnMin));
  logic.Move(676, 24, kW, Screen(676, 24));
  EXPECT_EQ(kKwButtonHover, logic.ButtonState(kKwBtnMin));
  EXPECT_TRUE(logic.Release(Screen(676, 24)).commands.empty());
}

TEST(FrameButtons, HiddenSizeButtonsAndCaptionlessFramesDoNothing) {
  KwFrameLogic logic;
  logic.hasSizeButtons = false;
  EXPECT_TRUE(ClickAt(logic, 676, 24).commands.empty());
  EXPECT_EQ(0, ClickAt(logic, 720, 20).release.maximize);
  EXPECT_EQ((std::vector<int>{kKwCmdClose}), ClickAt(logic, 770, 24).commands);
  logic.Move(676, 24, kW, Screen(676, 24));
  EXPECT_EQ(kKwButtonNormal, logic.ButtonState(kKwBtnMin));

  KwFrameLogic bare;
  bare.drawCaption = false;
  EXPECT_TRUE(ClickAt(bare, 770, 24).commands.empty());
  bare.Press(0, 300, kW, kH, Screen(0, 300), kWindow);
  EXPECT_EQ(kKwDragNone, bare.DragMode());
}

TEST(FrameDrag, CaptionDragMovesKeepingTheOffset) {
  KwFrameLogic logic;
  KwFrameActions press = logic.Press(300, 20, kW, kH, Screen(300, 20), kWindow);
  EXPECT_TRUE(press.commands.empty());
  EXPECT_EQ(kKwDragMove, logic.DragMode());
  KwFrameActions move = logic.Move(0, 0, kW, {Screen(300, 20).x + 37, Screen(300, 20).y - 11});
  ASSERT_TRUE(move.moveWindow);
  EXPECT_EQ(kWindow.Offset(37, -11), move.windowRect);
  KwFrameActions release = logic.Release({Screen(300, 20).x + 40, Screen(300, 20).y});
  ASSERT_TRUE(release.moveWindow);
  EXPECT_EQ(kWindow.Offset(40, 0), release.windowRect);
}

TEST(FrameDrag, TopEdgeStopsAtTheMinimumHeight) {
  KwFrameLogic logic;
  KwRect window{100, 50, 500, 550};  // 400 x 500.
  KwPoint start{300, 52};
  KwFrameActions press = logic.Press(200, 2, 400, 500, start, window);
  EXPECT_EQ(kKwCursorSizeNS, press.cursor);
  EXPECT_EQ(kKwDragTop, logic.DragMode());
  KwFrameActions ok = logic.Move(0, 0, 400, {300, 52 + 140});  // Height 360.
  ASSERT_TRUE(ok.moveWindow);
  EXPECT_EQ((KwRect{100, 190, 500, 550}), ok.windowRect);
  EXPECT_FALSE(logic.Move(0, 0, 400, {300, 52 + 141}).moveWindow);  // 359 refused.
  EXPECT_FALSE(logic.Release({300, 52 + 300}).moveWindow);
  // Upwards the window grows.
  logic.Press(200, 2, 400, 500, start, window);
  KwFrameActions grow = logic.Release({300, 2});
  ASSERT_TRUE(grow.moveWindow);
  EXPECT_EQ((KwRect{100, 0, 500, 550}), grow.windowRect);
}

TEST(FrameDrag, BottomEdgeUsesTheSameMinimum) {
  KwFrameLogic logic;
  KwRect window{0, 0, 400, 500};
  logic.Press(200, 497, 400, 500, {200, 497}, window);
  EXPECT_EQ(kKwDragBottom, logic.DragMode());
  EXPECT_FALSE(logic.Move(0, 0, 400, {200, 497 - 141}).moveWindow);
  KwFrameActions ok = logic.Release({200, 497 + 20});
  ASSERT_TRUE(ok.moveWindow);
  EXPECT_EQ(520, ok.windowRect.Height());
}

TEST(FrameDrag, SideEdgesStopWhileDraggingAndLandOnTheMinimumWidth) {
  KwFrameLogic logic;
  KwRect window{100, 50, 500, 550};  // 400 wide.
  KwFrameActions press = logic.Press(2, 200, 400, 500, {102, 250}, window);
  EXPECT_EQ(kKwCursorSizeWE, press.cursor);
  EXPECT_FALSE(logic.Move(0, 0, 400, {102 + 200, 250}).moveWindow);  // 200 wide.
  KwFrameActions release = logic.Release({102 + 200, 250});
  ASSERT_TRUE(release.moveWindow);
  EXPECT_EQ((KwRect{260, 50, 500, 550}), release.windowRect);  // 240, right edge kept.

  logic.Press(398, 200, 400, 500, {498, 250}, window);
  EXPECT_EQ(kKwDragRight, logic.DragMode());
  KwFrameActions right = logic.Release({498 - 300, 250});
  ASSERT_TRUE(right.moveWindow);
  EXPECT_EQ((KwRect{100, 50, 340, 550}), right.windowRect);
}

TEST(FrameDrag, NoResizingWithoutSizeButtons) {
  KwFrameLogic logic;
  logic.hasSizeButtons = false;
  KwRect window{0, 0, 400, 500};
  logic.Press(2, 200, 400, 500, {2, 200}, window);
  EXPECT_FALSE(logic.Move(0, 0, 400, {-50, 200}).moveWindow);
  EXPECT_FALSE(logic.Release({-50, 200}).moveWindow);
  EXPECT_EQ(kKwCursorArrow, logic.HoverCursor(2, 200, 400, 500));
}

}  // namespace
