// CKWBaseView: a view whose rows are made of drawn cells, where a click on
// a cell posts the cell's ID as a command to the view itself.
//
// The view owns its rows (CKWOneLineForm) and through them every cell.
// Pages add and clear rows, and change cells, while holding the line-list
// lock (AppendLine and ClearLines take it themselves); worker threads may
// do so too and then call RequestRepaint.  Everything else runs on the
// user-interface thread.  Locks are taken paint, row, line list.
#pragma once

#include <QPointer>
#include <memory>
#include <vector>

#include "baseview/basectrl/CKwVertListGrid.h"
#include "baseview/basectrl/kwaccessdesc.h"
#include "baseview/basectrl/kwcellpress.h"
#include "baseview/basectrl/kwkeynav.h"
#include "baseview/basectrl/kwonelineform.h"
// Command numbers: kKwCmdRefreshRows (10981) rebuilds a view's row table and
// repaints it before it goes on to OnCommandId like any other number;
// kKwCmdOwnerNotify (90001) tells a page's owner dialog about a press.
#include "baseview/kwframelogic.h"

class CKWBaseView : public CKwVertListGrid {
  Q_OBJECT

 public:
  explicit CKWBaseView(QWidget* parent = nullptr);
  ~CKWBaseView() override;

  // Rows.  The view takes ownership; AppendLine returns the row.
  CKWOneLineForm* AppendLine(std::unique_ptr<CKWOneLineForm> line);
  // Destroys every row and cell (and the cells' edit controls: call on the
  // user-interface thread when edit controls exist).
  void ClearLines();
  int LineCount();
  CKWOneLineForm* GetLine(int row);
  // The first cell with this ID, searching rows in order; null when none.
  CKWBaseViewObject* FindCell(int id);
  KwViewMutex& LineListMutex() { return lineListMutex_; }

  // Edit controls: made for every edit cell that has none yet, filled with
  // the cell's text; moved to their cells' rectangles; texts copied back
  // into the cells (pages do this before reading what was typed).
  void CreateEditControls();
  void PlaceEditControls();
  void PullEditTexts();

  // The focus cell (the cell of the last press) and the hovered cell.
  CKWBaseViewObject* FocusCell();
  // The popup list a combo-box cell opened, while it is open.
  QWidget* ComboPopup() const { return comboPopup_.data(); }
  const KwCellPress& Press() const { return press_; }

  // Overrides of the grid.
  int GetLineCount() override;
  int GetLineHeight(int row) override;
  CKWOneLineForm* GetLineForm(int row) override;
  void DrawLine(QPainter* dc, int row, int left, int top, int right, int height) override;
  void OnLButtonDownLine(int row, int x, int y) override;
  void OnLButtonUpLine(int row, int x, int y) override;
  void OnRButtonUpLine(int row, int x, int y) override;
  void OnMouseMoveAfter(int flags, KwPoint point) override;
  void OnLButtonUpAfter(int flags, KwPoint point) override;
  void OnPressBefore(int flags, KwPoint point) override;
  void KwPasteText(const char* text) override;
  void KwOnMouseLeave() override;
  void KwOnRefreshTimer() override;
  void OnCommand(int command) override;

