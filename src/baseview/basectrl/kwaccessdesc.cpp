#include "baseview/basectrl/kwaccessdesc.h"

#include "baseview/basectrl/kwkeynav.h"
#include "baseview/basectrl/kwviewobject.h"

namespace {

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string NameOf(const CKWBaseViewObject& cell, const KwCellFinder& find,
                   const KwTextLookup& text) {
  std::string name;
  for (int id : cell.labelIds) {
    const CKWBaseViewObject* label = find ? find(id) : nullptr;
    if (label == nullptr) continue;
    const std::string part = Trimmed(label->text);
    if (part.empty()) continue;
    if (!name.empty()) name += ' ';
    name += part;
  }
  if (name.empty() && !cell.accNameKey.empty() && text) name = text(cell.accNameKey);
  if (name.empty() && cell.type != kKwCellEdit && cell.type != kKwCellCombo) {
    name = Trimmed(cell.text);
  }
  return name;
}

}  // namespace

bool KwDescribeCell(const CKWBaseViewObject& cell, const KwCellFinder& find,
                    const KwTextLookup& text, int focusId, KwAccItem* out) {
  if (!cell.visible || out == nullptr) return false;
  KwAccItem item;
  item.id = cell.id;
  item.rect = cell.Rect();
  item.disabled = !cell.enabled;
  item.focusable = KwCellTakesFocus(cell);
  item.focused = item.focusable && cell.id == focusId;
  switch (cell.type) {
    case kKwCellText:
      if (Trimmed(cell.text).empty() && cell.labelIds.empty()) return false;
      item.role = cell.link ? KwAccRole::Link : KwAccRole::StaticText;
      item.readOnly = !cell.link;
      break;
    case kKwCellButton:
      item.role = KwAccRole::Button;
      break;
    case kKwCellCheck:
    case kKwCellRadio:
      item.role = cell.type == kKwCellCheck ? KwAccRole::CheckBox : KwAccRole::RadioButton;
      item.checkable = true;
      item.checked = cell.checked;
      break;
    case kKwCellCombo: {
      item.role = KwAccRole::ComboBox;
      // The combo box's own text is the label some pages paint in it; the
      // chosen item is what it holds.
      const CSfDrawComboBox* box =
          cell.HasComboBox() ? const_cast<CKWBaseViewObject&>(cell).ComboBox() : nullptr;
      item.value = box != nullptr ? box->SelectedText() : std::string();
      break;
    }
    case kKwCellEdit:
      item.role = KwAccRole::EditableText;
      item.password = cell.password;
      // A password is never read out.
      item.value = cell.password ? std::string() : cell.text;
      break;
    case kKwCellSlider:
      item.role = KwAccRole::Slider;
      item.hasValue = true;
      item.current = cell.value;
      item.minimum = cell.minimum;
      item.maximum = cell.maximum;
      break;
    default:
      // Pictures say nothing to a reader.
      return false;
  }
  item.name = NameOf(cell, find, text);
  *out = std::move(item);
  return true;
}
