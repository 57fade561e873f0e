// Texts of the notices that keep a user informed around an installation:
// lost connections and their retries, the end of an installation, the
// uninstaller's question and report, a second copy of the installer, and
// the make-package window's errors.  Like the extra keys they only fill
// gaps, so a language file may still supply its own text.
#pragma once

#include "language/kwlangbuiltin.h"

inline constexpr int32_t kKwLangNoticeRows = 31;

extern const KwLangRow kKwLangNoticeEnglish[kKwLangNoticeRows];
extern const KwLangRow kKwLangNoticeChinese[kKwLangNoticeRows];
