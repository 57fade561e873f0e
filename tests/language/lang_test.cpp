// The language tables: built-in texts, the language-file format, the
// start-up loading order, the checked conversion copy and lookups from
// several threads.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kwtest/tempdir.h"
#include "language/ikwlang.h"
#include "language/kwlangbuiltin.h"

namespace {

TEST(LangBuiltIn, BothTablesHoldTheSameFortyKeysWithTexts) {
  std::set<std::string> keys;
  for (int i = 0; i < kKwLangBuiltInRows; ++i) {
    EXPECT_STREQ(kKwLangEnglish[i].key, kKwLangChinese[i].key) << "row " << i;
    EXPECT_NE(std::strlen(kKwLangEnglish[i].text), 0u) << kKwLangEnglish[i].key;
    EXPECT_NE(std::strlen(kKwLangChinese[i].text), 0u) << kKwLangChinese[i].key;
    keys.insert(kKwLangEnglish[i].key);
  }
  EXPECT_EQ(keys.size(), 40u);
}

TEST(LangStartup, ExtraKeysFillGapsButLeaveALanguageFilesTexts) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "lang/lang936.txt", "OK=file ok\n");
  IKWLang::DestroyInstance();
  IKWLang* lang = IKWLang::Instance();
  ASSERT_EQ(IKWLang::StartupLoadFile(dir.path().c_str(), 936), 0);
  IKWLang::StartupLoadBuiltIn();

  EXPECT_STREQ(lang->GetText("OK"), "file ok");
  EXPECT_STREQ(lang->GetText("CANCEL"), "\xE5\x8F\x96\xE6\xB6\x88");
  lang->SetCodePage(0);
  EXPECT_STREQ(lang->GetText("diskfull"), "The disk is full. Free some space and try again.");
  EXPECT_STREQ(lang->GetText("saveas"), "Save as");
  IKWLang::DestroyInstance();
}

TEST(LangStartup, FileThenBuiltInTablesAndCodePageSwitching) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "lang/lang936.txt",
                    "SOFTWARENAME=from file\ntorundir=\xE8\xBF\x90\xE8\xA1\x8C\n");
  IKWLang::DestroyInstance();
  IKWLang* lang = IKWLang::Instance();
  EXPECT_EQ(lang->CodePage(), 936);

  lang->SetCodePage(0);
  EXPECT_EQ(IKWLang::StartupLoadFile(dir.path().c_str(), 936), 0);
  EXPECT_EQ(lang->CodePage(), 936);
  EXPECT_STREQ(lang->GetText("SOFTWARENAME"), "from file");
  IKWLang::StartupLoadBuiltIn();

  // The built-in row wins over the file for the same key; file-only keys stay.
  EXPECT_EQ(lang->CodePage(), 936);
  EXPECT_STREQ(lang->GetText("SOFTWARENAME"), "\xE5\xA1\x94\xE6\x81\xA9\xE7\xBB\xB4\xE5\x85\x8B");
  EXPECT_STREQ(lang->GetText("torundir"), "\xE8\xBF\x90\xE8\xA1\x8C");
  EXPECT_STREQ(lang->GetText("invalidpath"),
               "\xE7\x9B\xAE\xE5\xBD\x95\xE4\xB8\x8D\xE6\xAD\xA3\xE7\xA1\xAE\xEF\xBC\x8C"
               "\xE8\xAF\xB7\xE4\xB8\x8D\xE8\xA6\x81\xE4\xBD\xBF\xE7\x94\xA8\xE7\xB3\xBB"
               "\xE7\xBB\x9F\xE7\x9B\xAE\xE5\xBD\x95 !");

  lang->SetCodePage(0);
  EXPECT_STREQ(lang->GetText("SOFTWARENAME"), "Tarnwick");
  EXPECT_STREQ(lang->GetText("IKW_ID7"), "New version %s");
  EXPECT_STREQ(lang->GetText("invalidpath"), "Invalid path\xEF\xBC\x8Cplease change it !");
  // The finish question has built-in texts; the language file's wins where given.
  EXPECT_STREQ(lang->GetText("torundir"), "Tarnwick is installed. Do you want to start it now ?");
  const char* key = "no-such-key";
  EXPECT_EQ(lang->GetText(key), key);  // No such key in English: the key itself.

  lang->SetCodePage(932);  // No Japanese table at all.
  const char* software = "SOFTWARENAME";
  EXPECT_EQ(lang->GetText(software), software);
  EXPECT_STREQ(lang->GetText(nullptr), "");

  // A missing file for another code page leaves an empty table behind.
  EXPECT_EQ(IKWLang::StartupLoadFile(dir.path().c_str(), 932), -1);
  ASSERT_NE(lang->Table(932), nullptr);
  EXPECT_TRUE(lang->Table(932)->texts.empty());
  IKWLang::DestroyInstance();
}

