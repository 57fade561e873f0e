#include "baseview/basectrl/kwcombobox.h"

#include <cstdio>

int CSfDrawComboBox::AddItem(const std::string& text) {
  const int index = ItemCount();
  items_.push_back(CSfComboCell{std::to_string(index), text});
  return index;
}

bool CSfDrawComboBox::Select(int index) {
  if (index < 0 || index >= ItemCount()) return false;
  selectedKey_ = std::to_string(index);
  if (onChange_) onChange_(3, this);
  return true;
}

int CSfDrawComboBox::SelectedIndex() const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].key == selectedKey_) return static_cast<int>(i);
  }
  return -1;
}

std::string CSfDrawComboBox::SelectedText() const {
  const int i = SelectedIndex();
  return i < 0 ? std::string() : items_[static_cast<size_t>(i)].text;
}

void CSfDrawComboBox::Clear() {
  items_.clear();
  selectedKey_.clear();
}
