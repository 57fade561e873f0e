// One row of a view: its cells keyed by cell ID, its grouping tag and
// expanded flag, and its height.
//
// The row owns its cells; the view owns its rows.  A live view's rows are
// read and changed only under the view's line-list lock.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "baseview/basectrl/kwviewobject.h"

// Only this many cells of a row take part in painting and hit-testing.
inline constexpr size_t kKwMaxCellsPerRow = 2048;

class CKWOneLineForm {
 public:
  CKWOneLineForm() = default;
  explicit CKWOneLineForm(int rowHeight) : height(rowHeight) {}
  CKWOneLineForm(const CKWOneLineForm&) = delete;
  CKWOneLineForm& operator=(const CKWOneLineForm&) = delete;

  // Takes ownership of `cell`, filed under cell->id.  When that ID is
  // already taken the new cell is destroyed at once and false is returned;
  // the first cell stays.
  bool AddCell(std::unique_ptr<CKWBaseViewObject> cell);
  // Makes a cell of the given ID and kind and files it; returns the cell
  // that is filed under the ID afterwards (the earlier one when the ID was
  // taken), so the result is never null.
  CKWBaseViewObject* NewCell(int id, int type);

  CKWBaseViewObject* GetCell(int id) const;
  size_t CellCount() const { return cells_.size(); }
  const std::map<int, std::unique_ptr<CKWBaseViewObject>>& Cells() const { return cells_; }
  void ClearCells() { cells_.clear(); }

  // The first 2048 cells in painting order: ascending z order.
  std::vector<CKWBaseViewObject*> PaintOrder() const;
  // The cell at a point, searched from the highest z order down; null when
  // none contains it.  Visibility is not considered here: callers decide
  // what an invisible hit means.
  CKWBaseViewObject* HitTest(int px, int py) const;

  int tag = 0;           // Group tag; 0 means always shown.
  bool expanded = true;  // Shows the rows of the group that follows.
  int height = 32;       // Pixels.

 private:
  std::map<int, std::unique_ptr<CKWBaseViewObject>> cells_;
};
