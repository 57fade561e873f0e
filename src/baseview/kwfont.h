// The toolkit font: one face chosen by the active language code page.
//
// Every text call of the toolkit makes its font afresh from a pixel size (the
// character height) and the current code page, so a language switch shows on
// the next paint without any cache to invalidate.  The face names the design
// uses are kept as logical names; each one maps to fontconfig families with
// CJK coverage so Chinese and Japanese glyphs never come out as boxes.
#pragma once

#include <QFont>
#include <QStringList>

// Character sets a face is asked for, as the design records them.
enum KwFontCharset : int { kKwAnsiCharset = 0, kKwDefaultCharset = 1, kKwShiftJisCharset = 128 };

struct KwFontChoice {
  const char* designFace;  // "MS Gothic" or "黑体" (UTF-8).
  int charset;             // One of KwFontCharset.
  QStringList families;    // Installed families to try, best first.
};

// 932: "MS Gothic", Shift-JIS; 936: "黑体", default set; anything else:
// "MS Gothic", ANSI.
KwFontChoice KwFontForCodePage(int codePage);

// The code page the toolkit draws with.  It follows the language table's
// current code page; KwSetFontCodePageOverride pins it (tests, the gallery)
// until called again with -1.
int KwToolkitCodePage();
void KwSetFontCodePageOverride(int codePage);

// Weight 400, pixel size `size` (values below 1 become 12), face by code page.
QFont KwToolkitFont(int size);
QFont KwToolkitFontForCodePage(int size, int codePage);
