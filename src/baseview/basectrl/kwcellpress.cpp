#include "baseview/basectrl/kwcellpress.h"

#include "baseview/basectrl/kwonelineform.h"

CKWBaseViewObject* KwCellPress::Down(int row, CKWOneLineForm* form, int x, int y, bool repeat) {
  kind_ = kKwPressOrdinary;
  pressRow_ = row;
  repeat_ = repeat;
  CKWBaseViewObject* hit = form ? form->HitTest(x, y) : nullptr;
  // A press on empty space or on a dead cell forgets any earlier focus, so
  // its release cannot click a cell pressed long before.
  if (hit == nullptr || !hit->Clickable()) {
    ClearFocus();
    return hit;
  }
  SetFocus(row, hit->id);
  if (hit->type == kKwCellSlider && hit->SliderThumbHit(x, y)) kind_ = kKwPressSlider;
  return hit;
}

CKWBaseViewObject* KwCellPress::SliderMove(const RowLookup& rows, int x, int* row) {
  if (kind_ != kKwPressSlider) return nullptr;
  CKWBaseViewObject* cell = FocusCell(rows);
  if (cell == nullptr || cell->type != kKwCellSlider) return nullptr;
  cell->value = cell->SliderValueAt(x);
  if (row) *row = focusRow_;
  return cell;
}

KwCellPress::Release KwCellPress::Up(const RowLookup& rows) {
  Release out;
  CKWBaseViewObject* focus = FocusCell(rows);
  if (kind_ == kKwPressSlider && focus && focus->type == kKwCellSlider) {
    out.sliderRow = focusRow_;
    out.sliderReleased = focus;
  }
  kind_ = kKwPressNone;
  pressRow_ = -1;
  if (!HasFocus()) return out;
  if (focus == nullptr || !focus->visible) {
    ClearFocus();
    return out;
  }
  if (!focus->enabled || (repeat_ && focus->type != kKwCellCheck)) {
    ClearFocus();
    return out;
  }
  if (focus->type == kKwCellCheck) {
    focus->checked = !focus->checked;
    out.repaint = true;
  } else if (focus->type == kKwCellRadio) {
    focus->checked = true;
    out.repaint = true;
  }
  out.clickedRow = focusRow_;
  out.clicked = focus;
  ClearFocus();
  return out;
}

void KwCellPress::SetFocus(int row, int id) {
  focusRow_ = row;
  focusId_ = id;
}

void KwCellPress::ClearFocus() {
  focusRow_ = -1;
  focusId_ = 0;
}

CKWBaseViewObject* KwCellPress::FocusCell(const RowLookup& rows) const {
  if (focusRow_ < 0 || !rows) return nullptr;
  CKWOneLineForm* form = rows(focusRow_);
  return form ? form->GetCell(focusId_) : nullptr;
}
