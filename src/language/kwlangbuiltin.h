// The two text tables compiled into the program: English (filed under code
// page 0) and Simplified Chinese (filed under code page 936).  Both hold the
// same keys in the same order; the texts are UTF-8.
#pragma once

#include <cstdint>

struct KwLangRow {
  const char* key;
  const char* text;
};

inline constexpr int32_t kKwLangBuiltInRows = 40;

extern const KwLangRow kKwLangEnglish[kKwLangBuiltInRows];
extern const KwLangRow kKwLangChinese[kKwLangBuiltInRows];
