// The two fixed tables of stock pictures used by the drawn cells and the
// message boxes, and the drop-down arrow of combo boxes.
//
// An entry's image object is made and decoded on first request, on the
// user-interface thread, and kept until KwReleaseStockImages at the end of
// the application.  The tables own their images; callers only borrow them.
#pragma once

#include <cstdint>

class CKwImageUtil;
struct KwEmbeddedImage;

// First table, held by the shared image-icon object: 0 the picture beside
// the save-as box's input field, 2 the icon of message boxes of kinds 1 and
// 2; 1, 3, 4 and 5 are kept for other windows of the product family.
class CIKWImageIcon {
 public:
  static constexpr int kCount = 6;
  // Created on first use; start-up creates it when missing.
  static CIKWImageIcon* Instance();
  // nullptr for an index outside 0..5 or a picture that does not decode.
  CKwImageUtil* GetImage(int index);

 private:
  CIKWImageIcon() = default;
  CKwImageUtil* images_[kCount] = {};
  friend void KwReleaseStockImages();
};

// Second table, used by the cell painter.
enum KwCellStock : int {
  kKwStockCheckOn = 0,    // Check box style 0, checked.
  kKwStockCheckOff = 1,   // Check box style 0, not checked.
  kKwStockRadioOn = 2,    // Radio button, checked.
  kKwStockRadioOff = 3,   // Radio button, not checked.
  kKwStockButton101 = 4,  // Button faces of styles 101 to 104.
  kKwStockButton102 = 5,
  kKwStockButton103 = 6,
  kKwStockButton104 = 7,
  kKwStockSliderThumb = 8,   // Slider thumb.
  kKwStockCheck100On = 9,    // Check box style 100, checked.
  kKwStockCheck100Off = 10,  // Check box style 100, not checked.
  kKwCellStockCount = 11
};

// nullptr for an index outside 0..10.
CKwImageUtil* KwCellStockImage(int index);

// The drop-down arrow's bytes, decoded by each combo box into its own image
// object on first use.  nullptr when the executable carries no arrow.
const KwEmbeddedImage* KwComboArrowImage();

// Destroys every stock image of both tables (end of the application).
void KwReleaseStockImages();
