#include "baseview/basectrl/kwviewobject.h"

#include <algorithm>

CKWBaseViewObject::~CKWBaseViewObject() = default;

void CKWBaseViewObject::SetPlaceholder(const std::string& cue) {
  if (cue.size() <= kKwPlaceholderMax) {
    placeholder_ = cue;
    return;
  }
  size_t cut = kKwPlaceholderMax;
  // Step back over UTF-8 continuation bytes so no character is split.
  while (cut > 0 && (static_cast<unsigned char>(cue[cut]) & 0xC0) == 0x80) --cut;
  placeholder_ = cue.substr(0, cut);
}

int CKWBaseViewObject::EffectiveFontSize() const {
  if (fontSize >= 1) return fontSize;
  // Edit boxes of styles 1 and 3 are the large and the small variant.
  if (type == kKwCellEdit && style == 1) return 16;
  if (type == kKwCellEdit && style == 3) return 9;
  return 12;
}

int CKWBaseViewObject::SliderThumbCenterX() const {
  const double span = maximum - minimum;
  double frac = span > 0 ? (value - minimum) / span : 0.0;
  frac = std::clamp(frac, 0.0, 1.0);
  const int track = std::max(0, width - kKwSliderThumb);
  return x + kKwSliderThumb / 2 + static_cast<int>(frac * track + 0.5);
}

bool CKWBaseViewObject::SliderThumbHit(int px, int py) const {
  const int cx = SliderThumbCenterX();
  const int cy = y + height / 2;
  const int half = kKwSliderThumb / 2;
  return px >= cx - half && px < cx + half && py >= cy - half && py < cy + half;
}

double CKWBaseViewObject::SliderValueAt(int px) const {
  const int track = std::max(1, width - kKwSliderThumb);
  double frac = static_cast<double>(px - x - kKwSliderThumb / 2) / track;
  frac = std::clamp(frac, 0.0, 1.0);
  return minimum + frac * (maximum - minimum);
}

CSfDrawComboBox* CKWBaseViewObject::ComboBox() {
  if (!combo_) combo_ = std::make_unique<CSfDrawComboBox>();
  return combo_.get();
}

void CKWBaseViewObject::SetEditor(std::unique_ptr<IKwCellEditor> editor) {
  editor_ = std::move(editor);
}

void CKWBaseViewObject::PullEditorText() {
  if (editor_) text = editor_->Text();
}

KwRect KwEditControlRect(const CKWBaseViewObject& cell) {
  if (cell.wordWrap) return cell.Rect();
  const int s = cell.EffectiveFontSize();
  const int top = cell.y + (cell.height - s) / 2;
  return KwRect{cell.x + s / 2, top, cell.x + cell.width - s / 2, top + s};
}
