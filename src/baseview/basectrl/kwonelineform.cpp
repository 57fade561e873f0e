#include "baseview/basectrl/kwonelineform.h"

#include <algorithm>

bool CKWOneLineForm::AddCell(std::unique_ptr<CKWBaseViewObject> cell) {
  if (!cell) return false;
  const int key = cell->id;
  return cells_.emplace(key, std::move(cell)).second;
}

CKWBaseViewObject* CKWOneLineForm::NewCell(int id, int type) {
  AddCell(std::make_unique<CKWBaseViewObject>(id, type));
  return cells_.at(id).get();
}

CKWBaseViewObject* CKWOneLineForm::GetCell(int id) const {
  auto it = cells_.find(id);
  return it == cells_.end() ? nullptr : it->second.get();
}

std::vector<CKWBaseViewObject*> CKWOneLineForm::PaintOrder() const {
  std::vector<CKWBaseViewObject*> out;
  out.reserve(std::min(cells_.size(), kKwMaxCellsPerRow));
  for (const auto& kv : cells_) {
    if (out.size() >= kKwMaxCellsPerRow) break;
    out.push_back(kv.second.get());
  }
  // Stable so equal z orders keep ID order, which keeps repaints steady.
  std::stable_sort(
      out.begin(), out.end(),
      [](const CKWBaseViewObject* a, const CKWBaseViewObject* b) { return a->zOrder < b->zOrder; });
  return out;
}

CKWBaseViewObject* CKWOneLineForm::HitTest(int px, int py) const {
  const std::vector<CKWBaseViewObject*> order = PaintOrder();
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    if ((*it)->Contains(px, py)) return *it;
  }
  return nullptr;
}
