#include "baseview/basectrl/kwrowtable.h"

#include <algorithm>

#include "baseview/basectrl/kwonelineform.h"

void KwRowTable::Rebuild(const std::vector<CKWOneLineForm*>& forms,
                         const std::vector<int>& heights) {
  entries_.clear();
  entries_.reserve(forms.size());
  int top = 0;
  for (size_t i = 0; i < forms.size(); ++i) {
    const int h = i < heights.size() ? std::max(0, heights[i]) : 0;
    entries_.push_back(KwRowEntry{forms[i], top, static_cast<int>(i), h});
    top += h;
  }
  total_ = top;
}

void KwRowTable::Clear() {
  entries_.clear();
  total_ = 0;
}

int KwRowTable::RowAt(int contentY) const {
  for (const KwRowEntry& e : entries_) {
    if (e.height > 0 && e.top <= contentY && contentY < e.top + e.height) return e.index;
  }
  return -1;
}

std::vector<int> KwRowTable::VisibleRows(int scroll, int clientHeight) const {
  std::vector<int> out;
  for (const KwRowEntry& e : entries_) {
    if (e.height <= 0) continue;
    const int top = e.top - scroll;
    if (top + e.height >= 0 && top <= clientHeight) out.push_back(e.index);
  }
  return out;
}

bool KwRowShownByGroup(const std::vector<std::unique_ptr<CKWOneLineForm>>& rows, size_t index) {
  if (index >= rows.size()) return false;
  int follow = rows[index]->tag;
  for (size_t j = index; j-- > 0 && follow != 0;) {
    const CKWOneLineForm& earlier = *rows[j];
    if (earlier.tag == follow) continue;
    if (!earlier.expanded) return false;
    follow = earlier.tag;
  }
  return true;
}
