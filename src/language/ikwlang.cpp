// The language tables and the language-file reader.
#include "language/ikwlang.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "baseutil/ikwlog.h"
#include "language/kwlangbuiltin.h"
#include "language/kwlangextra.h"
#include "language/kwlangnotice.h"
#include "main/kwglobals.h"

namespace {

std::mutex g_instanceMutex;
std::atomic<IKWLang*> g_instance{nullptr};

// Length of the text up to the first "\r" or NUL: a carriage return ends the
// line's text the way a terminator would.
size_t TextLength(const std::vector<char>& line, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (line[i] == '\r' || line[i] == '\0') return i;
  }
  return length;
}

}  // namespace

IKWLang* IKWLang::Instance() {
  IKWLang* lang = g_instance.load(std::memory_order_acquire);
  if (lang != nullptr) return lang;
  std::lock_guard<std::mutex> guard(g_instanceMutex);
  lang = g_instance.load(std::memory_order_relaxed);
  if (lang == nullptr) {
    lang = new IKWLang();
    g_instance.store(lang, std::memory_order_release);
  }
  return lang;
}

void IKWLang::DestroyInstance() {
  std::lock_guard<std::mutex> guard(g_instanceMutex);
  delete g_instance.exchange(nullptr);
}

IKWLangForCountry* IKWLang::FindOrCreate(int32_t codePage) {
  std::unique_ptr<IKWLangForCountry>& slot = tables_[codePage];
  if (!slot) slot = std::make_unique<IKWLangForCountry>();
  return slot.get();
}

const IKWLangForCountry* IKWLang::Table(int32_t codePage) const {
  auto it = tables_.find(codePage);
  return it == tables_.end() ? nullptr : it->second.get();
}

void IKWLang::SetText(int32_t codePage, const char* key, const char* text) {
  if (key == nullptr) return;
  FindOrCreate(codePage)->texts[key] = text != nullptr ? text : "";
}

int32_t IKWLang::LoadFile(int32_t codePage, const char* path) {
  IKWLangForCountry* table = FindOrCreate(codePage);
  table->texts.clear();
  if (path == nullptr) return -1;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return -1;

  std::vector<char> line(static_cast<size_t>(kKwLangLineSize) + 1);
  std::vector<char> converted(static_cast<size_t>(kKwLangLineSize) + 1);
  const bool convert =
      table->codePage == kKwCodePageChinese || table->codePage == kKwCodePageJapanese;

  auto processLine = [&](size_t length) {
    length = TextLength(line, length);
    if (length == 0 || line[0] == '#') return;
    const char* begin = line.data();
    const void* eq = std::memchr(begin, '=', length);
    if (eq == nullptr) return;
    const char* sep = static_cast<const char*>(eq);
    std::string key(begin, sep);
    std::string value(sep + 1, begin + length);
    if (convert) {
      Utf8ToAnsi(value.c_str(), converted.data(), static_cast<int32_t>(converted.size()));
      table->texts[key] = converted.data();
    } else {
      table->texts[key] = value;
    }
  };

  size_t length = 0;
  bool atFileStart = true;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    if (c == '\n') {
      atFileStart = false;
      processLine(length);
      length = 0;
      continue;
    }
    line[length++] = static_cast<char>(c);
    if (atFileStart && length == 3) {
      atFileStart = false;
      // A byte-order mark written by an editor is not part of the first key.
      if (std::memcmp(line.data(), "\xEF\xBB\xBF", 3) == 0) length = 0;
    }
    if (length == static_cast<size_t>(kKwLangLineSize)) {
      // An over-long line is cut here; the rest is read as the next line.
      processLine(length);
      length = 0;
    }
  }
  if (length > 0) processLine(length);
  std::fclose(file);
  return 0;
}

const char* IKWLang::GetText(const char* key) const {
  if (key == nullptr) return "";
  const IKWLangForCountry* table = Table(CodePage());
  if (table == nullptr) return key;
  auto it = table->texts.find(key);
  return it == table->texts.end() ? key : it->second.c_str();
}

int32_t IKWLang::StartupLoadFile(const char* programDir, int32_t codePage) {
  std::string path = std::string(programDir != nullptr ? programDir : "") + "/lang/lang" +
                     std::to_string(codePage) + ".txt";
  KW_LOG(4, "CIKWMain::InitCommanData", "lang:%s", path.c_str());
  IKWLang* lang = Instance();
  lang->SetCodePage(codePage);
  return lang->LoadFile(codePage, path.c_str());
}

void IKWLang::StartupLoadBuiltIn() {
  IKWLang* lang = Instance();
  lang->SetCodePage(kKwCodePageChinese);
  for (const KwLangRow& row : kKwLangEnglish) lang->SetText(kKwCodePageDefault, row.key, row.text);
  // The built-in Chinese texts are already UTF-8, so no conversion is needed.
  for (const KwLangRow& row : kKwLangChinese) lang->SetText(kKwCodePageChinese, row.key, row.text);
  // The extra keys only fill gaps, so a language file's own text wins.
  auto fill = [lang](int32_t codePage, const KwLangRow* rows, int32_t count) {
    const IKWLangForCountry* table = lang->Table(codePage);
    for (int32_t i = 0; i < count; ++i) {
      if (table == nullptr || table->texts.count(rows[i].key) == 0) {
        lang->SetText(codePage, rows[i].key, rows[i].text);
      }
    }
  };
  fill(kKwCodePageDefault, kKwLangExtraEnglish, kKwLangExtraRows);
  fill(kKwCodePageChinese, kKwLangExtraChinese, kKwLangExtraRows);
  fill(kKwCodePageDefault, kKwLangNoticeEnglish, kKwLangNoticeRows);
  fill(kKwCodePageChinese, kKwLangNoticeChinese, kKwLangNoticeRows);
}

int32_t Utf8ToAnsi(const char* src, char* dst, int32_t dstSize) {
  if (dst == nullptr || dstSize <= 0) return -2;
  return KwCopyText(dst, dstSize, src) ? 0 : -1;
}
