// One language on screen: the installer's own texts come from the language
// tables, and the standard parts Qt draws (the folder and file choosers,
// their buttons) follow through Qt's own translations, found at run time in
// Qt's translations folder.  The language the user chose is remembered in
// the user's key store for the next start.
//
// User-interface thread only; the translators belong to this module and
// live until the application ends.
#pragma once

#include <cstdint>
#include <string>

// Qt's translations folder of this installation.
std::string KwQtTranslationsDir();
// The locale name of a code page's language ("zh_CN" for 936, "en" else).
const char* KwLocaleOfCodePage(int32_t codePage);

// Installs Qt's translations for a code page's language in `dir` (empty:
// Qt's folder) and removes those of an earlier language.  Returns the
// number of translation files loaded (0 for English, which needs none, or
// when the translations are not installed).
int KwApplyQtTranslations(int32_t codePage, const std::string& dir = std::string());

// The remembered language: 0 or 936 from the user's key store, else
// `fallback`.  Remembering writes it there.
int32_t KwRememberedCodePage(int32_t fallback);
void KwRememberCodePage(int32_t codePage);

// Start-up, with the application object made: the remembered language
// becomes current and Qt's translations follow it.
void KwStartUiLanguage();
// After the user chose a language: Qt's translations follow and the choice
// is remembered.
void KwUiLanguageChosen(int32_t codePage);
