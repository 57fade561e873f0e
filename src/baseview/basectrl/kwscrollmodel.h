// Vertical scrolling of a view: the scroll position, the drawn scroll bar's
// geometry, presses on the bar and dragging the content with the pointer.
//
// Pure arithmetic owned by the view (CKwVertListGrid); every method that
// may move the position returns true only when the position changed, which
// is when the view repaints.
#pragma once

#include "baseview/kwrect.h"

// Width of the drawn scroll bar at the right of the client area.
inline constexpr int kKwScrollBarWidth = 24;
// Height of each arrow area and the distance a line step moves.
inline constexpr int kKwScrollArrow = 24;
inline constexpr int kKwScrollLine = 24;
inline constexpr int kKwMinThumb = 12;
// Vertical pointer travel before a press turns into a content drag.
inline constexpr int kKwDragThreshold = 8;

// Codes of scroll requests, as the platform's scroll-bar codes.
enum KwScrollCode : int {
  kKwScrollLineUp = 0,
  kKwScrollLineDown = 1,
  kKwScrollPageUp = 2,
  kKwScrollPageDown = 3,
  kKwScrollThumbPosition = 4,
  kKwScrollThumbTrack = 5,
  kKwScrollTop = 6,
  kKwScrollBottom = 7,
};

// What a press on the scroll bar hit.
enum KwScrollPart : int {
  kKwScrollPartNone = 0,
  kKwScrollPartUp = 1,
  kKwScrollPartDown = 2,
  kKwScrollPartThumb = 3,
  kKwScrollPartPageUp = 4,
  kKwScrollPartPageDown = 5,
};

struct KwScrollBarGeometry {
  KwRect bar;       // The whole 24-pixel bar.
  KwRect up;        // Top arrow area.
  KwRect down;      // Bottom arrow area.
  KwRect thumb;     // Inset 6 pixels from both sides.
  KwRect pageUp;    // Between the up arrow and the thumb.
  KwRect pageDown;  // Between the thumb and the down arrow.
  int track = 0;    // Bar height less both arrows.
  int thumbLength = 0;
  int thumbRange = 0;  // track - thumbLength, never negative.
};

// Thumb length for a track of `track` pixels and a maximum position of
// `maximum`: never shorter than 12.
int KwThumbLength(int track, int maximum);

class KwScrollModel {
 public:
  // After the row table changed: total content height and client height.
  // The position is kept where it was, but never beyond the new maximum.
  void SetExtent(int totalHeight, int clientHeight);

  int Position() const { return position_; }
  int Maximum() const { return maximum_; }
  bool BarVisible() const { return visible_; }
  int ClientHeight() const { return clientHeight_; }

  // Scroll request by code; `trackPos` is used by codes 4 and 5.
  bool Apply(int code, int trackPos = 0);
  // Moves to `pos` (clamped).
  bool ScrollTo(int pos);
  // One third of the client height per wheel message: down for a negative
  // delta, up otherwise.
  bool Wheel(int delta);

  // Geometry of the bar drawn at the right of a client area `client`.
  KwScrollBarGeometry Geometry(const KwRect& client) const;
  // Which part of the bar lies under a point (None off the bar).
  KwScrollPart HitBar(const KwRect& client, int x, int y) const;

  // Left press at (x, y).  Returns true when the bar took the press (the
  // view must not treat it as a press on its rows); `*changed` tells
  // whether the position moved.
  bool PressBar(const KwRect& client, int x, int y, bool* changed);
  // Arms the content drag at a press that the bar did not take.
  void ArmContentDrag(int y);
  // Pointer moved to y with the button held: thumb drag or content drag.
  bool DragTo(const KwRect& client, int y);
  // Left release: ends the content drag; returns true when a bar press was
  // active (the release then belongs to the bar, not to the rows).
  bool Release();

  int BarPress() const { return barPress_; }
  int ContentDragState() const { return dragState_; }

 private:
  bool Set(int pos);

  int position_ = 0;
  int maximum_ = 0;
  bool visible_ = false;
  int clientHeight_ = 0;
  int barPress_ = kKwScrollPartNone;
  int thumbStartY_ = 0;
  int thumbStartPos_ = 0;
  int dragState_ = 0;  // 0 none, 1 armed, 2 dragging.
  int dragStartY_ = 0;
  int dragStartPos_ = 0;
};
