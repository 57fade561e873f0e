#include "baseview/kwframelogic.h"

#include <algorithm>

KwCaptionLayout KwComputeCaptionLayout(int w, bool drawIcon) {
  KwCaptionLayout layout;
  layout.band = {0, 0, w, kKwCaptionBand};
  // Buttons sit at the band's top plus half of (48 - 24), minus 2.
  const int top = 0 + (48 - 24) / 2 - 2;
  layout.buttons[kKwBtnClose] = {w - 42, top, w - 14, top + 28};
  layout.buttons[kKwBtnMax] = {w - 90, top, w - 62, top + 28};
  layout.buttons[kKwBtnMin] = {w - 138, top, w - 110, top + 28};
  layout.images[kKwBtnClose] = {w - 40, 12};
  layout.images[kKwBtnMax] = {w - 88, 12};
  layout.images[kKwBtnMin] = {w - 136, 12};
  layout.title = {drawIcon ? 64 : 16, 0, w, 48};
  layout.icon = {16, 16, 32, 32};
  return layout;
}

KwFrameStrips KwComputeFrameStrips(int w, int h) {
  const int b = kKwCaptionBand;
  return {KwRect{0, 0, w, kKwCyFrame}, KwRect{0, b, kKwCxFrame + 8, h},
          KwRect{w - kKwCxFrame - 8, b, w, h}, KwRect{0, h - kKwCyFrame - 8, w, h}};
}

int KwHitEdge(int x, int y, int w, int h) {
  if (x <= 5 && y >= 7 && y < h - 6) return kKwDragLeft;
  if (x > w - 6 && y >= 7 && y < h - 6) return kKwDragRight;
  if (x > 6 && x < w - 6) {
    if (y <= 5) return kKwDragTop;
    if (y > h - 6) return kKwDragBottom;
  }
  return kKwDragNone;
}

void KwFrameLogic::Reset() {
  windowState_ = 1;
  state_[0] = state_[1] = state_[2] = kKwButtonNormal;
  dragMode_ = kKwDragNone;
}

bool KwFrameLogic::ButtonActive(int button) const {
  // Minimise and maximise are neither drawn nor pressable without size
  // buttons; an invisible button must not minimise the window.
  return button == kKwBtnClose || hasSizeButtons;
}

bool KwFrameLogic::ButtonAt(int x, int y, int w, int h) const {
  if (!drawCaption || KwHitEdge(x, y, w, h) != kKwDragNone) return false;
  const KwCaptionLayout layout = KwComputeCaptionLayout(w, true);
  for (int button : {kKwBtnClose, kKwBtnMax, kKwBtnMin}) {
    if (ButtonActive(button) && layout.buttons[button].Contains(x, y)) return true;
  }
  return false;
}

int KwFrameLogic::HoverCursor(int x, int y, int w, int h) const {
  if (!drawCaption || !hasSizeButtons) return kKwCursorArrow;
  int edge = KwHitEdge(x, y, w, h);
  if (edge == kKwDragLeft || edge == kKwDragRight) return kKwCursorSizeWE;
  if (edge == kKwDragTop || edge == kKwDragBottom) return kKwCursorSizeNS;
  return kKwCursorArrow;
}

KwFrameActions KwFrameLogic::Press(int x, int y, int w, int h, KwPoint cursor,
                                   const KwRect& window) {
  KwFrameActions act;
  dragMode_ = kKwDragNone;
  if (!drawCaption) return act;
  int edge = KwHitEdge(x, y, w, h);
  if (edge != kKwDragNone) {
    dragMode_ = edge;
    act.cursor = (edge == kKwDragLeft || edge == kKwDragRight) ? kKwCursorSizeWE : kKwCursorSizeNS;
    startCursor_ = cursor;
    startWindow_ = window;
    return act;
  }
  KwCaptionLayout layout = KwComputeCaptionLayout(w, true);
  if (layout.buttons[kKwBtnClose].Contains(x, y)) {
    state_[kKwBtnClose] = kKwButtonPressed;
    act.commands.push_back(kKwCmdClose);
    act.repaintButtons = true;
  } else if (ButtonActive(kKwBtnMax) && layout.buttons[kKwBtnMax].Contains(x, y)) {
    state_[kKwBtnMax] = kKwButtonPressed;
    act.repaintButtons = true;
  } else if (ButtonActive(kKwBtnMin) && layout.buttons[kKwBtnMin].Contains(x, y)) {
    state_[kKwBtnMin] = kKwButtonPressed;
    act.commands.push_back(kKwCmdMinimize);
    act.repaintButtons = true;
  } else {
    for (int& s : state_) s = kKwButtonNormal;
    dragMode_ = kKwDragMove;
    startCursor_ = cursor;
    startWindow_ = window;
  }
  return act;
}

