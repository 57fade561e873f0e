#include "baseview/basectrl/CKWBaseView.h"

#include <QAccessible>
#include <QApplication>
#include <QDateTime>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <algorithm>

#include "app/common/ikwbasepopup.h"
#include "baseview/basectrl/CKwEdit.h"
#include "baseview/basectrl/kwcellpainter.h"
#include "baseview/basectrl/kwviewaccessible.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdraw.h"
#include "language/ikwlang.h"

namespace {

// The focus ring: a light line two pixels wide, three pixels outside the
// cell, so it shows on the blue buttons and on the dark page alike.
constexpr KwColor kFocusRing = KwRGB(150, 190, 255);

}  // namespace

CKWBaseView::CKWBaseView(QWidget* parent) : CKwVertListGrid(parent) {
  // Tab reaches the view; the view then walks its own cells.
  setFocusPolicy(Qt::StrongFocus);
  KwInstallViewAccessibility();
  if (qApp != nullptr) {
    focusWatch_ = connect(qApp, &QApplication::focusChanged, this,
                          [this](QWidget* old, QWidget* now) { OnApplicationFocus(old, now); });
  }
}

CKWBaseView::~CKWBaseView() {
  // The widget part below still moves the focus away while it goes; this
  // view must not hear of it any more.
  disconnect(focusWatch_);
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
  DrawFocusRing(dc, line);
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
  if (KwCellTakesFocus(*cell)) {
    // A click moves the keyboard focus without showing the ring.
    keyFocusId_ = cell->id;
    ringShown_ = false;
  }
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
  KwNotifyViewAccessible(this);
  if (now - caretTick_ < 300) return;
  CKWBaseViewObject* focus = FocusCell();
  if (focus == nullptr || focus->type != kKwCellEdit || focus->Editor() != nullptr) return;
  caretTick_ = now;
  caretPhase_ = !caretPhase_;
  Repaint();
}

