// The press, drag and click machine of a view's cells, without a display.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "baseview/basectrl/kwcellpress.h"
#include "baseview/basectrl/kwonelineform.h"

namespace {

// Two rows of 40 pixels with a few cells in each.
struct TwoRows {
  std::vector<std::unique_ptr<CKWOneLineForm>> rows;
  KwCellPress press;

  TwoRows() {
    for (int i = 0; i < 2; ++i) rows.push_back(std::make_unique<CKWOneLineForm>(40));
    Cell(0, 11, kKwCellButton, 10, 5);
    Cell(0, 12, kKwCellCheck, 110, 5);
    Cell(0, 13, kKwCellRadio, 210, 5);
    Cell(1, 21, kKwCellText, 10, 45);
    CKWBaseViewObject* slider = Cell(1, 22, kKwCellSlider, 110, 45);
    slider->SetRect(110, 45, 112, 20);  // Track of 100 pixels for -100..100.
  }
  CKWBaseViewObject* Cell(int row, int id, int type, int x, int y) {
    CKWBaseViewObject* c = rows[static_cast<size_t>(row)]->NewCell(id, type);
    c->SetRect(x, y, 80, 30);
    return c;
  }
  KwCellPress::RowLookup Lookup() {
    return [this](int r) -> CKWOneLineForm* {
      return r >= 0 && r < static_cast<int>(rows.size()) ? rows[static_cast<size_t>(r)].get()
                                                         : nullptr;
    };
  }
  CKWBaseViewObject* Get(int row, int id) { return rows[static_cast<size_t>(row)]->GetCell(id); }
};

TEST(CellPress, ReleaseOverAnotherRowStillClicksThePressedCell) {
  TwoRows v;
  v.press.Down(0, v.rows[0].get(), 20, 10);
  EXPECT_TRUE(v.press.IsPressed(0, 11));
  EXPECT_FALSE(v.press.IsPressed(1, 11));
  KwCellPress::Release r = v.press.Up(v.Lookup());
  ASSERT_EQ(r.clicked, v.Get(0, 11));
  EXPECT_EQ(r.clickedRow, 0);
  EXPECT_FALSE(v.press.HasFocus());
  EXPECT_FALSE(v.press.InProgress());
  // A second release without a press clicks nothing.
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);
}

TEST(CellPress, DisabledAndInvisibleCellsClickNothing) {
  TwoRows v;
  v.Get(0, 11)->enabled = false;
  v.press.Down(0, v.rows[0].get(), 20, 10);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);

  v.Get(0, 11)->enabled = true;
  v.Get(0, 11)->visible = false;
  v.press.Down(0, v.rows[0].get(), 20, 10);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);

  // Disabled between press and release: no click, and the stale focus does
  // not click later when a press lands on empty space.
  v.Get(0, 11)->visible = true;
  v.press.Down(0, v.rows[0].get(), 20, 10);
  v.Get(0, 11)->enabled = false;
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);
  v.Get(0, 11)->enabled = true;
  v.press.Down(0, v.rows[0].get(), 400, 10);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);
}

TEST(CellPress, CheckBoxesToggleAndRadiosSet) {
  TwoRows v;
  CKWBaseViewObject* check = v.Get(0, 12);
  for (bool expected : {true, false, true}) {
    v.press.Down(0, v.rows[0].get(), 120, 10);
    KwCellPress::Release r = v.press.Up(v.Lookup());
    EXPECT_EQ(r.clicked, check);
    EXPECT_TRUE(r.repaint);
    EXPECT_EQ(check->checked, expected);
  }
  CKWBaseViewObject* radio = v.Get(0, 13);
  for (int i = 0; i < 2; ++i) {
    v.press.Down(0, v.rows[0].get(), 220, 10);
    EXPECT_EQ(v.press.Up(v.Lookup()).clicked, radio);
    EXPECT_TRUE(radio->checked);
  }
}

// The second press of a double click repeats the first: a button or radio
// is not clicked again, while a check box toggles once per click.
TEST(CellPress, SecondPressOfADoubleClickTogglesOnlyCheckBoxes) {
  TwoRows v;
  for (int x : {20, 220}) {
    v.press.Down(0, v.rows[0].get(), x, 10);
    EXPECT_NE(v.press.Up(v.Lookup()).clicked, nullptr);
    v.press.Down(0, v.rows[0].get(), x, 10, true);
    EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr) << x;
    EXPECT_FALSE(v.press.HasFocus());
  }
  CKWBaseViewObject* check = v.Get(0, 12);
  v.press.Down(0, v.rows[0].get(), 120, 10);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, check);
  v.press.Down(0, v.rows[0].get(), 120, 10, true);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, check);
  EXPECT_FALSE(check->checked);
  // The next ordinary press clicks again.
  v.press.Down(0, v.rows[0].get(), 20, 10);
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, v.Get(0, 11));
}

TEST(CellPress, CellRemovedBeforeReleaseIsNotTouched) {
  TwoRows v;
  v.press.Down(0, v.rows[0].get(), 20, 10);
  v.rows[0]->ClearCells();
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);
  v.press.Down(1, v.rows[1].get(), 20, 50);
  v.rows.clear();
  EXPECT_EQ(v.press.Up(v.Lookup()).clicked, nullptr);
}

TEST(CellPress, SliderThumbDragMovesTheValue) {
  TwoRows v;
  CKWBaseViewObject* slider = v.Get(1, 22);
  // Value 0 sits in the middle: thumb centre at 110 + 6 + 50.
  EXPECT_EQ(slider->SliderThumbCenterX(), 166);
  v.press.Down(1, v.rows[1].get(), 140, 55);  // On the track, off the thumb.
  EXPECT_EQ(v.press.Kind(), kKwPressOrdinary);
  int row = -1;
  EXPECT_EQ(v.press.SliderMove(v.Lookup(), 200, &row), nullptr);
  v.press.Up(v.Lookup());

  v.press.Down(1, v.rows[1].get(), 166, 55);
  EXPECT_EQ(v.press.Kind(), kKwPressSlider);
  EXPECT_EQ(v.press.SliderMove(v.Lookup(), 216, &row), slider);
  EXPECT_EQ(row, 1);
  EXPECT_DOUBLE_EQ(slider->value, 100);
  v.press.SliderMove(v.Lookup(), 0, &row);
  EXPECT_DOUBLE_EQ(slider->value, -100);
  KwCellPress::Release r = v.press.Up(v.Lookup());
  EXPECT_EQ(r.sliderReleased, slider);
  EXPECT_EQ(r.clicked, slider);
}

}  // namespace