bool KwFrameLogic::DragRect(KwPoint cursor, bool release, KwRect* out) const {
  const KwRect& s = startWindow_;
  int dx = cursor.x - startCursor_.x;
  int dy = cursor.y - startCursor_.y;
  switch (dragMode_) {
    case kKwDragMove:
      *out = s.Offset(dx, dy);
      return true;
    case kKwDragTop:
    case kKwDragBottom: {
      if (!hasSizeButtons) return false;
      int height = dragMode_ == kKwDragTop ? s.Height() - dy : s.Height() + dy;
      if (height < minHeight) return false;
      *out = s;
      if (dragMode_ == kKwDragTop) {
        out->top = s.bottom - height;
      } else {
        out->bottom = s.top + height;
      }
      return true;
    }
    case kKwDragLeft:
    case kKwDragRight: {
      if (!hasSizeButtons) return false;
      int width = dragMode_ == kKwDragLeft ? s.Width() - dx : s.Width() + dx;
      if (width < minWidth) {
        // While dragging the edge stops; on release the width is raised to
        // the minimum so the last position below it still lands there.
        if (!release) return false;
        width = minWidth;
      }
      *out = s;
      if (dragMode_ == kKwDragLeft) {
        out->left = s.right - width;
      } else {
        out->right = s.left + width;
      }
      return true;
    }
    default:
      return false;
  }
}

KwFrameActions KwFrameLogic::Move(int x, int y, int w, KwPoint cursor) {
  KwFrameActions act;
  if (dragMode_ != kKwDragNone) {
    KwRect rect;
    if (DragRect(cursor, false, &rect)) {
      act.moveWindow = true;
      act.windowRect = rect;
      act.repaintAll = dragMode_ != kKwDragMove;
    }
    return act;
  }
  if (!drawCaption) return act;
  KwCaptionLayout layout = KwComputeCaptionLayout(w, true);
  for (int b : {kKwBtnClose, kKwBtnMax, kKwBtnMin}) {
    if (ButtonActive(b) && layout.buttons[b].Contains(x, y)) {
      // Over a button it shows hover, also when it was pressed: moving off
      // and back onto a pressed button cancels its release action.
      if (state_[b] != kKwButtonHover) {
        state_[b] = kKwButtonHover;
        act.repaintButtons = true;
      }
      return act;
    }
  }
  for (int& s : state_) {
    if (s != kKwButtonNormal) {
      s = kKwButtonNormal;
      act.repaintButtons = true;
    }
  }
  return act;
}

KwFrameActions KwFrameLogic::Release(KwPoint cursor) {
  KwFrameActions act;
  act.cursor = kKwCursorArrow;
  if (state_[kKwBtnClose] == kKwButtonPressed) {
    state_[kKwBtnClose] = kKwButtonNormal;
    act.repaintButtons = true;
  } else if (state_[kKwBtnMax] == kKwButtonPressed) {
    state_[kKwBtnMax] = kKwButtonNormal;
    act.repaintButtons = true;
    if (hasSizeButtons) {
      act.maximize = windowState_ == 1 ? 1 : 2;
      windowState_ = windowState_ == 1 ? 2 : 1;
      act.repaintAll = true;
    }
  } else if (state_[kKwBtnMin] == kKwButtonPressed) {
    state_[kKwBtnMin] = kKwButtonNormal;
    act.commands.push_back(kKwCmdMinimize);
    act.repaintButtons = true;
  } else if (dragMode_ != kKwDragNone) {
    KwRect rect;
    if (DragRect(cursor, true, &rect)) {
      act.moveWindow = true;
      act.windowRect = rect;
      act.repaintAll = dragMode_ != kKwDragMove;
    }
  }
  dragMode_ = kKwDragNone;
  return act;
}
