// Keyboard navigation of a drawn view, as pure logic: which cells take the
// keyboard focus, the order Tab walks them in, and what a key does.
//
// Nothing here touches a window, so the order and the key mapping are
// tested without a display; CKWBaseView feeds it its cells and the keys Qt
// delivers, and carries out the answer.
#pragma once

#include <vector>

#include "baseview/kwrect.h"

class CKWBaseViewObject;

// A cell that Tab can reach, with its place on the page.
struct KwFocusItem {
  int id = 0;
  KwRect rect;
};

// Whether a cell takes the keyboard focus: visible and enabled buttons,
// check boxes, radio buttons, sliders, combo boxes, edit boxes, and text
// labels marked as links.  Pictures and plain labels do not.
bool KwCellTakesFocus(const CKWBaseViewObject& cell);

// Reading order: cells whose vertical centres lie within half the lower
// one's height of each other form one line; lines go top to bottom and a
// line left to right.  Returns the cell IDs in that order.
std::vector<int> KwReadingOrder(std::vector<KwFocusItem> items);

// The next (or previous) ID after `current` in `order`, wrapping around.
// With `current` not in the order, forward gives the first and backward the
// last.  An empty order gives 0.
int KwNextFocus(const std::vector<int>& order, int current, bool forward);

// What a key does in a view.
enum class KwKeyAction {
  None,          // Not the view's: let the dialog see it.
  FocusNext,     // Tab
  FocusPrev,     // Shift+Tab (Backtab)
  Activate,      // Space on a button, link, check box or radio button
  PressDefault,  // Enter: the focused button, else the page's main button
  Cancel,        // Escape
  OpenList,      // Space, Alt+Down or F4 on a combo box
  ListPrev,      // Up on a closed combo box
  ListNext,      // Down on a closed combo box
};

// A key press as the window system reports it.  `key` is the toolkit's key
// code (Qt::Key); X11 sends Shift+Tab as Backtab with the Shift modifier and
// the keypad Enter as Enter with the keypad modifier.
struct KwKeyInput {
  int key = 0;
  bool shift = false;
  bool control = false;
  bool alt = false;
  bool autoRepeat = false;
};

// `focusKind` is the cell kind with the keyboard focus (-1 for none);
// `inEditor` tells that a native edit control has the focus (it keeps the
// keys it types with, so only Tab, Enter and Escape reach the view).
KwKeyAction KwMapViewKey(const KwKeyInput& in, int focusKind, bool inEditor);

// What a key does in an open drop-down list.
enum class KwListKeyAction { None, Up, Down, First, Last, Choose, Close };
KwListKeyAction KwMapListKey(const KwKeyInput& in);
// The highlighted row after a move in a list of `count` rows (no wrap);
// with nothing highlighted, Down starts at the first row and Up at the last.
int KwMoveListHighlight(int current, int count, KwListKeyAction action);
