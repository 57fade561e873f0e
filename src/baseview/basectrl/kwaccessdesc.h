// What a screen reader is told about the cells of a drawn view, as pure
// data: one item per cell a user can act on or read, with its role, its
// name in the current language, its state and its value.
//
// The view describes its cells with KwDescribeCell (pages add what they
// draw without a cell, such as a progress bar); the accessibility layer
// (kwviewaccessible) hands the items to the platform.  No window is needed,
// so roles, names and states are tested without a display.
#pragma once

#include <functional>
#include <string>

#include "baseview/kwrect.h"

class CKWBaseViewObject;

enum class KwAccRole {
  StaticText,
  Link,
  Button,
  CheckBox,
  RadioButton,
  ComboBox,
  EditableText,
  Slider,
  ProgressBar,
};

struct KwAccItem {
  int id = 0;   // cell ID, or a page's own number for drawn parts
  int row = 0;  // row of the cell (IDs repeat across rows in lists)
  KwAccRole role = KwAccRole::StaticText;
  std::string name;   // UTF-8, in the current language
  std::string value;  // edit text, chosen list item, or the progress text
  bool focusable = false;
  bool focused = false;
  bool checkable = false;
  bool checked = false;
  bool disabled = false;
  bool readOnly = false;
  bool password = false;
  bool hasValue = false;  // numeric value below is meaningful
  double current = 0;
  double minimum = 0;
  double maximum = 0;
  KwRect rect;  // view coordinates
};

// Looks a cell up by ID (labels of another cell); null when there is none.
using KwCellFinder = std::function<const CKWBaseViewObject*(int id)>;
// The text of a language key in the current language.
using KwTextLookup = std::function<std::string(const std::string& key)>;

// Describes a visible cell.  Returns false for cells a reader has no use
// for: invisible cells, pictures, and labels without text.  The name comes
// from the cell's labels (joined by a blank), else its name key, else its
// own text; `focusId` is the cell with the keyboard focus.
bool KwDescribeCell(const CKWBaseViewObject& cell, const KwCellFinder& find,
                    const KwTextLookup& text, int focusId, KwAccItem* out);
