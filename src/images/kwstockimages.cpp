#include "images/kwstockimages.h"

#include <mutex>

#include "images/kwembedded.h"
#include "images/kwimageutil.h"

namespace {

const char* const kIconNames[CIKWImageIcon::kCount] = {"icon0_folder.png",  "icon1_gear.png",
                                                       "icon2_message.png", "icon3_emblem.png",
                                                       "icon4_ok.png",      "icon5_download.png"};

const char* const kCellNames[kKwCellStockCount] = {
    "check_on.png",     "check_off.png",  "radio_on.png",   "radio_off.png",
    "button101.png",    "button102.png",  "button103.png",  "button104.png",
    "slider_thumb.png", "check14_on.png", "check14_off.png"};

CKwImageUtil* g_cellImages[kKwCellStockCount] = {};
CIKWImageIcon* g_iconTable = nullptr;
// Painters run on the user-interface thread, but a worker may ask for an
// icon while a message is prepared; the tables are guarded all the same.
std::mutex g_mutex;

// Decodes the embedded picture into `slot` on first request.
CKwImageUtil* Load(CKwImageUtil** slot, const char* name) {
  if (*slot == nullptr) {
    const KwEmbeddedImage* data = KwFindEmbeddedImage(name);
    if (data == nullptr) return nullptr;
    auto* image = new CKwImageUtil();
    if (image->Decode(data->bytes, data->count) != 0) {
      delete image;
      return nullptr;
    }
    *slot = image;
  }
  return *slot;
}

}  // namespace

CIKWImageIcon* CIKWImageIcon::Instance() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_iconTable == nullptr) g_iconTable = new CIKWImageIcon();
  return g_iconTable;
}

CKwImageUtil* CIKWImageIcon::GetImage(int index) {
  if (index < 0 || index >= kCount) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  return Load(&images_[index], kIconNames[index]);
}

CKwImageUtil* KwCellStockImage(int index) {
  if (index < 0 || index >= kKwCellStockCount) return nullptr;
  std::lock_guard<std::mutex> lock(g_mutex);
  return Load(&g_cellImages[index], kCellNames[index]);
}

const KwEmbeddedImage* KwComboArrowImage() {
  return KwFindEmbeddedImage("combo_arrow.png");
}

void KwReleaseStockImages() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (CKwImageUtil*& image : g_cellImages) {
    delete image;
    image = nullptr;
  }
  if (g_iconTable != nullptr) {
    for (CKwImageUtil*& image : g_iconTable->images_) {
      delete image;
      image = nullptr;
    }
    delete g_iconTable;
    g_iconTable = nullptr;
  }
}
