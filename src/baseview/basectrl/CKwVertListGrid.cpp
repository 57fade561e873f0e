#include "baseview/basectrl/CKwVertListGrid.h"

#include <QPainter>

#include "baseutil/ikwlog.h"
#include "baseview/kwdraw.h"

namespace {

constexpr KwColor kBarFrame = KwRGB(56, 56, 56);
constexpr KwColor kBarFill = KwRGB(46, 46, 46);
constexpr KwColor kBarThumb = KwRGB(77, 77, 77);

}  // namespace

CKwVertListGrid::CKwVertListGrid(QWidget* parent) : CKwFreeForm(parent) {}

CKwVertListGrid::~CKwVertListGrid() = default;

void CKwVertListGrid::RebuildRowTable() {
  KwViewLockGuard rowLock(rowMutex_);
  if (!rowLock.owns()) return;
  const int count = GetLineCount();
  std::vector<CKWOneLineForm*> forms;
  std::vector<int> heights;
  forms.reserve(static_cast<size_t>(std::max(0, count)));
  heights.reserve(forms.capacity());
  for (int i = 0; i < count; ++i) {
    forms.push_back(GetLineForm(i));
    heights.push_back(GetLineHeight(i));
  }
  rowTable_.Rebuild(forms, heights);
  scroll_.SetExtent(rowTable_.Total(), ViewHeight());
}

void CKwVertListGrid::ResizedForScroll() {
  scroll_.SetExtent(rowTable_.Total(), ViewHeight());
}

void CKwVertListGrid::ScrollBy(int code, int position) {
  if (scroll_.Apply(code, position)) Repaint();
}

KwRect CKwVertListGrid::ContentRect() const {
  KwRect r = ClientRect();
  if (scroll_.BarVisible()) r.right -= kKwScrollBarWidth;
  return r;
}

int CKwVertListGrid::RowAtPoint(int y) const {
  return rowTable_.RowAt(y + scroll_.Position());
}

int CKwVertListGrid::RowClientTop(int row) const {
  if (row < 0 || row >= rowTable_.Count()) return 0;
  return rowTable_.Entry(row).top - scroll_.Position();
}

void CKwVertListGrid::KwOnChildCommand(int command, int value) {
  CKwFreeForm::KwOnChildCommand(command, value);
}

void CKwVertListGrid::KwOnDraw(QPainter* dc) {
  KwViewLockGuard paintLock(paintMutex_);
  if (!paintLock.owns()) return;
  // The client height may have changed since the last rebuild.
  if (scroll_.ClientHeight() != ViewHeight()) ResizedForScroll();
  KwBeforeDraw();
  const KwRect client = ClientRect();
  const KwRect content = ContentRect();
  if (fillBackground_) KwFillRect(dc, content, background_);
  KwDrawBackground(dc);
  {
    KwViewLockGuard rowLock(rowMutex_);
    if (rowLock.owns()) {
      for (int row : rowTable_.VisibleRows(scroll_.Position(), client.Height())) {
        const KwRowEntry& e = rowTable_.Entry(row);
        DrawLine(dc, row, content.left, e.top - scroll_.Position(), content.right, e.height);
      }
    }
  }
  KwAfterDraw(dc);
  if (scroll_.BarVisible()) DrawScrollBar(dc, client);
}

void CKwVertListGrid::DrawScrollBar(QPainter* dc, const KwRect& client) {
  const KwScrollBarGeometry g = scroll_.Geometry(client);
  KwFillRect(dc, g.bar, kBarFill);
  KwDrawOutline(dc, KwRect{g.bar.left, g.bar.top, g.bar.right - 1, g.bar.bottom - 1}, kBarFrame, 1);
  const int cx = g.bar.left + (g.bar.Width() - 11) / 2;
  KwFillTriangle(dc, KwRect{cx, g.bar.top + 8, cx + 11, g.bar.top + 16}, kBarThumb, kKwUp);
  KwFillTriangle(dc, KwRect{cx, g.bar.bottom - 16, cx + 11, g.bar.bottom - 8}, kBarThumb, kKwDown);
  if (!g.thumb.IsEmpty()) KwFillRect(dc, g.thumb, kBarThumb);
}

void CKwVertListGrid::KwOnLButtonDblClk(int flags, KwPoint point) {
  // The second press of a double click still scrolls and drags, but the
  // cells learn that it repeats the first, so a button is clicked once.
  repeatPress_ = true;
  KwOnLButtonDown(flags, point);
  repeatPress_ = false;
}

