// Private-profile files: the reading and writing rules callers rely on.
#include "platform/kwinifile.h"

#include <gtest/gtest.h>

#include <string>

#include "kwtest/tempdir.h"

namespace {

TEST(IniFile, MissingFileSectionOrKeyGivesTheDefault) {
  kwtest::TempDir dir;
  std::string file = dir / "none.ini";
  char out[64];
  EXPECT_EQ(
      KwGetPrivateProfileString("LANGUAGE", "CODEPAGE", "936", out, sizeof(out), file.c_str()), 3);
  EXPECT_STREQ(out, "936");
  EXPECT_EQ(KwGetPrivateProfileString("A", "B", nullptr, out, sizeof(out), file.c_str()), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", 936, file.c_str()), 936);
  kwtest::WriteFile(file, "[LANGUAGE]\nOTHER=1\n[X]\nCODEPAGE=5\n");
  EXPECT_EQ(KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", 936, file.c_str()), 936);
}

TEST(IniFile, ReadsIgnoreCaseBlanksQuotesAndCutToTheBuffer) {
  kwtest::TempDir dir;
  std::string file = dir / "itarnwick.ini";
  kwtest::WriteFile(file,
                    "; comment\r\n[ActionDriver]\r\n  exe =  \"/opt/a b/run\"  \r\n"
                    "[language]\r\nCodePage= 0\r\n[Numbers]\r\nneg=-5\r\njunk=12abc\r\nnone=abc\r\n"
                    "[actiondriver]\r\nEXE=second section ignored\r\n");
  char out[64];
  EXPECT_EQ(KwGetPrivateProfileString("ACTIONDRIVER", "EXE", "", out, sizeof(out), file.c_str()),
            12);
  EXPECT_STREQ(out, "/opt/a b/run");
  char small[5];
  EXPECT_EQ(
      KwGetPrivateProfileString("ACTIONDRIVER", "EXE", "", small, sizeof(small), file.c_str()), 4);
  EXPECT_STREQ(small, "/opt");
  EXPECT_EQ(KwGetPrivateProfileInt("LANGUAGE", "CODEPAGE", 936, file.c_str()), 0);
  EXPECT_EQ(KwGetPrivateProfileInt("numbers", "neg", 7, file.c_str()), 0);
  EXPECT_EQ(KwGetPrivateProfileInt("numbers", "junk", 7, file.c_str()), 12);
  EXPECT_EQ(KwGetPrivateProfileInt("numbers", "none", 7, file.c_str()), 0);

  char list[64];
  int n = KwGetPrivateProfileString(nullptr, nullptr, "", list, sizeof(list), file.c_str());
  EXPECT_EQ(std::string(list, n),
            std::string("ActionDriver\0language\0Numbers\0actiondriver\0", 43));
  n = KwGetPrivateProfileString("NUMBERS", nullptr, "", list, sizeof(list), file.c_str());
  EXPECT_EQ(std::string(list, n + 1), std::string("neg\0junk\0none\0\0", 15));
}

TEST(IniFile, WritingCreatesAndKeepsTheRest) {
  kwtest::TempDir dir;
  std::string file = dir / "make.ini";
  ASSERT_EQ(KwWritePrivateProfileString("INSTALL", "REQUIREDSPACE", "1024", file.c_str()), 1);
  EXPECT_EQ(kwtest::ReadFile(file), "[INSTALL]\nREQUIREDSPACE=1024\n");

  kwtest::WriteFile(file, "; keep me\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n");
  ASSERT_EQ(KwWritePrivateProfileString("a", "X", "10", file.c_str()), 1);
  ASSERT_EQ(KwWritePrivateProfileString("A", "z", "3", file.c_str()), 1);
  ASSERT_EQ(KwWritePrivateProfileString("C", "w", "4", file.c_str()), 1);
  EXPECT_EQ(kwtest::ReadFile(file),
            "; keep me\r\n[A]\r\nX=10\r\nz=3\r\n\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
  ASSERT_EQ(KwWritePrivateProfileString("A", "x", nullptr, file.c_str()), 1);
  ASSERT_EQ(KwWritePrivateProfileString("b", nullptr, nullptr, file.c_str()), 1);
  EXPECT_EQ(kwtest::ReadFile(file), "; keep me\r\n[A]\r\nz=3\r\n\r\n[C]\r\nw=4\r\n");
  // Names that would not read back as written are refused.
  EXPECT_EQ(KwWritePrivateProfileString("A", "k=v", "1", file.c_str()), 0);
  EXPECT_EQ(KwWritePrivateProfileString("A", "k", "two\nlines", file.c_str()), 0);
  EXPECT_EQ(KwWritePrivateProfileString("A", "k", "1", (dir / "no/such/folder.ini").c_str()), 0);
}

}  // namespace
