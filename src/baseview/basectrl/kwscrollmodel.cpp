#include "baseview/basectrl/kwscrollmodel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

int KwThumbLength(int track, int maximum) {
  if (maximum <= 0) return std::max(kKwMinThumb, track);
  if (maximum < track) return std::max(kKwMinThumb, maximum - kKwScrollArrow);
  return std::max(kKwMinThumb, static_cast<int>(static_cast<int64_t>(track) * track / maximum));
}

void KwScrollModel::SetExtent(int totalHeight, int clientHeight) {
  clientHeight_ = std::max(0, clientHeight);
  if (totalHeight > clientHeight_) {
    maximum_ = totalHeight - clientHeight_;
    visible_ = true;
  } else {
    maximum_ = 0;
    visible_ = false;
  }
  position_ = std::clamp(position_, 0, maximum_);
}

bool KwScrollModel::Set(int pos) {
  pos = std::clamp(pos, 0, maximum_);
  if (pos == position_) return false;
  position_ = pos;
  return true;
}

bool KwScrollModel::ScrollTo(int pos) {
  return Set(pos);
}

bool KwScrollModel::Apply(int code, int trackPos) {
  const int page = clientHeight_ - 48;
  switch (code) {
    case kKwScrollLineUp:
      return Set(position_ - kKwScrollLine);
    case kKwScrollLineDown:
      return Set(position_ + kKwScrollLine);
    case kKwScrollPageUp:
      return Set(position_ - page);
    case kKwScrollPageDown:
      return Set(position_ + page);
    case kKwScrollThumbPosition:
    case kKwScrollThumbTrack:
      return Set(trackPos);
    case kKwScrollTop:
      return Set(0);
    case kKwScrollBottom:
      return Set(maximum_);
    default:
      return false;
  }
}

bool KwScrollModel::Wheel(int delta) {
  const int step = clientHeight_ / 3;
  return Set(delta < 0 ? position_ + step : position_ - step);
}

KwScrollBarGeometry KwScrollModel::Geometry(const KwRect& client) const {
  KwScrollBarGeometry g;
  const KwRect r{client.right - kKwScrollBarWidth, client.top, client.right, client.bottom};
  g.bar = r;
  g.up = {r.left, r.top, r.right, r.top + kKwScrollArrow};
  g.down = {r.left, r.bottom - kKwScrollArrow, r.right, r.bottom};
  g.track = std::max(0, r.Height() - 2 * kKwScrollArrow);
  g.thumbLength = std::min(KwThumbLength(g.track, maximum_), std::max(g.track, 0));
  g.thumbRange = std::max(0, g.track - g.thumbLength);
  int offset = 0;
  if (maximum_ > 0) {
    offset = static_cast<int>(static_cast<int64_t>(position_) * g.thumbRange / maximum_);
  }
  const int thumbTop = r.top + kKwScrollArrow + offset;
  g.thumb = {r.left + 6, thumbTop, r.right - 6, thumbTop + g.thumbLength};
  g.pageUp = {r.left, r.top + kKwScrollArrow, r.right, thumbTop};
  g.pageDown = {r.left, thumbTop + g.thumbLength, r.right, r.bottom - kKwScrollArrow};
  return g;
}

KwScrollPart KwScrollModel::HitBar(const KwRect& client, int x, int y) const {
  if (!visible_) return kKwScrollPartNone;
  const KwScrollBarGeometry g = Geometry(client);
  if (!g.bar.Contains(x, y)) return kKwScrollPartNone;
  if (g.up.Contains(x, y)) return kKwScrollPartUp;
  if (g.down.Contains(x, y)) return kKwScrollPartDown;
  // The thumb takes the full bar width for hit-testing; its inset is only
  // how it looks.
  if (y >= g.thumb.top && y < g.thumb.bottom) return kKwScrollPartThumb;
  if (g.pageUp.Contains(x, y)) return kKwScrollPartPageUp;
  if (g.pageDown.Contains(x, y)) return kKwScrollPartPageDown;
  return kKwScrollPartNone;
}

bool KwScrollModel::PressBar(const KwRect& client, int x, int y, bool* changed) {
  bool moved = false;
  const KwScrollPart part = HitBar(client, x, y);
  barPress_ = part;
  switch (part) {
    case kKwScrollPartUp:
      moved = Apply(kKwScrollLineUp);
      break;
    case kKwScrollPartDown:
      moved = Apply(kKwScrollLineDown);
      break;
    case kKwScrollPartPageUp:
      moved = Apply(kKwScrollPageUp);
      break;
    case kKwScrollPartPageDown:
      moved = Apply(kKwScrollPageDown);
      break;
    case kKwScrollPartThumb:
      thumbStartY_ = y;
      thumbStartPos_ = position_;
      break;
    default:
      break;
  }
  if (changed) *changed = moved;
  return part != kKwScrollPartNone;
}

void KwScrollModel::ArmContentDrag(int y) {
  dragState_ = 1;
  dragStartY_ = y;
  dragStartPos_ = position_;
}

bool KwScrollModel::DragTo(const KwRect& client, int y) {
  if (barPress_ == kKwScrollPartThumb) {
    const KwScrollBarGeometry g = Geometry(client);
    if (g.thumbRange <= 0) return false;
    const int64_t delta = static_cast<int64_t>(y - thumbStartY_) * maximum_ / g.thumbRange;
    return Set(static_cast<int>(std::clamp<int64_t>(thumbStartPos_ + delta, 0, maximum_)));
  }
  if (dragState_ == 1 && std::abs(y - dragStartY_) > kKwDragThreshold) dragState_ = 2;
  if (dragState_ == 2) return Set(dragStartPos_ + dragStartY_ - y);
  return false;
}

bool KwScrollModel::Release() {
  dragState_ = 0;
  const bool wasBar = barPress_ != kKwScrollPartNone;
  barPress_ = kKwScrollPartNone;
  return wasBar;
}
