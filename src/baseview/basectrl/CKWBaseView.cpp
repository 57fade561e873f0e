#include "baseview/basectrl/CKWBaseView.h"

#include <QDateTime>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include "app/common/ikwbasepopup.h"
#include "baseview/basectrl/CKwEdit.h"
#include "baseview/basectrl/kwcellpainter.h"
#include "baseview/kwcommand.h"

CKWBaseView::CKWBaseView(QWidget* parent) : CKwVertListGrid(parent) {}

CKWBaseView::~CKWBaseView() {
  KwViewLockGuard lock(lineListMutex_);
  lines_.clear();
}

CKWOneLineForm* CKWBaseView::AppendLine(std::unique_ptr<CKWOneLineForm> line) {
  if (!line) return nullptr;
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return nullptr;
  lines_.push_back(std::move(line));
  return lines_.back().get();
}

void CKWBaseView::ClearLines() {
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  lines_.clear();
  press_.ClearFocus();
  hoverOnCell_ = false;
}

int CKWBaseView::LineCount() {
  KwViewLockGuard lock(lineListMutex_);
  return static_cast<int>(lines_.size());
}

CKWOneLineForm* CKWBaseView::GetLine(int row) {
  KwViewLockGuard lock(lineListMutex_);
  if (row < 0 || row >= static_cast<int>(lines_.size())) return nullptr;
  return lines_[static_cast<size_t>(row)].get();
}

CKWBaseViewObject* CKWBaseView::FindCell(int id) {
  KwViewLockGuard lock(lineListMutex_);
  for (const auto& line : lines_) {
    if (CKWBaseViewObject* cell = line->GetCell(id)) return cell;
  }
  return nullptr;
}

KwCellPress::RowLookup CKWBaseView::Lookup() {
  return [this](int row) -> CKWOneLineForm* {
    if (row < 0 || row >= static_cast<int>(lines_.size())) return nullptr;
    return lines_[static_cast<size_t>(row)].get();
  };
}

CKWBaseViewObject* CKWBaseView::FocusCell() {
  KwViewLockGuard lock(lineListMutex_);
  return press_.FocusCell(Lookup());
}

int CKWBaseView::GetLineCount() {
  return LineCount();
}

int CKWBaseView::GetLineHeight(int row) {
  KwViewLockGuard lock(lineListMutex_);
  if (row < 0 || row >= static_cast<int>(lines_.size())) return 0;
  if (!KwRowShownByGroup(lines_, static_cast<size_t>(row))) return 0;
  return lines_[static_cast<size_t>(row)]->height;
}

CKWOneLineForm* CKWBaseView::GetLineForm(int row) {
  return GetLine(row);
}

void CKWBaseView::LayoutRowAt(int row) {
  CKWOneLineForm* line = Lookup()(row);
  if (line == nullptr || row >= RowTable().Count()) return;
  const KwRect content = ContentRect();
  const int top = RowClientTop(row);
  const int h = RowTable().Entry(row).height;
  LayoutLine(line, content.left, top, content.Width(), h);
  for (const auto& kv : line->Cells()) {
    CKWBaseViewObject* cell = kv.second.get();
    cell->pressed = press_.IsPressed(row, cell->id);
    LayoutCell(line, content.left, top, content.Width(), h, cell);
  }
}

void CKWBaseView::DrawLine(QPainter* dc, int row, int left, int top, int right, int height) {
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  if (row < 0 || row >= static_cast<int>(lines_.size())) return;
  if (!KwRowShownByGroup(lines_, static_cast<size_t>(row))) return;
  CKWOneLineForm* line = lines_[static_cast<size_t>(row)].get();
  const int width = right - left;
  LayoutLine(line, left, top, width, height);
  bool editMoved = false;
  for (const auto& kv : line->Cells()) {
    CKWBaseViewObject* cell = kv.second.get();
    cell->pressed = press_.IsPressed(row, cell->id);
    LayoutCell(line, left, top, width, height, cell);
    if (IKwCellEditor* editor = cell->Editor()) {
      if (!(editor->Geometry() == KwEditControlRect(*cell))) editMoved = true;
    }
  }
  DrawLineBack(dc, line, left, top, right, height);
  for (CKWBaseViewObject* cell : line->PaintOrder()) KwPaintCell(dc, *cell);
  DrawLineFront(dc, line, left, top, right, height);
  // Moving child widgets while painting is not allowed; do it right after.
  if (editMoved) ScheduleEditPlacement(0);
}

void CKWBaseView::PaintCell(QPainter* dc, CKWBaseViewObject* cell) {
  if (cell != nullptr) KwPaintCell(dc, *cell);
}

