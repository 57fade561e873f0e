#include "baseview/kwfont.h"

#include <atomic>

namespace {

std::atomic<int> g_codePageOverride{-1};

// Japanese faces first for 932 so kana and kanji take their Japanese forms;
// Simplified Chinese faces first for 936.  Latin text is covered by all of
// them, so the English UI shares the same metrics as the design's "MS Gothic".
const QStringList& JapaneseFamilies() {
  static const QStringList families = {"Noto Sans CJK JP", "Noto Sans CJK SC", "WenQuanYi Zen Hei",
                                       "Noto Sans", "DejaVu Sans"};
  return families;
}

const QStringList& ChineseFamilies() {
  static const QStringList families = {"Noto Sans CJK SC", "WenQuanYi Zen Hei", "Noto Sans CJK JP",
                                       "Noto Sans", "DejaVu Sans"};
  return families;
}

}  // namespace

KwFontChoice KwFontForCodePage(int codePage) {
  if (codePage == 932) return {"MS Gothic", kKwShiftJisCharset, JapaneseFamilies()};
  if (codePage == 936) return {"\xE9\xBB\x91\xE4\xBD\x93", kKwDefaultCharset, ChineseFamilies()};
  return {"MS Gothic", kKwAnsiCharset, JapaneseFamilies()};
}

void KwSetFontCodePageOverride(int codePage) {
  g_codePageOverride.store(codePage);
}

// Defined in kwfontcodepage.cpp, which reads the language table.
int KwLanguageCodePage();

int KwToolkitCodePage() {
  int pinned = g_codePageOverride.load();
  return pinned >= 0 ? pinned : KwLanguageCodePage();
}

QFont KwToolkitFontForCodePage(int size, int codePage) {
  if (size < 1) size = 12;
  KwFontChoice choice = KwFontForCodePage(codePage);
  QFont font;
  font.setFamilies(choice.families);
  font.setPixelSize(size);
  font.setWeight(QFont::Normal);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QFont KwToolkitFont(int size) {
  return KwToolkitFontForCodePage(size, KwToolkitCodePage());
}
