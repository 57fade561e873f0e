// The drop-down list of a combo-box cell: IKWMShowPopMenu, a small
// frameless window below the cell, holding CIKWBasePopup, a list view with
// one 36-pixel row per item.
//
// A press on a row chooses the item: the popup hands the item's command to
// its choice callback, closes, and tells its notify window (the command,
// then 90001).  Losing the focus, or a press outside, closes it without a
// choice (the callback gets -1).  The popup deletes itself when it closes;
// callers keep at most a QPointer to it.  User-interface thread only.
#pragma once

#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "baseview/basectrl/ikwbasewnd.h"
#include "baseview/ikwbasedlg.h"

inline constexpr int kKwPopupRowHeight = 36;
inline constexpr int kKwPopupMaxRows = 8;
inline constexpr int kKwPopupListId = 3214;
inline constexpr int kKwPopupItemCell = 123;
inline constexpr size_t kKwPopupItemTextMax = 80;

struct KwPopupItem {
  int command = 0;   // What choosing the item reports (the item's index for combo boxes).
  std::string text;  // Up to 80 bytes are kept.
};

class IKWMShowPopMenu;

class CIKWBasePopup : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit CIKWBasePopup(IKWMShowPopMenu* menu);

  void SetItems(const std::vector<KwPopupItem>& items) { items_ = items; }
  const std::vector<KwPopupItem>& Items() const { return items_; }

  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void KwAfterDraw(QPainter* dc) override;
  // Rows keep their 36 pixels when the list is resized.
  void KwOnSize(int width, int height) override;
  void OnLButtonDownLine(int row, int x, int y) override;
  void OnMouseMoveAfter(int flags, KwPoint point) override;
  void KwOnMouseLeave() override;
  void KwOnKillFocus(QWidget* newWindow) override;
  void KwOnSetFocus() override;
  // The lit row: the pointer's, or the one the arrow keys moved to.
  int Highlight() const { return hover_; }
  void SetHighlight(int row);

 protected:
  // Up, Down, Home and End move the lit row; Enter or Space chooses it;
  // Escape and Tab close the list without a choice.
  void keyPressEvent(QKeyEvent* e) override;

 private:
  IKWMShowPopMenu* menu_;  // The window that owns this list.
  std::vector<KwPopupItem> items_;
  int hover_ = -1;
};

class IKWMShowPopMenu : public CIKWBaseDlg {
  Q_OBJECT

 public:
  using ChoiceCallback = std::function<void(int command)>;

  explicit IKWMShowPopMenu(QWidget* parent = nullptr);
  ~IKWMShowPopMenu() override;

  void SetItems(const std::vector<KwPopupItem>& items);
  // The row lit when the list opens (the current choice); -1 for none.
  void SetCurrent(int row) { current_ = row; }
  void SetChoiceCallback(ChoiceCallback cb) { choice_ = std::move(cb); }
  // Receives the chosen command and then 90001.
  void SetNotifyWindow(QObject* window) { notify_ = window; }

  // Shows the list with its top-left corner at a screen point, `width`
  // wide and min(items, 8) rows high.
  void Popup(int screenX, int screenY, int width);
  CIKWBasePopup* List() const { return list_; }

  // A row was pressed.
  void Choose(int command);
  // Closes without a choice.
  void Dismiss();

 protected:
  void IKW_OnInitDialog() override;
  void IKW_OnSize(int width, int height) override;
  void IKW_OnCommand(int command) override;
  void IKW_OnSetFocus(QWidget* oldWindow) override;
  void hideEvent(QHideEvent* e) override;

 private:
  void Finish(int command);

  CIKWBasePopup* list_ = nullptr;  // Qt child of this window.
  std::vector<KwPopupItem> items_;
  ChoiceCallback choice_;
  QPointer<QObject> notify_;
  bool finished_ = false;
  int current_ = -1;
};

// Height of a popup of `count` items.
inline int KwPopupHeight(int count) {
  return (count < kKwPopupMaxRows ? (count < 0 ? 0 : count) : kKwPopupMaxRows) * kKwPopupRowHeight;
}
