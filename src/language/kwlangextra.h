// Texts for keys the program uses beyond the two built-in tables: the engine's
// full-disk stop, the message boxes' button captions, the guided page's
// failed deployment, the local package installer's messages and the
// refusals of a release that the configured release key does not admit, and
// the title of the folder chooser.
// Without them a user would read the bare key.  A language file may still
// supply its own text.
#pragma once

#include "language/kwlangbuiltin.h"

inline constexpr int32_t kKwLangExtraRows = 21;

extern const KwLangRow kKwLangExtraEnglish[kKwLangExtraRows];
extern const KwLangRow kKwLangExtraChinese[kKwLangExtraRows];
