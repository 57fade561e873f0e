#include "MsgBox/kwuilanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <memory>
#include <vector>

#include "MsgBox/engine/kwenginefinish.h"
#include "baseutil/ikwlog.h"
#include "language/ikwlang.h"
#include "platform/kwregistry.h"

namespace {

constexpr const char* kLanguageValue = "Language";

std::vector<std::unique_ptr<QTranslator>>& Loaded() {
  static std::vector<std::unique_ptr<QTranslator>> loaded;
  return loaded;
}

}  // namespace

std::string KwQtTranslationsDir() {
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath).toStdString();
}

const char* KwLocaleOfCodePage(int32_t codePage) {
  if (codePage == kKwCodePageChinese) return "zh_CN";
  if (codePage == kKwCodePageJapanese) return "ja";
  return "en";
}

int KwApplyQtTranslations(int32_t codePage, const std::string& dir) {
  auto& loaded = Loaded();
  for (auto& t : loaded) QCoreApplication::removeTranslator(t.get());
  loaded.clear();
  const QString locale = QString::fromLatin1(KwLocaleOfCodePage(codePage));
  QLocale::setDefault(QLocale(locale));
  if (codePage == kKwCodePageDefault) return 0;
  const QString folder = QString::fromStdString(dir.empty() ? KwQtTranslationsDir() : dir);
  // qtbase holds the dialogs and buttons; qt_ is the umbrella file that
  // older installations ship instead.
  for (const char* module : {"qtbase", "qt"}) {
    auto t = std::make_unique<QTranslator>();
    if (!t->load(QString::fromLatin1(module) + "_" + locale, folder)) continue;
    QCoreApplication::installTranslator(t.get());
    loaded.push_back(std::move(t));
  }
  KW_LOG(4, "KwApplyQtTranslations", "%s: %d", locale.toUtf8().constData(),
         static_cast<int>(loaded.size()));
  return static_cast<int>(loaded.size());
}

int32_t KwRememberedCodePage(int32_t fallback) {
  KwRegKey key;
  if (KwRegKey::Open(KwHive::CurrentUser, kKwProductKey, kKwRegRead, &key) != kKwRegOk) {
    return fallback;
  }
  std::string value;
  if (key.GetString(kLanguageValue, &value) != kKwRegOk) return fallback;
  if (value == "0") return kKwCodePageDefault;
  if (value == "936") return kKwCodePageChinese;
  return fallback;
}

void KwRememberCodePage(int32_t codePage) {
  KwRegKey key;
  int32_t r = KwRegKey::Create(KwHive::CurrentUser, kKwProductKey, kKwRegRead | kKwRegWrite, &key);
  if (r == kKwRegOk) r = key.SetString(kLanguageValue, std::to_string(codePage).c_str());
  if (r != kKwRegOk) KW_LOG(4, "KwRememberCodePage", "not written: %d", static_cast<int>(r));
}

void KwStartUiLanguage() {
  IKWLang* lang = IKWLang::Instance();
  lang->SetCodePage(KwRememberedCodePage(lang->CodePage()));
  KwApplyQtTranslations(lang->CodePage());
}

void KwUiLanguageChosen(int32_t codePage) {
  KwApplyQtTranslations(codePage);
  KwRememberCodePage(codePage);
}