  // Hooks added by the view, in table order.  `line` is the row's form.
  virtual void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                            int height);
  virtual void DrawLineFront(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                             int height);
  virtual void KwViewReservedHook1();
  virtual void OnSliderMoved(CKWOneLineForm* line, CKWBaseViewObject* cell);
  virtual void OnSliderReleased(CKWOneLineForm* line, CKWBaseViewObject* cell);
  virtual void OnLinePressed(CKWOneLineForm* line);
  virtual int KwViewHookReturnsOne();
  // A cell click (the cell ID) or any command posted to the view.
  virtual void OnCommandId(int command);
  // Sets the rectangles of the row's cells.
  virtual void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height);
  virtual void LayoutCell(CKWOneLineForm* line, int left, int top, int width, int height,
                          CKWBaseViewObject* cell);
  virtual void OnCellClicked(CKWOneLineForm* line, CKWBaseViewObject* cell);
  virtual void OnCellRightClicked(CKWOneLineForm* line, int x, int y, CKWBaseViewObject* cell);
  virtual void KwViewReservedHook2();
  virtual void KwOnPressAt(int flags, KwPoint point);
  virtual void KwOnReleaseAt(int flags, KwPoint point);
  virtual void KwOnMoveAt(int flags, KwPoint point);
  virtual void OnLButtonUpLineDone(int row, int x, int y);
  virtual void KwKeyboardHook1();
  virtual void KwKeyboardHook2();
  virtual void KwKeyboardHook3();
  virtual void OnHoverCell(CKWOneLineForm* line, CKWBaseViewObject* cell);

  // Draws one cell with the toolkit painter; pages may call it for cells
  // they draw themselves.
  static void PaintCell(QPainter* dc, CKWBaseViewObject* cell);

  // ---- Keyboard ----
  // The page's main button (Enter) and its cancel button (Escape); 0 for
  // none.  Without a cancel button Escape goes on to the dialog.
  void SetKeyButtons(int defaultId, int cancelId);
  int DefaultButtonId() const { return defaultButtonId_; }
  int CancelButtonId() const { return cancelButtonId_; }
  // The cell with the keyboard focus (0: none).  The ring shows after the
  // keyboard moved the focus, not after a click, and only while the view
  // or one of its edit controls has the focus.
  int KeyFocusId() const { return keyFocusId_; }
  bool FocusRingShown() const;
  // Gives a cell the keyboard focus; an edit cell hands it on to its native
  // control.  0 takes it from every cell.
  void SetKeyFocus(int id, bool showRing);
  // IDs of the cells Tab reaches, in reading order.
  std::vector<int> FocusOrder();
  // Acts on a cell as a click on it does: buttons and links post their ID,
  // a check box toggles, a combo box opens its list.  False when the cell
  // is missing, hidden or disabled.
  bool ActivateCell(int id);
  // Carries out what a key means for this view; false when the key is not
  // the view's (the dialog then sees it).
  bool HandleKey(KwKeyAction action);

  // ---- Screen readers ----
  // Items for the cells in reading order (see kwaccessdesc.h).  Pages add
  // what they draw without a cell.  Takes the line-list lock.
  virtual void DescribeAccessible(std::vector<KwAccItem>* items);

 protected:
  bool focusNextPrevChild(bool next) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  // Lays a row out at its current place (used before hit-testing).
  void LayoutRowAt(int row);
  // Opens the popup list of a combo-box cell below it.
  virtual void OpenComboPopup(CKWOneLineForm* line, CKWBaseViewObject* cell);
  KwCellPress::RowLookup Lookup();
  // The open popup list of a combo box, if any (it deletes itself).
  QPointer<QWidget> comboPopup_;

 private:
  CKWBaseViewObject* CellAtPoint(KwPoint point, int* row);
  void ScheduleEditPlacement(int delayMs);
  // Calls `fn(cell, shown)` for every cell under the line-list lock, `shown`
  // telling whether the cell's row is visible through its group; does
  // nothing when the lock cannot be had.
  template <typename Fn>
  void ForEachCellLocked(Fn fn);

  KwViewMutex lineListMutex_{kKwLockLineList};
  std::vector<std::unique_ptr<CKWOneLineForm>> lines_;
  KwCellPress press_;
  int hoverRow_ = -1;
  int hoverCellId_ = 0;
  bool hoverOnCell_ = false;
  long long caretTick_ = 0;
  bool caretPhase_ = false;
  bool editPlacementQueued_ = false;
  QMetaObject::Connection focusWatch_;
  int keyFocusId_ = 0;
  bool ringShown_ = false;
  int defaultButtonId_ = 0;
  int cancelButtonId_ = 0;
  void OnApplicationFocus(QWidget* old, QWidget* now);
  void DrawFocusRing(QPainter* dc, CKWOneLineForm* line);
  QWidget* EditorWidgetOf(int id);
};
