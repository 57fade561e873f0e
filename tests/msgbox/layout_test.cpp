// Message-box layouts, without a display.  Text widths come from a fake
// measure of 8 pixels per byte so the arithmetic is checked exactly.
#include <gtest/gtest.h>

#include <string>

#include "app/common/kwmsgboxlayout.h"

namespace {

int Fake(const std::string& text, int size) {
  return static_cast<int>(text.size()) * size / 2;
}

TEST(MessageBoxLayout, ShortMessageCentresIconAndTextAsAGroup) {
  // W 560, H 272: h 136, f 44; "Short" is 40 pixels at size 16.
  KwMsgBoxLayout l = KwLayoutMessageBox12(1, 560, 272, "Short", "", "", Fake);
  EXPECT_FALSE(l.messageWrapped);
  const int g = (560 - 40 - 68) / 2;
  EXPECT_EQ(l.cells[1001], KwRectXYWH(g, 44, 52, 48));
  EXPECT_EQ(l.cells[1002], KwRectXYWH(g + 56, 44, 72, 48));
  EXPECT_EQ(l.cells[1003], KwRectXYWH(232, 136 + 47, 96, 42));
  EXPECT_EQ(l.cells.count(1004), 0u);
}

TEST(MessageBoxLayout, LongMessageGoesLeftAndWraps) {
  // 472 pixels: W - 64 = 496 < 472 + 32.
  const std::string message(59, 'x');
  KwMsgBoxLayout l = KwLayoutMessageBox12(1, 560, 272, message, "", "", Fake);
  EXPECT_TRUE(l.messageWrapped);
  EXPECT_EQ(l.cells[1001], KwRectXYWH(32, 44, 48, 48));
  EXPECT_EQ(l.cells[1002], KwRectXYWH(88, 44, 424, 72));
  // One character less fits on one line (W - 64 == d + 32 is not "less").
  const std::string fits(58, 'x');
  EXPECT_FALSE(KwLayoutMessageBox12(1, 560, 272, fits, "", "", Fake).messageWrapped);
}

TEST(MessageBoxLayout, TwoButtonsShareTheWiderWidthAndCentre) {
  KwMsgBoxLayout l = KwLayoutMessageBox12(2, 560, 272, "Quit?", "No", "Install", Fake);
  const int w = 7 * 8 + 32;  // "Install" at size 16, plus 32.
  const int x = (560 - (2 * w + 16)) / 2;
  EXPECT_EQ(l.cells[1003], KwRectXYWH(x, 183, w, 42));
  EXPECT_EQ(l.cells[1004], KwRectXYWH(x + w + 16, 183, w, 42));
}

TEST(MessageBoxLayout, SaveAsBoxUsesFractionsOfTheView) {
  KwMsgBoxLayout l = KwLayoutMessageBox3(560, 272);
  const int m = 560 / 12;  // 46.
  EXPECT_EQ(l.cells[1002], KwRectXYWH(m + 20, 2 * 272 / 15, 13 * 560 / 15 - 20, 48));
  EXPECT_EQ(l.cells[1003], KwRectXYWH(m + 20, 5 * 272 / 15, 560 / 2 - 15, 48));
  EXPECT_EQ(l.cells[1007], KwRectXYWH(m + 280 + 5, 90, 45, 48));
  EXPECT_EQ(l.cells[1004], KwRectXYWH(m, 11 * 272 / 15, 100, 42));
  EXPECT_EQ(l.cells[1005], KwRectXYWH(5 * 560 / 12, 199, 145, 42));
  EXPECT_EQ(l.cells[1006], KwRectXYWH(9 * 560 / 12, 199, 80, 42));
}

TEST(MessageBoxLayout, InputBoxesMoveDownForALongPrompt) {
  KwMsgBoxLayout l = KwLayoutMessageBox45(4, 560, "Name:", Fake);  // 30 pixels at size 12.
  EXPECT_FALSE(l.messageWrapped);
  EXPECT_EQ(l.cells[10003], KwRectXYWH(16, 8, 528, 24));
  EXPECT_EQ(l.cells[10004], KwRectXYWH(16, 56, 528, 24));
  EXPECT_EQ(l.cells[10006], KwRectXYWH(32, 104, 96, 24));
  EXPECT_EQ(l.cells[10005], KwRectXYWH(160, 104, 96, 24));

  const std::string longPrompt(100, 'x');  // 600 pixels.
  l = KwLayoutMessageBox45(5, 560, longPrompt, Fake);
  EXPECT_TRUE(l.messageWrapped);
  EXPECT_EQ(l.cells[10003], KwRectXYWH(16, 8, 528, 72));
  EXPECT_EQ(l.cells[10004], KwRectXYWH(16, 104, 528, 120));
  EXPECT_EQ(l.cells[10006], KwRectXYWH(32, 248, 96, 24));
  EXPECT_EQ(l.cells[10005], KwRectXYWH(160, 248, 96, 24));
}

}  // namespace
