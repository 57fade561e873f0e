#include "baseview/basectrl/kwkeynav.h"

#include <QtCore/qnamespace.h>

#include <algorithm>

#include "baseview/basectrl/kwviewobject.h"

bool KwCellTakesFocus(const CKWBaseViewObject& cell) {
  if (!cell.Clickable()) return false;
  switch (cell.type) {
    case kKwCellButton:
    case kKwCellEdit:
    case kKwCellCheck:
    case kKwCellSlider:
    case kKwCellRadio:
    case kKwCellCombo:
      return true;
    case kKwCellText:
      return cell.link;
    default:
      return false;
  }
}

std::vector<int> KwReadingOrder(std::vector<KwFocusItem> items) {
  // Top first; among cells of one line, left first.  Lines are grouped
  // before sorting inside them, so a slightly lower cell on the left of a
  // line still comes before its neighbour on the right.
  std::stable_sort(items.begin(), items.end(), [](const KwFocusItem& a, const KwFocusItem& b) {
    return a.rect.top + a.rect.bottom < b.rect.top + b.rect.bottom;
  });
  std::vector<int> order;
  size_t start = 0;
  while (start < items.size()) {
    size_t end = start + 1;
    const KwRect& first = items[start].rect;
    const int centre2 = first.top + first.bottom;
    while (end < items.size()) {
      const KwRect& r = items[end].rect;
      const int lower = std::min(std::max(first.Height(), 1), std::max(r.Height(), 1));
      // Centres doubled, so half the height is the height itself.
      if ((r.top + r.bottom) - centre2 > lower) break;
      ++end;
    }
    std::stable_sort(
        items.begin() + static_cast<long>(start), items.begin() + static_cast<long>(end),
        [](const KwFocusItem& a, const KwFocusItem& b) { return a.rect.left < b.rect.left; });
    for (size_t i = start; i < end; ++i) order.push_back(items[i].id);
    start = end;
  }
  return order;
}

int KwNextFocus(const std::vector<int>& order, int current, bool forward) {
  if (order.empty()) return 0;
  const auto it = std::find(order.begin(), order.end(), current);
  if (it == order.end()) return forward ? order.front() : order.back();
  const long n = static_cast<long>(order.size());
  long i = it - order.begin();
  i = forward ? (i + 1) % n : (i + n - 1) % n;
  return order[static_cast<size_t>(i)];
}

KwKeyAction KwMapViewKey(const KwKeyInput& in, int focusKind, bool inEditor) {
  // Control and Alt with Tab belong to the window system or the editor.
  if (in.key == Qt::Key_Backtab && !in.control && !in.alt) return KwKeyAction::FocusPrev;
  if (in.key == Qt::Key_Tab && !in.control && !in.alt) {
    return in.shift ? KwKeyAction::FocusPrev : KwKeyAction::FocusNext;
  }
  if (in.control) return KwKeyAction::None;
  if (in.key == Qt::Key_Escape) return KwKeyAction::Cancel;
  if (in.key == Qt::Key_Return || in.key == Qt::Key_Enter) {
    // A held Enter presses once.
    return in.autoRepeat ? KwKeyAction::None : KwKeyAction::PressDefault;
  }
  if (inEditor) return KwKeyAction::None;
  switch (focusKind) {
    case kKwCellCombo:
      if ((in.key == Qt::Key_Down && in.alt) || in.key == Qt::Key_F4 ||
          (in.key == Qt::Key_Space && !in.autoRepeat)) {
        return KwKeyAction::OpenList;
      }
      if (in.alt) return KwKeyAction::None;
      if (in.key == Qt::Key_Up) return KwKeyAction::ListPrev;
      if (in.key == Qt::Key_Down) return KwKeyAction::ListNext;
      return KwKeyAction::None;
    case kKwCellButton:
    case kKwCellCheck:
    case kKwCellRadio:
    case kKwCellText:
      if (in.key == Qt::Key_Space && !in.alt && !in.autoRepeat) return KwKeyAction::Activate;
      return KwKeyAction::None;
    default:
      return KwKeyAction::None;
  }
}

KwListKeyAction KwMapListKey(const KwKeyInput& in) {
  if (in.control) return KwListKeyAction::None;
  switch (in.key) {
    case Qt::Key_Up:
      // Alt+Up closes a list that Alt+Down opened, choosing what is lit.
      return in.alt ? KwListKeyAction::Choose : KwListKeyAction::Up;
    case Qt::Key_Down:
      return in.alt ? KwListKeyAction::Choose : KwListKeyAction::Down;
    case Qt::Key_Home:
    case Qt::Key_PageUp:
      return KwListKeyAction::First;
    case Qt::Key_End:
    case Qt::Key_PageDown:
      return KwListKeyAction::Last;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      return in.autoRepeat ? KwListKeyAction::None : KwListKeyAction::Choose;
    case Qt::Key_Escape:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return KwListKeyAction::Close;
    default:
      return KwListKeyAction::None;
  }
}

int KwMoveListHighlight(int current, int count, KwListKeyAction action) {
  if (count <= 0) return -1;
  const bool none = current < 0 || current >= count;
  switch (action) {
    case KwListKeyAction::Up:
      return none ? count - 1 : std::max(current - 1, 0);
    case KwListKeyAction::Down:
      return none ? 0 : std::min(current + 1, count - 1);
    case KwListKeyAction::First:
      return 0;
    case KwListKeyAction::Last:
      return count - 1;
    default:
      return none ? -1 : current;
  }
}
