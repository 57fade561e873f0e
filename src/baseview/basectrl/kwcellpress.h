// The press, drag and click state machine of a view's cells.
//
// A click belongs to the cell that was pressed: the press makes it the
// focus cell, and the release clicks it wherever the pointer is then, as
// long as it is still visible and enabled.  Cells are remembered by row
// index and cell ID, never by pointer, so a page that rebuilds its rows
// between press and release cannot leave a dangling cell behind; the cell
// is looked up again at release.  Owned by the view; used under its
// line-list lock.
#pragma once

#include <functional>

class CKWOneLineForm;
class CKWBaseViewObject;

enum KwPressKind : int {
  kKwPressNone = 0,
  kKwPressOrdinary = 1,
  kKwPressSlider = 100,
};

class KwCellPress {
 public:
  using RowLookup = std::function<CKWOneLineForm*(int row)>;

  struct Release {
    int sliderRow = -1;
    CKWBaseViewObject* sliderReleased = nullptr;  // Post its ID after OnSliderReleased.
    int clickedRow = -1;
    CKWBaseViewObject* clicked = nullptr;  // Post its ID after OnCellClicked.
    bool repaint = false;
  };

  // Left press on row `row` at view point (x, y), cells already laid out.
  // Returns the cell hit (possibly invisible or disabled), or null.
  // `repeat` marks the second press of a double click: its release clicks
  // only a check box (which toggles once per click); for every other cell the
  // double click was one click, already made by the first press.
  CKWBaseViewObject* Down(int row, CKWOneLineForm* form, int x, int y, bool repeat = false);
  // Slider drag: moves the dragged slider to pointer x and returns it, or
  // null when no slider drag is in progress.
  CKWBaseViewObject* SliderMove(const RowLookup& rows, int x, int* row);
  // Left release anywhere in the view.
  Release Up(const RowLookup& rows);

  void SetFocus(int row, int id);
  void ClearFocus();
  CKWBaseViewObject* FocusCell(const RowLookup& rows) const;
  bool HasFocus() const { return focusRow_ >= 0; }
  int FocusRow() const { return focusRow_; }
  int FocusId() const { return focusId_; }

  bool InProgress() const { return kind_ != kKwPressNone; }
  int Kind() const { return kind_; }
  int PressRow() const { return pressRow_; }
  // The pressed flag a cell gets during layout.
  bool IsPressed(int row, int id) const {
    return InProgress() && pressRow_ == row && focusRow_ == row && focusId_ == id;
  }

 private:
  int kind_ = kKwPressNone;
  int pressRow_ = -1;
  int focusRow_ = -1;
  int focusId_ = 0;
  bool repeat_ = false;
};