void CKWBaseView::OnPressBefore(int flags, KwPoint point) {
  KwOnSetFocus();
  setFocus(Qt::MouseFocusReason);
  KwOnPressAt(flags, point);
  KwViewLockGuard rowLock(rowMutex_);
  if (!rowLock.owns()) return;
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  int row = -1;
  CKWBaseViewObject* cell = CellAtPoint(point, &row);
  if (cell == nullptr || !cell->Clickable()) return;
  if (cell->type == kKwCellEdit || cell->type == kKwCellCombo) press_.SetFocus(row, cell->id);
  if (cell->type == kKwCellCombo) OpenComboPopup(Lookup()(row), cell);
}

CKWBaseViewObject* CKWBaseView::CellAtPoint(KwPoint point, int* row) {
  const int r = RowAtPoint(point.y);
  if (row) *row = r;
  CKWOneLineForm* line = Lookup()(r);
  if (line == nullptr) return nullptr;
  LayoutRowAt(r);
  return line->HitTest(point.x, point.y);
}

void CKWBaseView::OnLButtonDownLine(int row, int x, int y) {
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  CKWOneLineForm* line = Lookup()(row);
  if (line == nullptr) return;
  LayoutRowAt(row);
  OnLinePressed(line);
  press_.Down(row, line, x, y, RepeatPress());
  // The repaint lays the row out again, now with the pressed cell marked.
  Repaint();
}

void CKWBaseView::OnLButtonUpLine(int row, int x, int y) {
  int sliderId = 0, clickedId = 0;
  bool slider = false, clicked = false;
  {
    KwViewLockGuard lock(lineListMutex_);
    if (!lock.owns()) return;
    const KwCellPress::Release r = press_.Up(Lookup());
    if (r.sliderReleased != nullptr) {
      slider = true;
      sliderId = r.sliderReleased->id;
      OnSliderReleased(Lookup()(r.sliderRow), r.sliderReleased);
    }
    if (r.clicked != nullptr) {
      clicked = true;
      clickedId = r.clicked->id;
      // The hook may rebuild the rows, so the cell is not touched after it.
      OnCellClicked(Lookup()(r.clickedRow), r.clicked);
    }
  }
  if (slider) KwPostCommand(this, sliderId);
  if (clicked) KwPostCommand(this, clickedId);
  OnLButtonUpLineDone(row, x, y);
  Repaint();
}

void CKWBaseView::OnRButtonUpLine(int row, int x, int y) {
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  CKWOneLineForm* line = Lookup()(row);
  if (line == nullptr) return;
  LayoutRowAt(row);
  CKWBaseViewObject* cell = line->HitTest(x, y);
  if (cell != nullptr && cell->Clickable()) OnCellRightClicked(line, x, y, cell);
}

void CKWBaseView::OnMouseMoveAfter(int flags, KwPoint point) {
  KwOnMoveAt(flags, point);
  int sliderId = 0;
  bool sliderMoved = false;
  {
    KwViewLockGuard rowLock(rowMutex_);
    if (!rowLock.owns()) return;
    KwViewLockGuard lock(lineListMutex_);
    if (!lock.owns()) return;
    int row = -1;
    CKWBaseViewObject* cell = CellAtPoint(point, &row);
    if (cell != nullptr && !cell->visible) cell = nullptr;
    setCursor(cell != nullptr && cell->type == kKwCellEdit ? Qt::IBeamCursor : Qt::ArrowCursor);
    hoverRow_ = row;
    hoverOnCell_ = cell != nullptr;
    hoverCellId_ = cell != nullptr ? cell->id : 0;
    OnHoverCell(Lookup()(row), cell);
    int sliderRow = -1;
    if (CKWBaseViewObject* s = press_.SliderMove(Lookup(), point.x, &sliderRow)) {
      OnSliderMoved(Lookup()(sliderRow), s);
      sliderMoved = true;
      sliderId = s->id;
    }
  }
  if (sliderMoved) {
    KwPostCommand(this, sliderId);
    Repaint();
  }
}

void CKWBaseView::KwOnMouseLeave() {
  // Not a hook of its own in the table; the base hook is kept for pages.
  CKwVertListGrid::KwOnMouseLeave();
  if (!hoverOnCell_ && hoverRow_ < 0) return;
  hoverOnCell_ = false;
  hoverRow_ = -1;
  KwViewLockGuard lock(lineListMutex_);
  if (lock.owns()) OnHoverCell(nullptr, nullptr);
}

void CKWBaseView::OnLButtonUpAfter(int flags, KwPoint point) {
  KwOnReleaseAt(flags, point);
}

void CKWBaseView::KwPasteText(const char*) {}

void CKWBaseView::KwOnRefreshTimer() {
  // Drawn text cells blink their caret; native edit controls blink their
  // own, so only a drawn focus cell needs the repaint.
  const long long now = QDateTime::currentMSecsSinceEpoch();
  if (now - caretTick_ < 300) return;
  CKWBaseViewObject* focus = FocusCell();
  if (focus == nullptr || focus->type != kKwCellEdit || focus->Editor() != nullptr) return;
  caretTick_ = now;
  caretPhase_ = !caretPhase_;
  Repaint();
}

