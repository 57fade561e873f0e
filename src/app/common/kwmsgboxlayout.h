// Where the cells of the five message-box contents go.
//
// Pure arithmetic so that the layouts can be checked without a display; the
// text width comes from a measuring function that the Qt layer supplies
// (the toolkit font) and tests replace.  All divisions truncate.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "baseview/kwrect.h"

// Width in pixels of `text` at character height `size`.
using KwMeasureTextFn = std::function<int(const std::string& text, int size)>;

struct KwMsgBoxLayout {
  std::map<int, KwRect> cells;  // Cell ID to rectangle in view coordinates.
  bool messageWrapped = false;  // The message did not fit on one line.
};

// Kinds 1 and 2: icon and message centred as a group when the message fits
// on one line, else at the left and wrapped; OK (kind 1) or the two buttons
// (kind 2) centred in the lower half.
KwMsgBoxLayout KwLayoutMessageBox12(int kind, int W, int H, const std::string& message,
                                    const std::string& firstButton, const std::string& secondButton,
                                    const KwMeasureTextFn& measure);
// Kind 3: the save-as box.
KwMsgBoxLayout KwLayoutMessageBox3(int W, int H);
// Kinds 4 and 5: prompt, input field (multi-line for 5) and two buttons.
KwMsgBoxLayout KwLayoutMessageBox45(int kind, int W, const std::string& message,
                                    const KwMeasureTextFn& measure);
