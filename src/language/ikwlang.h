// The process-wide language tables: every user-visible text is looked up by
// key here.
//
// The tables hold one text map per code page; the current code page chooses
// which map answers.  Code page 0 holds the built-in English texts, 936 the
// built-in Chinese ones; a language file may add texts for the code page named
// in the settings file.  All stored texts are UTF-8, which is also this
// platform's ANSI code page.
//
// Lifetime and threads: the singleton is created on first use by start-up,
// filled on the start-up thread before any other thread reads it, and
// destroyed in the stop sequence after the worker threads have ended.  After
// start-up GetText may be called from any thread at once; SetText and LoadFile
// must not run while other threads read.  The current code page may be
// switched at any time (it is an atomic value).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

inline constexpr int32_t kKwLangLineSize = 320000;
inline constexpr int32_t kKwCodePageDefault = 0;
inline constexpr int32_t kKwCodePageChinese = 936;
inline constexpr int32_t kKwCodePageJapanese = 932;

// The texts of one code page, owned by IKWLang.
class IKWLangForCountry {
 public:
  IKWLangForCountry() = default;
  virtual ~IKWLangForCountry() = default;

  // Every table records 936 whatever code page it is filed under; a value
  // read from a language file is converted with Utf8ToAnsi for 936 and 932.
  int32_t codePage = kKwCodePageChinese;
  // Key (compared bytewise) to its text.
  std::map<std::string, std::string> texts;
};

class IKWLang {
 public:
  IKWLang() = default;
  virtual ~IKWLang() = default;
  IKWLang(const IKWLang&) = delete;
  IKWLang& operator=(const IKWLang&) = delete;

  // The singleton, created on first use (current code page 936, no tables).
  static IKWLang* Instance();
  // Destroys the singleton (stop sequence); the next Instance() makes a new one.
  static void DestroyInstance();

  // Stores a copy of text under key for the code page, creating its table if
  // missing and replacing an earlier text.  A null or empty text is stored as
  // an empty string; a null key is ignored.
  void SetText(int32_t codePage, const char* key, const char* text);

  // Replaces the code page's texts with those of a language file.  The file
  // is lines of "key=value": a line starting with "#" is a comment; the key is
  // everything before the first "=", the value everything after it, untrimmed;
  // a "\r" ends the line's text; a line without "=" is ignored; a line longer
  // than 320,000 bytes is cut there and continues as the next line; a later
  // key replaces an earlier one.  A UTF-8 byte-order mark at the start of the
  // file is skipped.  Returns 0 after loading, -1 when the file cannot be
  // opened (the table is then left empty).
  int32_t LoadFile(int32_t codePage, const char* path);

  // The text of key in the current code page, or key itself when the current
  // code page has no table or the table has no such key ("" for a null key).
  // The pointer stays valid until the entry is replaced or the table
  // destroyed.
  const char* GetText(const char* key) const;

  int32_t CodePage() const { return currentCodePage_.load(std::memory_order_relaxed); }
  void SetCodePage(int32_t codePage) {
    currentCodePage_.store(codePage, std::memory_order_relaxed);
  }

  // The table of a code page, or null.
  const IKWLangForCountry* Table(int32_t codePage) const;

  // Start-up: sets the current code page to codePage and loads
  // "%s/lang/lang%d.txt" formed from programDir and codePage into it, logging
  // "lang:%s" at level 4.  Returns LoadFile's result.
  static int32_t StartupLoadFile(const char* programDir, int32_t codePage);
  // Start-up, after the file: sets the current code page to 936 and stores the
  // built-in English table under 0 and the built-in Chinese table under 936
  // (the built-in text wins over a file's text for the same key).
  static void StartupLoadBuiltIn();

 private:
  IKWLangForCountry* FindOrCreate(int32_t codePage);

  std::atomic<int32_t> currentCodePage_{kKwCodePageChinese};
  std::map<int32_t, std::unique_ptr<IKWLangForCountry>> tables_;
};

// Converts a zero-terminated UTF-8 string to the ANSI code page (UTF-8 here)
// into dst of dstSize bytes and terminates it.  Never writes past dst: a text
// that does not fit is cut at a character boundary.  Returns 0 when the whole
// text was copied, -1 when it had to be cut, -2 when dst is null or dstSize
// is not positive.  A null src gives an empty string.
int32_t Utf8ToAnsi(const char* src, char* dst, int32_t dstSize);