void CKWBaseView::OnCommand(int command) {
  if (command == kKwCmdRefreshRows) {
    RebuildRowTable();
    Repaint();
  }
  OnCommandId(command);
}

template <typename Fn>
void CKWBaseView::ForEachCellLocked(Fn fn) {
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  for (size_t r = 0; r < lines_.size(); ++r) {
    const bool shown = KwRowShownByGroup(lines_, r);
    for (const auto& kv : lines_[r]->Cells()) fn(kv.second.get(), shown);
  }
}

void CKWBaseView::CreateEditControls() {
  ForEachCellLocked([this](CKWBaseViewObject* cell, bool shown) {
    if (cell->type != kKwCellEdit || cell->Editor() != nullptr) return;
    cell->SetEditor(std::make_unique<CKwEdit>(this, *cell));
    cell->Editor()->SetVisible(shown && cell->visible);
  });
}

void CKWBaseView::PlaceEditControls() {
  ForEachCellLocked([](CKWBaseViewObject* cell, bool shown) {
    if (IKwCellEditor* editor = cell->Editor()) {
      editor->SetGeometry(KwEditControlRect(*cell));
      editor->SetVisible(shown && cell->visible);
    }
  });
}

void CKWBaseView::PullEditTexts() {
  ForEachCellLocked([](CKWBaseViewObject* cell, bool) { cell->PullEditorText(); });
}

void CKWBaseView::ScheduleEditPlacement(int delayMs) {
  if (editPlacementQueued_ && delayMs == 0) return;
  if (delayMs == 0) editPlacementQueued_ = true;
  QTimer::singleShot(delayMs, this, [this, delayMs] {
    if (delayMs == 0) editPlacementQueued_ = false;
    PlaceEditControls();
  });
}

void CKWBaseView::OpenComboPopup(CKWOneLineForm* line, CKWBaseViewObject* cell) {
  if (line == nullptr || cell == nullptr) return;
  const int row = press_.FocusRow();
  const int id = cell->id;
  std::vector<KwPopupItem> items;
  CSfDrawComboBox* box = cell->ComboBox();
  for (int i = 0; i < box->ItemCount(); ++i) items.push_back(KwPopupItem{i, box->Item(i).text});
  const QPoint corner = mapToGlobal(QPoint(cell->x, cell->y + cell->height));
  const int width = cell->width;
  // Opened after the press has been handled, so the view still sees its own
  // release before the popup takes the pointer.
  QPointer<CKWBaseView> self(this);
  QTimer::singleShot(0, this, [self, row, id, items, corner, width] {
    if (!self) return;
    auto* menu = new IKWMShowPopMenu(self->window());
    menu->SetItems(items);
    menu->SetChoiceCallback([self, row, id](int command) {
      if (!self || command < 0) return;
      {
        KwViewLockGuard lock(self->LineListMutex());
        CKWOneLineForm* form = self->GetLine(row);
        CKWBaseViewObject* combo = form ? form->GetCell(id) : nullptr;
        if (combo != nullptr && combo->type == kKwCellCombo) combo->ComboBox()->Select(command);
      }
      self->Repaint();
    });
    self->comboPopup_ = menu;
    menu->Popup(corner.x(), corner.y(), width);
  });
}

void CKWBaseView::DrawLineBack(QPainter*, CKWOneLineForm*, int, int, int, int) {}
void CKWBaseView::DrawLineFront(QPainter*, CKWOneLineForm*, int, int, int, int) {}
void CKWBaseView::KwViewReservedHook1() {}
void CKWBaseView::OnSliderMoved(CKWOneLineForm*, CKWBaseViewObject*) {}
void CKWBaseView::OnSliderReleased(CKWOneLineForm*, CKWBaseViewObject*) {}
void CKWBaseView::OnLinePressed(CKWOneLineForm*) {}
int CKWBaseView::KwViewHookReturnsOne() {
  return 1;
}
void CKWBaseView::OnCommandId(int) {}
void CKWBaseView::LayoutLine(CKWOneLineForm*, int, int, int, int) {}
void CKWBaseView::LayoutCell(CKWOneLineForm*, int, int, int, int, CKWBaseViewObject*) {}
void CKWBaseView::OnCellClicked(CKWOneLineForm*, CKWBaseViewObject*) {}
void CKWBaseView::OnCellRightClicked(CKWOneLineForm*, int, int, CKWBaseViewObject*) {}
void CKWBaseView::KwViewReservedHook2() {}
void CKWBaseView::KwOnPressAt(int, KwPoint) {}
void CKWBaseView::KwOnReleaseAt(int, KwPoint) {}
void CKWBaseView::KwOnMoveAt(int, KwPoint) {}
void CKWBaseView::OnLButtonUpLineDone(int, int, int) {}
void CKWBaseView::KwKeyboardHook1() {}
void CKWBaseView::KwKeyboardHook2() {}
void CKWBaseView::KwKeyboardHook3() {}
void CKWBaseView::OnHoverCell(CKWOneLineForm*, CKWBaseViewObject*) {}
