#include "images/kwimageregistry.h"

#include <atomic>

#include "images/kwembedded.h"
#include "images/kwimageutil.h"

namespace {
std::atomic<CKwImageRegistry*> g_current{nullptr};
}  // namespace

void CKwImageRegistry::RegisterImage(const char* name, const uint8_t* bytes, int count) {
  if (name == nullptr || bytes == nullptr || count < 1) return;
  std::string key(name);
  if (images_.count(key) != 0) return;
  images_.emplace(std::move(key), std::vector<uint8_t>(bytes, bytes + count));
}

CKwImageUtil* CKwImageRegistry::CreateImage(const char* name) const {
  if (name == nullptr) return nullptr;
  auto it = images_.find(name);
  if (it == images_.end()) return nullptr;
  auto* image = new CKwImageUtil();
  image->Decode(it->second.data(), static_cast<int>(it->second.size()));
  return image;
}

bool CKwImageRegistry::Contains(const char* name) const {
  return name != nullptr && images_.count(name) != 0;
}

int CKwImageRegistry::RegisterCaptionImages() {
  static const char* const kNames[] = {"close.png", "min.png", "max.png", "me.png"};
  int found = 0;
  for (const char* name : kNames) {
    const KwEmbeddedImage* image = KwFindEmbeddedImage(name);
    if (image == nullptr) continue;
    RegisterImage(name, image->bytes, image->count);
    ++found;
  }
  return found;
}

CKwImageRegistry* CKwImageRegistry::Current() {
  return g_current.load();
}
void CKwImageRegistry::SetCurrent(CKwImageRegistry* registry) {
  g_current.store(registry);
}
