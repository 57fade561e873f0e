// Keyboard navigation as pure logic: which cells Tab reaches, the reading
// order on real page layouts, wrapping, and what each key does, fed with
// the key events an X11 server delivers.
#include <gtest/gtest.h>

#include <QtCore/qnamespace.h>

#include "baseview/basectrl/kwkeynav.h"
#include "baseview/basectrl/kwviewobject.h"

namespace {

KwFocusItem At(int id, int x, int y, int w, int h) {
  return KwFocusItem{id, KwRectXYWH(x, y, w, h)};
}

KwKeyInput Key(int key, bool shift = false, bool alt = false, bool control = false) {
  KwKeyInput in;
  in.key = key;
  in.shift = shift;
  in.alt = alt;
  in.control = control;
  return in;
}

TEST(KeyNav, OnlyLiveControlsAndLinksTakeTheFocus) {
  for (int kind :
       {kKwCellButton, kKwCellEdit, kKwCellCheck, kKwCellSlider, kKwCellRadio, kKwCellCombo}) {
    CKWBaseViewObject cell(1, kind);
    EXPECT_TRUE(KwCellTakesFocus(cell)) << kind;
    cell.enabled = false;
    EXPECT_FALSE(KwCellTakesFocus(cell)) << kind;
    cell.enabled = true;
    cell.visible = false;
    EXPECT_FALSE(KwCellTakesFocus(cell)) << kind;
  }
  CKWBaseViewObject label(2, kKwCellText);
  CKWBaseViewObject picture(3, kKwCellImage);
  EXPECT_FALSE(KwCellTakesFocus(label));
  EXPECT_FALSE(KwCellTakesFocus(picture));
  label.link = true;
  EXPECT_TRUE(KwCellTakesFocus(label));
}

TEST(KeyNav, ReadingOrderOfTheInstallPage) {
  // The install page at 1188 x 646: the folder row (box 24 high, a button
  // beside it), then the agreement row, whose cells are given out of order
  // and with a check box one pixel lower than the link beside it.
  const std::vector<KwFocusItem> cells = {
      At(102, 988, 544, 100, 24), At(103, 872, 544, 100, 24), At(113, 230, 543, 170, 24),
      At(104, 100, 545, 24, 24),  At(109, 988, 478, 100, 24), At(108, 240, 478, 732, 24),
  };
  EXPECT_EQ(KwReadingOrder(cells), (std::vector<int>{108, 109, 104, 113, 103, 102}));
}

TEST(KeyNav, ReadingOrderKeepsSeparateLinesApart) {
  // The version page: the language list alone at the top right comes before
  // the lower rows even though it is far to the right; a 35-pixel list and
  // the 24-pixel link below it are different lines.
  const std::vector<KwFocusItem> cells = {At(7, 294, 490, 200, 24), At(5, 494, 430, 200, 35),
                                          At(912, 1072, 32, 100, 24), At(6, 794, 430, 100, 35)};
  EXPECT_EQ(KwReadingOrder(cells), (std::vector<int>{912, 5, 6, 7}));
  EXPECT_TRUE(KwReadingOrder({}).empty());
}

TEST(KeyNav, NextAndPreviousWrapAround) {
  const std::vector<int> order = {108, 109, 104};
  EXPECT_EQ(KwNextFocus(order, 0, true), 108);  // nothing yet: the first
  EXPECT_EQ(KwNextFocus(order, 0, false), 104);
  EXPECT_EQ(KwNextFocus(order, 108, true), 109);
  EXPECT_EQ(KwNextFocus(order, 104, true), 108);
  EXPECT_EQ(KwNextFocus(order, 108, false), 104);
  EXPECT_EQ(KwNextFocus(order, 555, true), 108);  // a cell that went away
  EXPECT_EQ(KwNextFocus({}, 108, true), 0);
}

TEST(KeyNav, TabKeysAsX11DeliversThem) {
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Tab), -1, false), KwKeyAction::FocusNext);
  // X11 sends Shift+Tab as Backtab with Shift held.
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Backtab, true), -1, false), KwKeyAction::FocusPrev);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Tab, true), -1, false), KwKeyAction::FocusPrev);
  // Tab leaves a native edit control too.
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Tab), kKwCellEdit, true), KwKeyAction::FocusNext);
  // Ctrl+Tab and Alt+Tab are not the page's.
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Tab, false, false, true), -1, false), KwKeyAction::None);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Tab, false, true), -1, false), KwKeyAction::None);
  // The modifier keys alone do nothing.
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Shift), kKwCellButton, false), KwKeyAction::None);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Alt), kKwCellCombo, false), KwKeyAction::None);
}

