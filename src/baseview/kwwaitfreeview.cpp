#include "baseview/kwwaitfreeview.h"

#include <QPainter>

#include "baseview/basectrl/kwviewlocks.h"
#include "baseview/kwdraw.h"
#include "baseview/kwwaitlayout.h"

CKwWaitFreeView::CKwWaitFreeView(QWidget* parent) : CKWBaseView(parent) {
  SetBackground(true, kKwWaitBackground);
}

void CKwWaitFreeView::BuildRow(int height, const std::string& message) {
  ClearLines();
  auto line = std::make_unique<CKWOneLineForm>(height);
  CKWBaseViewObject* text = line->NewCell(kKwWaitTextCell, kKwCellText);
  text->text = message;
  text->textAlign = kKwAlignCenter;
  text->drawBackground = false;
  text->fontSize = 14;
  // The progress cell is drawn by the view itself (the cell painter has no
  // progress kind); it is kept in the row so pages can find its values.
  CKWBaseViewObject* bar = line->NewCell(kKwWaitProgressCell, 6);
  bar->minimum = 0;
  bar->maximum = 100;
  bar->value = 0;
  bar->visible = progressMode_;
  bar->drawBackground = false;
  AppendLine(std::move(line));
  RebuildRowTable();
}

void CKwWaitFreeView::SetProgressMode(bool on) {
  progressMode_ = on;
  KwViewLockGuard lock(LineListMutex());
  if (CKWOneLineForm* line = GetLine(0)) {
    if (CKWBaseViewObject* bar = line->GetCell(kKwWaitProgressCell)) bar->visible = on;
  }
}

void CKwWaitFreeView::SetRange(double minimum, double maximum) {
  KwViewLockGuard lock(LineListMutex());
  if (CKWOneLineForm* line = GetLine(0)) {
    if (CKWBaseViewObject* bar = line->GetCell(kKwWaitProgressCell)) {
      bar->minimum = minimum;
      bar->maximum = maximum < minimum ? minimum : maximum;
      bar->value = KwClampProgress(bar->value, bar->minimum, bar->maximum);
    }
  }
}

void CKwWaitFreeView::SetProgress(double value) {
  KwViewLockGuard lock(LineListMutex());
  if (CKWOneLineForm* line = GetLine(0)) {
    if (CKWBaseViewObject* bar = line->GetCell(kKwWaitProgressCell)) {
      bar->value = KwClampProgress(value, bar->minimum, bar->maximum);
    }
  }
}

double CKwWaitFreeView::Progress() const {
  auto* self = const_cast<CKwWaitFreeView*>(this);
  KwViewLockGuard lock(self->LineListMutex());
  CKWOneLineForm* line = self->GetLine(0);
  CKWBaseViewObject* bar = line ? line->GetCell(kKwWaitProgressCell) : nullptr;
  return bar ? bar->value : 0.0;
}

void CKwWaitFreeView::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  if (line == nullptr) return;
  KwWaitLayout layout = KwComputeWaitLayout(left, top, width, height, progressMode_);
  if (CKWBaseViewObject* text = line->GetCell(kKwWaitTextCell)) {
    text->SetRect(layout.text.left, layout.text.top, layout.text.Width(), layout.text.Height());
  }
  if (CKWBaseViewObject* bar = line->GetCell(kKwWaitProgressCell)) {
    bar->SetRect(layout.progress.left, layout.progress.top, layout.progress.Width(),
                 layout.progress.Height());
  }
}

void CKwWaitFreeView::DrawLineFront(QPainter* dc, CKWOneLineForm* line, int, int, int, int) {
  if (!progressMode_ || line == nullptr) return;
  CKWBaseViewObject* bar = line->GetCell(kKwWaitProgressCell);
  if (bar == nullptr || bar->width <= 0) return;
  KwRect track = KwRectXYWH(bar->x, bar->y + bar->height / 2 - 3, bar->width, 6);
  KwFillRound(dc, track, KwRGB(55, 55, 57), 6);
  double span = bar->maximum - bar->minimum;
  double part = span > 0 ? (bar->value - bar->minimum) / span : 0.0;
  int filled = static_cast<int>(track.Width() * part);
  if (filled > 0) {
    KwFillRound(dc, KwRect{track.left, track.top, track.left + filled, track.bottom},
                KwRGB(47, 111, 235), 6);
  }
}
