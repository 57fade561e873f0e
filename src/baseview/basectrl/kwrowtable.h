// The row table of a view: where every row sits vertically, rebuilt from
// the rows' heights, and which rows grouping hides.
//
// Plain data owned by the view; guarded by the view's row lock while the
// view is live.
#pragma once

#include <memory>
#include <vector>

class CKWOneLineForm;

struct KwRowEntry {
  CKWOneLineForm* form = nullptr;  // Not owned.
  int top = 0;                     // Sum of the heights of the rows above.
  int index = 0;
  int height = 0;
};

class KwRowTable {
 public:
  // Rebuilds the entries: forms[i] gets heights[i] (missing heights count
  // as 0, negative ones as 0 too, so a bad height cannot pull later rows up).
  void Rebuild(const std::vector<CKWOneLineForm*>& forms, const std::vector<int>& heights);
  void Clear();

  int Total() const { return total_; }
  int Count() const { return static_cast<int>(entries_.size()); }
  const KwRowEntry& Entry(int i) const { return entries_.at(static_cast<size_t>(i)); }
  const std::vector<KwRowEntry>& Entries() const { return entries_; }

  // The first row with a positive height whose span holds the content
  // coordinate y (top <= y < top + height); -1 for none.  The top pixel
  // line belongs to the row so that no line of a row is dead to clicks.
  int RowAt(int contentY) const;
  // Rows that meet the visible band [scroll, scroll + clientHeight].
  std::vector<int> VisibleRows(int scroll, int clientHeight) const;

 private:
  std::vector<KwRowEntry> entries_;
  int total_ = 0;
};

// Whether grouping shows row `index` of `rows`.  A row tagged 0 is always
// shown.  Otherwise the walk goes back over the earlier rows following the
// row's tag: a row with the followed tag is a sibling; any other row is the
// parent and must be expanded, and the walk then follows the parent's tag.
// Reaching tag 0 ends the walk with the row shown.
bool KwRowShownByGroup(const std::vector<std::unique_ptr<CKWOneLineForm>>& rows, size_t index);