TEST(LangFile, LineRulesCommentsSeparatorsAndLineEnds) {
  kwtest::TempDir dir;
  std::string path = dir / "lang.txt";
  kwtest::WriteFile(path,
                    "\xEF\xBB\xBF"
                    "first=1\n"
                    "#comment=ignored\n"
                    "=empty key\n"
                    "two=a=b\n"
                    "crlf=value\r\n"
                    "mid=before\rafter\n"
                    "cr\r=not a key\n"
                    "no separator\n"
                    "\n"
                    "spaced = kept \n"
                    "dup=old\n"
                    "dup=new\n"
                    "empty=\n"
                    "last=no newline");
  IKWLang lang;
  lang.SetText(0, "stale", "gone after reload");
  lang.SetText(936, "other", "stays");
  ASSERT_EQ(lang.LoadFile(0, path.c_str()), 0);

  const auto& texts = lang.Table(0)->texts;
  std::map<std::string, std::string> expected = {
      {"first", "1"},    {"", "empty key"}, {"two", "a=b"},
      {"crlf", "value"}, {"mid", "before"}, {"spaced ", " kept "},
      {"dup", "new"},    {"empty", ""},     {"last", "no newline"}};
  std::map<std::string, std::string> loaded(texts.begin(), texts.end());
  EXPECT_EQ(loaded, expected);
  EXPECT_EQ(lang.Table(936)->texts.at("other"), "stays");

  EXPECT_EQ(lang.LoadFile(0, (dir / "missing.txt").c_str()), -1);
  EXPECT_TRUE(lang.Table(0)->texts.empty());
}

TEST(LangFile, OverLongLineIsCutAndItsRestReadAsTheNextLine) {
  kwtest::TempDir dir;
  std::string path = dir / "long.txt";
  std::string head = "k=" + std::string(static_cast<size_t>(kKwLangLineSize) - 2, 'x');
  kwtest::WriteFile(path, head + "tail=end\nnext=ok\n");
  IKWLang lang;
  ASSERT_EQ(lang.LoadFile(936, path.c_str()), 0);
  const auto& texts = lang.Table(936)->texts;
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts.at("k").size(), static_cast<size_t>(kKwLangLineSize) - 2);
  EXPECT_EQ(texts.at("tail"), "end");
  EXPECT_EQ(texts.at("next"), "ok");
}

TEST(LangFile, RandomBytesNeverCrashAndNeverStoreLineBreaks) {
  kwtest::TempDir dir;
  std::string path = dir / "fuzz.txt";
  std::mt19937 rng(1234);
  const char alphabet[] = {'a', 'b', '=', '=', '\r', '\n', '\n', '#', '\0', '\xEF', '\xBB', '\xFF'};
  IKWLang lang;
  for (int round = 0; round < 100; ++round) {
    std::string bytes(rng() % 400, ' ');
    for (char& c : bytes) c = alphabet[rng() % sizeof(alphabet)];
    kwtest::WriteFile(path, bytes);
    ASSERT_EQ(lang.LoadFile(932, path.c_str()), 0);
    for (const auto& [key, text] : lang.Table(932)->texts) {
      ASSERT_EQ(key.find_first_of("\r\n"), std::string::npos);
      ASSERT_EQ(text.find_first_of("\r\n"), std::string::npos);
      ASSERT_EQ(key.find('='), std::string::npos);
      ASSERT_FALSE(!key.empty() && key[0] == '#');
    }
  }
}

TEST(Utf8ToAnsi, CopiesWholeTextsAndCutsLongOnesInsideTheBuffer) {
  char buf[16];
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD\xE6\x96\x87", buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "\xE4\xB8\xAD\xE6\x96\x87");

  // Ten bytes of room behind a guard: "ab" + three 3-byte characters does not
  // fit; the cut falls before the character that would be split.
  char guarded[12];
  std::memset(guarded, '#', sizeof(guarded));
  EXPECT_EQ(Utf8ToAnsi("ab\xE4\xB8\xAD\xE6\x96\x87\xE5\xAD\x97", guarded, 10), -1);
  EXPECT_STREQ(guarded, "ab\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(guarded[10], '#');
  EXPECT_EQ(guarded[11], '#');

  EXPECT_EQ(Utf8ToAnsi(nullptr, buf, sizeof(buf)), 0);
  EXPECT_STREQ(buf, "");
  EXPECT_EQ(Utf8ToAnsi("x", nullptr, 10), -2);
  EXPECT_EQ(Utf8ToAnsi("x", buf, 0), -2);
}

TEST(LangThreads, LookupsFromManyThreadsWhileTheCodePageSwitches) {
  IKWLang lang;
  for (const KwLangRow& row : kKwLangEnglish) lang.SetText(0, row.key, row.text);
  for (const KwLangRow& row : kKwLangChinese) lang.SetText(936, row.key, row.text);
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t) {
    readers.emplace_back([&] {
      while (!stop) {
        const char* text = lang.GetText("SOFTWARENAME");
        if (std::strcmp(text, "Tarnwick") != 0 &&
            std::strcmp(text, "\xE5\xA1\x94\xE6\x81\xA9\xE7\xBB\xB4\xE5\x85\x8B") != 0)
          wrong.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 2000; ++i) lang.SetCodePage(i % 2 == 0 ? 0 : 936);
  stop = true;
  for (std::thread& t : readers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
