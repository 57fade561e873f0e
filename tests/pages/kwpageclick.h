// Page test helpers that drive real widgets: running the event loop until a
// condition holds, and clicking a cell where the page drew it.
#pragma once

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <functional>
#include <thread>

#include "baseview/basectrl/CKWBaseView.h"
#include "baseview/basectrl/kwviewlocks.h"

namespace kwtest {

// Runs the event loop until `done` holds or `ms` pass.
inline bool WaitFor(const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Clicks the centre of cell `id`; false when it is missing or hidden.
inline bool ClickCell(CKWBaseView* view, int id) {
  // Cells get their rectangles while the row is drawn: the page must have
  // been painted once.
  WaitFor([&] { return view->FirstPaintDone(); }, 2000);
  view->repaint();
  QPoint centre;
  {
    KwViewLockGuard lock(view->LineListMutex());
    CKWBaseViewObject* c = view->FindCell(id);
    if (c == nullptr || !c->visible) return false;
    centre = QPoint(c->x + c->width / 2, c->y + c->height / 2);
  }
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, centre);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  return true;
}

}  // namespace kwtest