void CKWBaseView::OnCommand(int command) {
  if (command == kKwCmdRefreshRows) KwNotifyViewAccessible(this);
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
  const QRect drawn = ToWidgetRect(cell->Rect());
  const QPoint corner = mapToGlobal(drawn.bottomLeft() + QPoint(0, 1));
  const int width = drawn.width();
  const int current = box->SelectedIndex();
  // Opened after the press has been handled, so the view still sees its own
  // release before the popup takes the pointer.
  QPointer<CKWBaseView> self(this);
  QTimer::singleShot(0, this, [self, row, id, items, corner, width, current] {
    if (!self) return;
    auto* menu = new IKWMShowPopMenu(self->window());
    menu->SetItems(items);
    menu->SetCurrent(current);
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

// ---- Keyboard --------------------------------------------------------------

void CKWBaseView::SetKeyButtons(int defaultId, int cancelId) {
  defaultButtonId_ = defaultId;
  cancelButtonId_ = cancelId;
}

bool CKWBaseView::FocusRingShown() const {
  if (!ringShown_ || keyFocusId_ == 0) return false;
  QWidget* focus = QApplication::focusWidget();
  return focus != nullptr && (focus == this || isAncestorOf(focus));
}

std::vector<int> CKWBaseView::FocusOrder() {
  std::vector<KwFocusItem> items;
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return {};
  for (size_t r = 0; r < lines_.size(); ++r) {
    if (!KwRowShownByGroup(lines_, r)) continue;
    // Rectangles are set by the layout; lay the row out where it is now so
    // the order is right before the first paint too.
    LayoutRowAt(static_cast<int>(r));
    for (const auto& kv : lines_[r]->Cells()) {
      const CKWBaseViewObject& cell = *kv.second;
      if (!KwCellTakesFocus(cell)) continue;
      items.push_back(KwFocusItem{cell.id, cell.Rect()});
    }
  }
  return KwReadingOrder(std::move(items));
}

QWidget* CKWBaseView::EditorWidgetOf(int id) {
  KwViewLockGuard lock(lineListMutex_);
  CKWBaseViewObject* cell = FindCell(id);
  if (cell == nullptr || cell->type != kKwCellEdit) return nullptr;
  auto* edit = dynamic_cast<CKwEdit*>(cell->Editor());
  return edit != nullptr ? edit->Widget() : nullptr;
}

void CKWBaseView::SetKeyFocus(int id, bool showRing) {
  keyFocusId_ = id;
  ringShown_ = showRing && id != 0;
  QWidget* editor = id != 0 ? EditorWidgetOf(id) : nullptr;
  if (editor != nullptr && editor->isVisible() && editor->isEnabled()) {
    editor->setFocus(Qt::TabFocusReason);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) line->selectAll();
  } else if (!hasFocus()) {
    setFocus(Qt::TabFocusReason);
  }
  KwNotifyViewFocus(this, id);
  update();
}

bool CKWBaseView::focusNextPrevChild(bool next) {
  const std::vector<int> order = FocusOrder();
  if (order.empty()) return CKwVertListGrid::focusNextPrevChild(next);
  SetKeyFocus(KwNextFocus(order, keyFocusId_, next), true);
  return true;
}

bool CKWBaseView::ActivateCell(int id) {
  int row = -1;
  bool post = false;
  bool open = false;
  {
    KwViewLockGuard lock(lineListMutex_);
    if (!lock.owns()) return false;
    CKWOneLineForm* line = nullptr;
    CKWBaseViewObject* cell = nullptr;
    for (size_t r = 0; r < lines_.size() && cell == nullptr; ++r) {
      if (!KwRowShownByGroup(lines_, r)) continue;
      cell = lines_[r]->GetCell(id);
      if (cell != nullptr) {
        line = lines_[r].get();
        row = static_cast<int>(r);
      }
    }
    if (cell == nullptr || !cell->Clickable()) return false;
    if (cell->type == kKwCellCombo) {
      open = true;
    } else if (cell->type == kKwCellEdit) {
      return false;
    } else {
      // The same effect as a press and release on the cell.
      if (cell->type == kKwCellCheck) cell->checked = !cell->checked;
      if (cell->type == kKwCellRadio) cell->checked = true;
      OnCellClicked(line, cell);
      post = true;
    }
    if (open) {
      press_.SetFocus(row, id);
      LayoutRowAt(row);
      OpenComboPopup(line, cell);
    }
  }
  if (post) KwPostCommand(this, id);
  update();
  return true;
}

bool CKWBaseView::HandleKey(KwKeyAction action) {
  switch (action) {
    case KwKeyAction::FocusNext:
    case KwKeyAction::FocusPrev:
      return focusNextPrevChild(action == KwKeyAction::FocusNext);
    case KwKeyAction::Activate:
      ringShown_ = keyFocusId_ != 0;
      return ActivateCell(keyFocusId_);
    case KwKeyAction::OpenList:
      ringShown_ = true;
      return ActivateCell(keyFocusId_);
    case KwKeyAction::PressDefault: {
      // A focused button is the one Enter presses, as in the platform's
      // dialogs; elsewhere the page's main button.
      int target = defaultButtonId_;
      {
        KwViewLockGuard lock(lineListMutex_);
        CKWBaseViewObject* focus = keyFocusId_ != 0 ? FindCell(keyFocusId_) : nullptr;
        if (focus != nullptr && focus->Clickable() &&
            (focus->type == kKwCellButton || (focus->type == kKwCellText && focus->link))) {
          target = focus->id;
        }
      }
      PullEditTexts();
      return target != 0 && ActivateCell(target);
    }
    case KwKeyAction::Cancel:
      return cancelButtonId_ != 0 && ActivateCell(cancelButtonId_);
    case KwKeyAction::ListPrev:
    case KwKeyAction::ListNext: {
      {
        KwViewLockGuard lock(lineListMutex_);
        CKWBaseViewObject* cell = FindCell(keyFocusId_);
        if (cell == nullptr || cell->type != kKwCellCombo || !cell->Clickable()) return false;
        CSfDrawComboBox* box = cell->ComboBox();
        const int at = box->SelectedIndex();
        const int to = action == KwKeyAction::ListPrev ? at - 1 : at + 1;
        // Selecting runs the box's change callback, as a choice in its list.
        if (to >= 0 && to < box->ItemCount()) box->Select(to);
      }
      ringShown_ = true;
      update();
      return true;
    }
    case KwKeyAction::None:
      return false;
  }
  return false;
}

void CKWBaseView::keyPressEvent(QKeyEvent* e) {
  CKwVertListGrid::keyPressEvent(e);
  KwKeyInput in;
  in.key = e->key();
  in.shift = (e->modifiers() & Qt::ShiftModifier) != 0;
  in.control = (e->modifiers() & Qt::ControlModifier) != 0;
  in.alt = (e->modifiers() & Qt::AltModifier) != 0;
  in.autoRepeat = e->isAutoRepeat();
  QWidget* focus = QApplication::focusWidget();
  const bool inEditor = focus != nullptr && focus != this && isAncestorOf(focus);
  int kind = -1;
  {
    KwViewLockGuard lock(lineListMutex_);
    if (CKWBaseViewObject* cell = keyFocusId_ != 0 ? FindCell(keyFocusId_) : nullptr) {
      kind = cell->type;
      if (kind == kKwCellText && !cell->link) kind = -1;
    }
  }
  if (HandleKey(KwMapViewKey(in, kind, inEditor))) {
    e->accept();
  } else {
    e->ignore();
  }
}

void CKWBaseView::focusInEvent(QFocusEvent* e) {
  CKwVertListGrid::focusInEvent(e);
  // A dialog gives its first child the focus "by Tab" when it shows; that
  // selects no cell yet, so the user's first Tab lands on the first one.
  // Shift+Tab into the view lands on the last.
  if (e->reason() == Qt::BacktabFocusReason && keyFocusId_ == 0) {
    const std::vector<int> order = FocusOrder();
    if (!order.empty()) {
      SetKeyFocus(order.back(), true);
      return;
    }
  }
  update();
}

void CKWBaseView::focusOutEvent(QFocusEvent* e) {
  CKwVertListGrid::focusOutEvent(e);
  update();
}

void CKWBaseView::OnApplicationFocus(QWidget* old, QWidget* now) {
  const bool mine = now != nullptr && now != this && isAncestorOf(now);
  if (mine) {
    // An edit control took the focus (a click or Tab): its cell has it.
    bool ok = false;
    const int id = now->objectName().toInt(&ok);
    if (ok && id != keyFocusId_) {
      keyFocusId_ = id;
      KwNotifyViewFocus(this, id);
    }
  }
  if (mine || (old != nullptr && (old == this || isAncestorOf(old)))) update();
}

void CKWBaseView::DrawFocusRing(QPainter* dc, CKWOneLineForm* line) {
  if (!FocusRingShown()) return;
  CKWBaseViewObject* cell = line->GetCell(keyFocusId_);
  if (cell == nullptr || !cell->visible) return;
  dc->save();
  dc->setRenderHint(QPainter::Antialiasing, true);
  QPen pen(KwToQColor(kFocusRing));
  pen.setWidth(2);
  dc->setPen(pen);
  dc->setBrush(Qt::NoBrush);
  const QRectF r(cell->x - 3, cell->y - 3, cell->width + 6, cell->height + 6);
  const double radius = std::max(cell->cornerRadius, 2) + 3;
  dc->drawRoundedRect(r, radius, radius);
  dc->restore();
}

// ---- Screen readers --------------------------------------------------------

void CKWBaseView::DescribeAccessible(std::vector<KwAccItem>* items) {
  if (items == nullptr) return;
  KwViewLockGuard lock(lineListMutex_);
  if (!lock.owns()) return;
  const KwCellFinder find = [this](int id) -> const CKWBaseViewObject* { return FindCell(id); };
  const KwTextLookup text = [](const std::string& key) {
    return std::string(IKWLang::Instance()->GetText(key.c_str()));
  };
  std::vector<KwFocusItem> order;
  std::vector<KwAccItem> found;
  for (size_t r = 0; r < lines_.size(); ++r) {
    if (!KwRowShownByGroup(lines_, r)) continue;
    LayoutRowAt(static_cast<int>(r));
    for (const auto& kv : lines_[r]->Cells()) {
      KwAccItem item;
      if (!KwDescribeCell(*kv.second, find, text, keyFocusId_, &item)) continue;
      item.row = static_cast<int>(r);
      order.push_back(KwFocusItem{static_cast<int>(found.size()), item.rect});
      found.push_back(std::move(item));
    }
  }
  for (int index : KwReadingOrder(std::move(order))) {
    items->push_back(std::move(found[static_cast<size_t>(index)]));
  }
}
