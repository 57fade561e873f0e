// Shared pieces of the installer pages' forms: placing a cell at a layout
// rectangle, and the language list that the version page and the guided
// first page both offer.
#pragma once

#include "baseview/kwrect.h"

class CIKWBaseWnd;
class CKWBaseViewObject;
class CKWOneLineForm;

// Gives cell `id` of `line` the rectangle `r` (nothing when it is missing).
void KwPlaceCell(CKWOneLineForm* line, int id, const KwRect& r);

// The language list: items "english" and "chinese" in the display language,
// the current code page selected.  A choice switches the display language,
// retitles the owner dialog (9103) and repaints the page.  One per page,
// used on the user-interface thread.
class KwPageLanguageList {
 public:
  // Makes the combo-box cell `cell` of `page` the language list and fills it.
  void Attach(CIKWBaseWnd* page, CKWBaseViewObject* cell);
  // Refills cell `id` of `line` when the display language changed since the
  // last fill (pages call it while painting).
  void Refresh(CKWOneLineForm* line, int id);

 private:
  void Fill(CKWBaseViewObject* cell);

  // The refill selects an item; the list's change callback must not take
  // that for a choice.
  bool refilling_ = false;
  int shown_ = -1;
};
