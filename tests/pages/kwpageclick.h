// Page test helpers that drive real widgets: running the event loop until a
// condition holds, reading and clicking a cell where the page drew it,
// choosing from a combo box's list, and saving a picture of a window.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QPointer>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "app/common/ikwbasepopup.h"
#include "app/common/ikwshowdialog.h"
#include "baseview/basectrl/CKWBaseView.h"
#include "baseview/basectrl/kwviewlocks.h"
#include "baseview/kwcommand.h"

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
    // Where the cell is drawn: a page on a small screen is drawn to scale.
    centre = view->ToWidgetRect(c->Rect()).center();
  }
  QTest::mouseClick(view, Qt::LeftButton, Qt::NoModifier, centre);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  return true;
}

// A copy of a cell's state, read under the view's line-list lock.
struct CellState {
  bool found = false;
  bool visible = false;
  bool checked = false;
  std::string text;
  QPoint centre;  // in widget pixels, where the cell is drawn
  int height = 0;
};

inline CellState ReadCell(CKWBaseView* view, int id) {
  CellState s;
  KwViewLockGuard lock(view->LineListMutex());
  if (!lock.owns()) return s;
  if (CKWBaseViewObject* c = view->FindCell(id)) {
    s.found = true;
    s.visible = c->visible;
    s.checked = c->checked;
    s.text = c->text;
    s.height = view->ToWidgetRect(c->Rect()).height();
    s.centre = view->ToWidgetRect(c->Rect()).center();
  }
  return s;
}

// Picks item `index` of a combo-box cell's popup list with real clicks.
inline bool ChooseFromCombo(CKWBaseView* view, int cellId, int index) {
  if (!ClickCell(view, cellId)) return false;
  IKWMShowPopMenu* menu = nullptr;
  WaitFor(
      [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
          auto* m = qobject_cast<IKWMShowPopMenu*>(w);
          if (m != nullptr && m->isVisible()) menu = m;
        }
        return menu != nullptr;
      },
      2000);
  if (menu == nullptr) return false;
  CIKWBasePopup* list = menu->findChild<CIKWBasePopup*>();
  if (list == nullptr) return false;
  list->repaint();
  // The popup deletes itself once it has closed.
  QPointer<IKWMShowPopMenu> alive(menu);
  QTest::mouseClick(list, Qt::LeftButton, Qt::NoModifier, QPoint(40, 36 * index + 18));
  return WaitFor([&] { return alive == nullptr || !alive->isVisible(); }, 2000);
}

// Answers the skinned question box on top, if one shows: `yes` presses its
// confirming button, else its cancel button.  Returns whether a box was
// there; `text` (may be null) gets its message.
inline bool AnswerQuestion(bool yes, std::string* text = nullptr) {
  auto* box = qobject_cast<CIKWShowDialog*>(QApplication::activeModalWidget());
  if (box == nullptr || box->Content() == nullptr || !box->isVisible()) return false;
  if (text != nullptr) *text = box->Content()->Message();
  KwPostCommand(box, yes ? kKwCmdBoxOk : kKwCmdBoxCancel);
  return true;
}

// Saves a picture of `w` as NAME.png into $KW_PAGE_SHOTS, when that is set.
inline void SaveShot(QWidget* w, const char* name) {
  const char* dir = std::getenv("KW_PAGE_SHOTS");
  if (dir == nullptr || *dir == '\0') return;
  std::filesystem::create_directories(dir);
  w->grab().save(QString::fromStdString(std::string(dir) + "/" + name + ".png"));
}

}  // namespace kwtest
