#include "MsgBox/desktop/kwproducticon.h"

#include "baseutil/kwfilehelpers.h"
#include "platform/kwatomicfile.h"

// The build names the picture (KW_PRODUCT_ICON_FILE) and the assembler copies
// its bytes into read-only data.  KW_PRODUCT_ICON_MD5 changes whenever the
// picture does, so a compiler cache never hands back an object with the old
// bytes.
__asm__(
    ".section .rodata\n"
    ".balign 16\n"
    "kw_product_icon:\n"
    ".incbin \"" KW_PRODUCT_ICON_FILE
    "\"\n"
    "kw_product_icon_end:\n"
    ".previous\n");

extern "C" {
extern const unsigned char kw_product_icon[] __asm__("kw_product_icon");
extern const unsigned char kw_product_icon_end[] __asm__("kw_product_icon_end");
}

namespace {
[[maybe_unused]] const char kIconVersion[] = KW_PRODUCT_ICON_MD5;
}  // namespace

const unsigned char* KwProductIconData(size_t* size) {
  if (size != nullptr) *size = static_cast<size_t>(kw_product_icon_end - kw_product_icon);
  return kw_product_icon;
}

std::string KwPlaceProductIcon(const char* dataRoot) {
  if (dataRoot == nullptr || dataRoot[0] != '/') return "";
  std::string path = std::string(dataRoot) + "/tarnwick/" + kKwProductIconFile;
  // A fresh home may not have its data folder yet.
  CreateFoldersForPath(path.c_str());
  size_t size = 0;
  const unsigned char* bytes = KwProductIconData(&size);
  std::string content(reinterpret_cast<const char*>(bytes), size);
  if (KwReplaceFileAtomic(path, content, 0644) != 0) return "";
  return path;
}
