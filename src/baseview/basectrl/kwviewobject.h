// One drawn cell of a view row: a label, button, picture, edit box, check
// box, slider, radio button or combo box, identified by its cell ID.
//
// Pages set the public fields directly (while holding the view's line-list
// lock when the view is live).  A cell belongs to its row
// (CKWOneLineForm); destroying the cell destroys its edit control and its
// combo box.  The picture is not owned: it belongs to the stock image tables
// or to the page that set it, which must keep it alive as long as the cell.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "baseview/basectrl/kwcombobox.h"
#include "baseview/kwrect.h"

class CKwImageUtil;

// Cell kinds.  Kinds 6 and 9 belong to drawn text entry, not used here.
enum KwCellKind : int {
  kKwCellText = 0,
  kKwCellButton = 1,
  kKwCellImage = 2,
  kKwCellEdit = 3,
  kKwCellCheck = 4,
  kKwCellSlider = 5,
  kKwCellRadio = 7,
  kKwCellCombo = 8,
};

// Colours every cell starts with.
inline constexpr KwColor kKwCellBackground = KwRGB(51, 50, 56);
inline constexpr KwColor kKwCellTextColor = KwRGB(230, 230, 230);
inline constexpr KwColor kKwDisabledTextColor = KwRGB(102, 102, 102);

// The side of a slider thumb; presses within half of it around the thumb
// centre start a drag.
inline constexpr int kKwSliderThumb = 12;
// Longest placeholder an edit cell keeps.
inline constexpr size_t kKwPlaceholderMax = 78;

// The native control laid over an edit cell.  The Qt layer implements it;
// the cell owns it so the control goes away with the cell.  Methods are
// called on the user-interface thread only.
class IKwCellEditor {
 public:
  virtual ~IKwCellEditor() = default;
  virtual std::string Text() const = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual void SetGeometry(const KwRect& r) = 0;
  virtual KwRect Geometry() const = 0;
  virtual void SetVisible(bool visible) = 0;
};

class CKWBaseViewObject {
 public:
  CKWBaseViewObject() = default;
  CKWBaseViewObject(int cellId, int cellType) : type(cellType), id(cellId) {}
  ~CKWBaseViewObject();
  CKWBaseViewObject(const CKWBaseViewObject&) = delete;
  CKWBaseViewObject& operator=(const CKWBaseViewObject&) = delete;

  int type = kKwCellText;
  // Kind-specific look: 101..104 pick a stock button face, 100 the
  // alternate check box and slider; 1 and 3 change the check box size.
  int style = 0;
  int id = 0;
  int zOrder = 0;
  int x = 0;
  int y = 0;
  int width = 10;
  int height = 10;
  std::string text;   // UTF-8.
  int fontSize = -1;  // Below 1 means the kind's default.
  int textAlign = 0;  // 0 left, 1 centre, 2 right; for pictures non-zero keeps the aspect.
  bool wordWrap = false;
  bool drawBackground = true;
  int cornerRadius = 4;
  int borderWidth = 1;
  KwColor bkColor = kKwCellBackground;
  KwColor textColor = kKwCellTextColor;
  bool visible = true;
  bool enabled = true;
  bool checked = false;
  bool pressed = false;   // Set during row layout while the left button is held on it.
  bool password = false;  // Edit cells: show "*" for every character.
  // A text label that acts when clicked: it takes the keyboard focus and is
  // read as a link.
  bool link = false;
  // Cells whose texts name this one for a screen reader (the label beside
  // an edit box, the agreement text beside its check box), in reading order.
  std::vector<int> labelIds;
  // Language key of the name when no label names the cell (a language list
  // without a label beside it); empty means the cell's own text.
  std::string accNameKey;
  CKwImageUtil* image = nullptr;  // Not owned.
  double value = 0;
  double minimum = -100;
  double maximum = 100;

  KwRect Rect() const { return KwRectXYWH(x, y, width, height); }
  void SetRect(int nx, int ny, int nw, int nh) {
    x = nx;
    y = ny;
    width = nw;
    height = nh;
  }
  // Hit test on the inclusive pixel ranges [x, x + width - 1] and
  // [y, y + height - 1].
  bool Contains(int px, int py) const {
    return px >= x && px <= x + width - 1 && py >= y && py <= y + height - 1;
  }
  bool Clickable() const { return visible && enabled; }

  const std::string& placeholder() const { return placeholder_; }
  // Keeps at most 78 bytes, cut at a UTF-8 character boundary.
  void SetPlaceholder(const std::string& cue);

  // Font size the painter and the edit control use: the cell's own, else
  // 12 (edit boxes: 16 for style 1, 9 for style 3).
  int EffectiveFontSize() const;

  // Slider: the thumb centre for the current value, and the value for a
  // pointer x (clamped to the range).
  int SliderThumbCenterX() const;
  bool SliderThumbHit(int px, int py) const;
  double SliderValueAt(int px) const;

  // Combo box of a kind-8 cell, made on first use.
  CSfDrawComboBox* ComboBox();
  bool HasComboBox() const { return combo_ != nullptr; }

  // The native edit control of a kind-3 cell, if created.
  IKwCellEditor* Editor() const { return editor_.get(); }
  void SetEditor(std::unique_ptr<IKwCellEditor> editor);
  // Copies the edit control's text into `text` (no-op without a control).
  void PullEditorText();

 private:
  std::string placeholder_;
  std::unique_ptr<CSfDrawComboBox> combo_;
  std::unique_ptr<IKwCellEditor> editor_;
};

// Where the native edit control of an edit cell goes: inset by half the
// font size on both sides and one font size high, vertically centred; a
// word-wrap cell uses the whole cell rectangle.
KwRect KwEditControlRect(const CKWBaseViewObject& cell);