void CKwVertListGrid::KwOnLButtonDown(int flags, KwPoint point) {
  leftDown_ = true;
  bool moved = false;
  if (scroll_.PressBar(ClientRect(), point.x, point.y, &moved)) {
    if (moved) Repaint();
    return;
  }
  scroll_.ArmContentDrag(point.y);
  KW_LOG(1, "CKwVertListGrid::KwOnLButtonDown", "x: %d, y:%d, hwnd: %lld", point.x, point.y,
         static_cast<long long>(reinterpret_cast<quintptr>(this)));
  OnPressBefore(flags, point);
  KwViewLockGuard rowLock(rowMutex_);
  if (!rowLock.owns()) return;
  KW_LOG(4, "CKwVertListGrid::KwOnLButtonDown", "x: %d, y:%d count: %d", point.x, point.y,
         rowTable_.Count());
  const int row = RowAtPoint(point.y);
  if (row < 0) return;
  KW_LOG(4, "CKwVertListGrid::KwOnLButtonDown", "x: %d, y:%d", point.x, point.y);
  OnLButtonDownLine(row, point.x, point.y);
}

void CKwVertListGrid::KwOnLButtonUp(int flags, KwPoint point) {
  leftDown_ = false;
  if (scroll_.Release()) return;
  {
    KwViewLockGuard rowLock(rowMutex_);
    if (!rowLock.owns()) return;
    OnLButtonUpLine(RowAtPoint(point.y), point.x, point.y);
  }
  OnLButtonUpAfter(flags, point);
}

void CKwVertListGrid::KwOnRButtonDown(int, KwPoint point) {
  KwViewLockGuard rowLock(rowMutex_);
  if (!rowLock.owns()) return;
  const int row = RowAtPoint(point.y);
  if (row >= 0) OnRButtonDownLine(row, point.x, point.y);
}

void CKwVertListGrid::KwOnRButtonUp(int, KwPoint point) {
  KwViewLockGuard rowLock(rowMutex_);
  if (!rowLock.owns()) return;
  const int row = RowAtPoint(point.y);
  if (row >= 0) OnRButtonUpLine(row, point.x, point.y);
}

void CKwVertListGrid::KwOnMouseMove(int flags, KwPoint point) {
  if (leftDown_ && (flags & kKwMkLButton)) {
    const bool thumbDrag = scroll_.BarPress() == kKwScrollPartThumb;
    if (scroll_.DragTo(ClientRect(), point.y)) Repaint();
    if (thumbDrag) return;
  }
  {
    KwViewLockGuard rowLock(rowMutex_);
    if (rowLock.owns()) hoveredRow_ = RowAtPoint(point.y);
  }
  OnMouseMoveAfter(flags, point);
}

void CKwVertListGrid::KwOnVScroll(int code, int position, QWidget*) {
  ScrollBy(code, position);
}

int CKwVertListGrid::KwOnMouseWheel(int, int delta, KwPoint) {
  if (scroll_.Wheel(delta)) Repaint();
  return 1;
}

void CKwVertListGrid::KwBeforeDraw() {}
void CKwVertListGrid::KwDrawBackground(QPainter*) {}
void CKwVertListGrid::KwAfterDraw(QPainter*) {}
int CKwVertListGrid::GetLineCount() {
  return 0;
}
int CKwVertListGrid::GetLineHeight(int) {
  return 32;
}
CKWOneLineForm* CKwVertListGrid::GetLineForm(int) {
  return nullptr;
}
void CKwVertListGrid::DrawLine(QPainter*, int, int, int, int, int) {}
void CKwVertListGrid::OnLButtonDownLine(int, int, int) {}
void CKwVertListGrid::OnLButtonUpLine(int, int, int) {}
void CKwVertListGrid::OnRButtonDownLine(int, int, int) {}
void CKwVertListGrid::OnRButtonUpLine(int, int, int) {}
void CKwVertListGrid::KwGridReservedHook1() {}
void CKwVertListGrid::KwGridReservedHook2() {}
void CKwVertListGrid::KwGridReservedHook3() {}
void CKwVertListGrid::OnLineElementPressed(int, KwFreeElement*) {}
void CKwVertListGrid::OnMouseMoveAfter(int, KwPoint) {}
void CKwVertListGrid::OnLButtonUpAfter(int, KwPoint) {}
void CKwVertListGrid::OnPressBefore(int, KwPoint) {}