TEST(KeyNav, SpaceEnterAndEscapeByFocusedKind) {
  const KwKeyInput space = Key(Qt::Key_Space);
  EXPECT_EQ(KwMapViewKey(space, kKwCellButton, false), KwKeyAction::Activate);
  EXPECT_EQ(KwMapViewKey(space, kKwCellCheck, false), KwKeyAction::Activate);
  EXPECT_EQ(KwMapViewKey(space, kKwCellText, false), KwKeyAction::Activate);  // a link
  EXPECT_EQ(KwMapViewKey(space, kKwCellCombo, false), KwKeyAction::OpenList);
  EXPECT_EQ(KwMapViewKey(space, -1, false), KwKeyAction::None);
  // In an edit control Space is typed, not pressed.
  EXPECT_EQ(KwMapViewKey(space, kKwCellEdit, true), KwKeyAction::None);
  KwKeyInput held = space;
  held.autoRepeat = true;
  EXPECT_EQ(KwMapViewKey(held, kKwCellButton, false), KwKeyAction::None);

  // Enter (main keyboard and keypad) and Escape whatever has the focus,
  // also from an edit control.
  for (int kind : {-1, static_cast<int>(kKwCellButton), static_cast<int>(kKwCellCombo),
                   static_cast<int>(kKwCellEdit)}) {
    EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Return), kind, kind == kKwCellEdit),
              KwKeyAction::PressDefault);
    EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Enter), kind, false), KwKeyAction::PressDefault);
    EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Escape), kind, kind == kKwCellEdit), KwKeyAction::Cancel);
  }
}

TEST(KeyNav, LanguageListKeys) {
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Down, false, true), kKwCellCombo, false),
            KwKeyAction::OpenList);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_F4), kKwCellCombo, false), KwKeyAction::OpenList);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Down), kKwCellCombo, false), KwKeyAction::ListNext);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Up), kKwCellCombo, false), KwKeyAction::ListPrev);
  EXPECT_EQ(KwMapViewKey(Key(Qt::Key_Down), kKwCellButton, false), KwKeyAction::None);

  // Inside the open list.
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Down)), KwListKeyAction::Down);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Up)), KwListKeyAction::Up);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Return)), KwListKeyAction::Choose);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Enter)), KwListKeyAction::Choose);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Up, false, true)), KwListKeyAction::Choose);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Escape)), KwListKeyAction::Close);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Backtab, true)), KwListKeyAction::Close);
  EXPECT_EQ(KwMapListKey(Key(Qt::Key_Alt)), KwListKeyAction::None);

  // The lit row stays inside the list; with none lit, Down starts at the
  // top and Up at the bottom.
  EXPECT_EQ(KwMoveListHighlight(-1, 2, KwListKeyAction::Down), 0);
  EXPECT_EQ(KwMoveListHighlight(-1, 2, KwListKeyAction::Up), 1);
  EXPECT_EQ(KwMoveListHighlight(1, 2, KwListKeyAction::Down), 1);
  EXPECT_EQ(KwMoveListHighlight(0, 2, KwListKeyAction::Up), 0);
  EXPECT_EQ(KwMoveListHighlight(0, 5, KwListKeyAction::Last), 4);
  EXPECT_EQ(KwMoveListHighlight(3, 5, KwListKeyAction::First), 0);
  EXPECT_EQ(KwMoveListHighlight(0, 0, KwListKeyAction::Down), -1);
}

}  // namespace
