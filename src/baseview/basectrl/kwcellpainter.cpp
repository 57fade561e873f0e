#include "baseview/basectrl/kwcellpainter.h"

#include <QPainter>
#include <algorithm>
#include <memory>

#include "baseview/basectrl/kwviewobject.h"
#include "baseview/kwdraw.h"
#include "images/kwembedded.h"
#include "images/kwimageutil.h"
#include "images/kwstockimages.h"

namespace {

constexpr KwColor kTick = KwRGB(35, 65, 166);
constexpr KwColor kBoxFill = KwRGB(240, 240, 242);
constexpr KwColor kBoxFrame = KwRGB(150, 150, 156);
constexpr KwColor kTrack = KwRGB(77, 77, 77);
constexpr KwColor kTrackDone = KwRGB(68, 122, 250);
constexpr KwColor kComboFill = KwRGB(55, 55, 57);
constexpr KwColor kComboText = KwRGB(202, 205, 210);
constexpr KwColor kComboSeparator = KwRGB(229, 230, 235);

KwColor TextColor(const CKWBaseViewObject& c) {
  return c.enabled ? c.textColor : kKwDisabledTextColor;
}

// Moves each channel a quarter of the way to white.
KwColor Lighter(KwColor c) {
  auto up = [](int v) { return v + (255 - v) / 4; };
  return KwRGB(up(KwRed(c)), up(KwGreen(c)), up(KwBlue(c)));
}

void Background(QPainter* dc, const CKWBaseViewObject& c, KwColor color) {
  if (c.drawBackground) KwFillRound(dc, c.Rect(), color, std::max(0, c.cornerRadius) * 2);
}

void Text(QPainter* dc, const CKWBaseViewObject& c, const KwRect& r, int align) {
  if (c.text.empty()) return;
  if (c.wordWrap) {
    KwDrawTextBlock(dc, r, TextColor(c), c.text.c_str(), c.EffectiveFontSize(), align);
  } else {
    KwDrawTextLine(dc, r, TextColor(c), c.text.c_str(), c.EffectiveFontSize(), align);
  }
}

void DrawImage(QPainter* dc, CKwImageUtil* image, const KwRect& r) {
  if (image != nullptr) image->Draw(dc, r.left, r.top, r.Width(), r.Height());
}

void PaintLabel(QPainter* dc, const CKWBaseViewObject& c) {
  Background(dc, c, c.bkColor);
  Text(dc, c, c.Rect(), c.textAlign);
}

void PaintButton(QPainter* dc, const CKWBaseViewObject& c) {
  if (c.style >= 101 && c.style <= 104) {
    DrawImage(dc, KwCellStockImage(kKwStockButton101 + (c.style - 101)), c.Rect());
  } else {
    Background(dc, c, c.pressed ? Lighter(c.bkColor) : c.bkColor);
  }
  if (!c.text.empty()) {
    KwDrawTextLine(dc, c.Rect(), TextColor(c), c.text.c_str(), c.EffectiveFontSize(),
                   kKwAlignCenter);
  }
}

void PaintPicture(QPainter* dc, const CKWBaseViewObject& c) {
  CKwImageUtil* image = c.image;
  if (image == nullptr || (!image->HasPicture() && !image->HasIcon())) return;
  if (c.textAlign == 0 || image->Width() <= 0 || image->Height() <= 0) {
    DrawImage(dc, image, c.Rect());
    return;
  }
  // Fit inside the cell, centred, keeping the picture's proportions.
  const double sx = static_cast<double>(c.width) / image->Width();
  const double sy = static_cast<double>(c.height) / image->Height();
  const double s = std::min(sx, sy);
  const int w = std::max(1, static_cast<int>(image->Width() * s));
  const int h = std::max(1, static_cast<int>(image->Height() * s));
  image->Draw(dc, c.x + (c.width - w) / 2, c.y + (c.height - h) / 2, w, h);
}

void PaintEdit(QPainter* dc, const CKWBaseViewObject& c) {
  if (c.drawBackground) KwFillRect(dc, c.Rect(), c.bkColor);
  if (c.borderWidth > 0) {
    const KwColor frame =
        KwRGB(KwRed(c.bkColor), (KwGreen(c.bkColor) + 44) % 256, KwBlue(c.bkColor));
    KwDrawOutline(dc, KwRect{c.x, c.y, c.x + c.width - 1, c.y + c.height - 1}, frame,
                  c.borderWidth);
  }
}

// Box of a check box or radio button; the text follows 8 pixels right.
KwRect BoxRect(const CKWBaseViewObject& c) {
  const int side = KwCheckBoxSide(c.style);
  return KwRectXYWH(c.x, c.y + (c.height - side) / 2, side, side);
}

void BoxText(QPainter* dc, const CKWBaseViewObject& c, const KwRect& box) {
  const KwRect r{box.right + 8, c.y, c.x + c.width, c.y + c.height};
  Text(dc, c, r, kKwAlignLeft);
}

void PaintCheck(QPainter* dc, const CKWBaseViewObject& c) {
  Background(dc, c, c.bkColor);
  KwRect box = BoxRect(c);
  if (c.style == 0) {
    // The style-0 pictures are wide switches (160 x 96): keep their shape at
    // the box height instead of squeezing them into a square.
    CKwImageUtil* image = KwCellStockImage(c.checked ? kKwStockCheckOn : kKwStockCheckOff);
    if (image != nullptr && image->Height() > 0) {
      box.right = box.left + box.Height() * image->Width() / image->Height();
    }
    DrawImage(dc, image, box);
  } else if (c.style == 100) {
    DrawImage(dc, KwCellStockImage(c.checked ? kKwStockCheck100On : kKwStockCheck100Off), box);
  } else {
    KwFillRect(dc, box, kBoxFill);
    KwDrawOutline(dc, KwRect{box.left, box.top, box.right - 1, box.bottom - 1}, kBoxFrame,
                  std::max(1, c.borderWidth));
    if (c.checked) {
      // Two strokes of a tick: down to the lower third, then up to the
      // top right corner.
      const int s = box.Width();
      const int x0 = box.left + s / 5, y0 = box.top + s / 2;
      const int x1 = box.left + (2 * s) / 5, y1 = box.bottom - s / 4;
      const int x2 = box.right - s / 6, y2 = box.top + s / 5;
      KwDrawLine(dc, x0, y0, x1, y1, kTick, 2);
      KwDrawLine(dc, x1, y1, x2, y2, kTick, 2);
    }
  }
  BoxText(dc, c, box);
}

void PaintRadio(QPainter* dc, const CKWBaseViewObject& c) {
  Background(dc, c, c.bkColor);
  const KwRect box = BoxRect(c);
  DrawImage(dc, KwCellStockImage(c.checked ? kKwStockRadioOn : kKwStockRadioOff), box);
  BoxText(dc, c, box);
}

void PaintSlider(QPainter* dc, const CKWBaseViewObject& c) {
  Background(dc, c, c.bkColor);
  const int cy = c.y + c.height / 2;
  const int cx = c.SliderThumbCenterX();
  const int half = kKwSliderThumb / 2;
  const KwRect track{c.x + half, cy - 2, c.x + c.width - half, cy + 2};
  KwFillRound(dc, track, kTrack, 4);
  KwFillRound(dc, KwRect{track.left, track.top, cx, track.bottom}, c.enabled ? kTrackDone : kTrack,
              4);
  const KwRect thumb{cx - half, cy - half, cx + half, cy + half};
  CKwImageUtil* stock = c.style == 100 ? nullptr : KwCellStockImage(kKwStockSliderThumb);
  if (stock != nullptr && stock->HasPicture()) {
    DrawImage(dc, stock, thumb);
  } else {
    KwFillRound(dc, thumb, KwRGB(230, 230, 230), kKwSliderThumb);
  }
}

CKwImageUtil* ComboArrow() {
  static std::unique_ptr<CKwImageUtil> arrow;
  static bool tried = false;
  if (!tried) {
    tried = true;
    const KwEmbeddedImage* bytes = KwComboArrowImage();
    if (bytes != nullptr) {
      auto image = std::make_unique<CKwImageUtil>();
      if (image->Decode(bytes->bytes, bytes->count) == 0) arrow = std::move(image);
    }
  }
  return arrow.get();
}

void PaintCombo(QPainter* dc, CKWBaseViewObject& c) {
  const KwRect r = c.Rect();
  KwFillRound(dc, r, kComboFill, 6);
  const std::string text = c.ComboBox()->SelectedText();
  if (!text.empty()) {
    KwDrawTextLine(dc, KwRect{r.left + 8, r.top, r.right - 30, r.bottom},
                   c.enabled ? kComboText : kKwDisabledTextColor, text.c_str(), 12, kKwAlignLeft);
  }
  if (CKwImageUtil* arrow = ComboArrow()) {
    arrow->Draw(dc, r.right - 24, r.top + (r.Height() - 16) / 2, 16, 16);
  } else {
    KwFillTriangle(dc, KwRectXYWH(r.right - 21, r.top + (r.Height() - 6) / 2, 10, 6), kComboText,
                   kKwDown);
  }
  KwDrawLine(dc, r.right - 30, r.top + 2, r.right - 30, r.bottom - 4, kComboSeparator, 1);
}

}  // namespace

int KwCheckBoxSide(int style) {
  if (style == 1) return 16;
  if (style == 3) return 9;
  return 12;
}

void KwPaintCell(QPainter* dc, CKWBaseViewObject& c) {
  if (!c.visible || dc == nullptr) return;
  switch (c.type) {
    case kKwCellText:
      PaintLabel(dc, c);
      break;
    case kKwCellButton:
      PaintButton(dc, c);
      break;
    case kKwCellImage:
      PaintPicture(dc, c);
      break;
    case kKwCellEdit:
      PaintEdit(dc, c);
      break;
    case kKwCellCheck:
      PaintCheck(dc, c);
      break;
    case kKwCellSlider:
      PaintSlider(dc, c);
      break;
    case kKwCellRadio:
      PaintRadio(dc, c);
      break;
    case kKwCellCombo:
      PaintCombo(dc, c);
      break;
    default:
      break;
  }
}
