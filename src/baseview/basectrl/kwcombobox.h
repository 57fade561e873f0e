// The item list and selection of a combo-box cell.
//
// Items are keyed by the decimal text of their index, and the selection is
// kept as such a key, because pages read the choice back as text.  The
// drawing of the field and the popup list live in the Qt layer; this class
// is plain data owned by its cell.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct CSfComboCell {
  std::string key;   // Decimal text of the item's index.
  std::string text;  // Shown text.
};

class CSfDrawComboBox {
 public:
  // Called after every selection with the code 3 and the combo box.
  using ChangeCallback = std::function<void(int code, CSfDrawComboBox* box)>;

  // Appends an item whose key is the current item count; returns its index.
  int AddItem(const std::string& text);
  // Selects the item at `index`; out-of-range indices are ignored and
  // return false, so a stale choice from a popup cannot select nothing.
  bool Select(int index);
  // The selected key, empty when nothing was selected.
  const std::string& Selection() const { return selectedKey_; }
  // The index of the selected item, or -1.
  int SelectedIndex() const;
  // Text of the item whose key equals the selected key; empty when none.
  std::string SelectedText() const;

  int ItemCount() const { return static_cast<int>(items_.size()); }
  const CSfComboCell& Item(int index) const { return items_.at(static_cast<size_t>(index)); }
  void Clear();

  void SetChangeCallback(ChangeCallback cb) { onChange_ = std::move(cb); }

 private:
  std::vector<CSfComboCell> items_;
  std::string selectedKey_;
  ChangeCallback onChange_;
};
