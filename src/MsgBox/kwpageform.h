// Shared pieces of the installer pages' forms: placing a cell at a layout
// rectangle, the folder chooser behind the browse buttons with the edit cell
// it fills, and the language list that the version page and the guided
// first page both offer.  User-interface thread only.
#pragma once

#include <functional>
#include <string>

#include "baseview/kwrect.h"

class CIKWBaseWnd;
class CKWBaseView;
class CKWBaseViewObject;
class CKWOneLineForm;
class QWidget;

// Gives cell `id` of `line` the rectangle `r` (nothing when it is missing).
void KwPlaceCell(CKWOneLineForm* line, int id, const KwRect& r);

// The pages' folder chooser: `hook` when set (tests replace the dialog), else
// the system's folder dialog titled "请选择目录" opening at `start`.  Returns
// the chosen folder, or an empty text when cancelled.
using KwFolderChooser = std::function<std::string(QWidget* parent, const std::string& start)>;
std::string KwChooseFolder(QWidget* parent, const std::string& start, const KwFolderChooser& hook);

// Puts `text` into edit cell `id` of `view` and into its native control.
void KwSetEditCellText(CKWBaseView* view, int id, const std::string& text);

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
