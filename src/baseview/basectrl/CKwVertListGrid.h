// CKwVertListGrid: a vertical list of rows of varying height with its own
// drawn scroll bar.
//
// It keeps the row table (rebuilt from GetLineCount/GetLineHeight), the
// scroll position and the bar, routes presses, moves and releases to the
// row under the pointer, and lets the content be dragged with the pointer.
// Derived classes supply the rows through the hooks below.  Owned like any
// CKwFreeForm; user-interface thread only.
#pragma once

#include "baseview/basectrl/CKwFreeForm.h"
#include "baseview/basectrl/kwrowtable.h"
#include "baseview/basectrl/kwscrollmodel.h"

class CKWOneLineForm;

inline constexpr KwColor kKwViewBackground = KwRGB(120, 120, 120);

class CKwVertListGrid : public CKwFreeForm {
  Q_OBJECT

 public:
  explicit CKwVertListGrid(QWidget* parent = nullptr);
  ~CKwVertListGrid() override;

  // Rebuilds the row table from the rows and sets the scroll range for the
  // current client height.  Call after adding or removing rows.
  void RebuildRowTable();
  int TotalHeight() const { return rowTable_.Total(); }
  int RowCount() const { return rowTable_.Count(); }
  const KwRowTable& RowTable() const { return rowTable_; }

  int ScrollPosition() const { return scroll_.Position(); }
  int ScrollMaximum() const { return scroll_.Maximum(); }
  bool ScrollBarVisible() const { return scroll_.BarVisible(); }
  const KwScrollModel& Scroll() const { return scroll_; }
  // Scroll by a scroll-bar code (0 line up ... 7 bottom); repaints when the
  // position changed.
  void ScrollBy(int code, int position = 0);

  void SetBackground(bool fill, KwColor color) {
    fillBackground_ = fill;
    background_ = color;
  }
  KwColor Background() const { return background_; }
  // The client area less the scroll bar when it shows.
  KwRect ContentRect() const;
  int HoveredRow() const { return hoveredRow_; }
  // True while the press being handled is the second press of a double click.
  bool RepeatPress() const { return repeatPress_; }

  // Overrides of CKwFreeForm.
  void KwOnChildCommand(int command, int value) override;
  void KwOnDraw(QPainter* dc) override;
  void KwOnLButtonDblClk(int flags, KwPoint point) override;
  void KwOnLButtonDown(int flags, KwPoint point) override;
  void KwOnLButtonUp(int flags, KwPoint point) override;
  void KwOnRButtonDown(int flags, KwPoint point) override;
  void KwOnRButtonUp(int flags, KwPoint point) override;
  void KwOnMouseMove(int flags, KwPoint point) override;
  void KwOnVScroll(int code, int position, QWidget* scrollBar) override;
  int KwOnMouseWheel(int flags, int delta, KwPoint point) override;

  // Hooks added by the grid, in table order.
  virtual void KwBeforeDraw();
  virtual void KwDrawBackground(QPainter* dc);
  virtual void KwAfterDraw(QPainter* dc);
  virtual int GetLineCount();
  virtual int GetLineHeight(int row);
  virtual CKWOneLineForm* GetLineForm(int row);
  virtual void DrawLine(QPainter* dc, int row, int left, int top, int right, int height);
  virtual void OnLButtonDownLine(int row, int x, int y);
  virtual void OnLButtonUpLine(int row, int x, int y);
  virtual void OnRButtonDownLine(int row, int x, int y);
  virtual void OnRButtonUpLine(int row, int x, int y);
  virtual void KwGridReservedHook1();
  virtual void KwGridReservedHook2();
  virtual void KwGridReservedHook3();
  virtual void OnLineElementPressed(int row, KwFreeElement* element);
  virtual void OnMouseMoveAfter(int flags, KwPoint point);
  virtual void OnLButtonUpAfter(int flags, KwPoint point);
  virtual void OnPressBefore(int flags, KwPoint point);

 protected:
  // The row under a client point, or -1 (caller holds the row lock).
  int RowAtPoint(int y) const;
  // Top of a row in client coordinates.
  int RowClientTop(int row) const;
  void DrawScrollBar(QPainter* dc, const KwRect& client);

  KwViewMutex paintMutex_{kKwLockPaint};
  KwViewMutex rowMutex_{kKwLockRow};

 private:
  void ResizedForScroll();

  KwRowTable rowTable_;
  KwScrollModel scroll_;
  bool fillBackground_ = true;
  KwColor background_ = kKwViewBackground;
  int hoveredRow_ = -1;
  bool leftDown_ = false;
  bool repeatPress_ = false;
};
