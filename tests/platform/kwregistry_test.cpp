// Key store: round trips, letter case, enumeration, deletion, access,
// concurrent processes, and files this store did not write.
#include "platform/kwregistry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "kwtest/tempdir.h"
#include "platform/kwregformat.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("KW_REGISTRY_DIR", dir_.path().c_str(), 1); }
  std::string UserFile() const { return dir_ / "user.reg"; }
  kwtest::TempDir dir_;
};

TEST_F(RegistryTest, ValuesSurviveWriteAndReadUnchanged) {
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick",
                             kKwRegRead | kKwRegWrite, &key),
            kKwRegOk);
  const std::string tricky[] = {
      "C:\\Program Files\\\"Tarnwick\"\\",
      "line one\nline two\r\nline three\t",
      "中文路径/アプリ/ü",
      std::string("ctrl\x01\x1f\x7f"
                  "end"),
      "ends with backslash\\",
      "",
      "=\"[x]\"=",
  };
  for (size_t i = 0; i < sizeof(tricky) / sizeof(tricky[0]); ++i) {
    std::string name = "v" + std::to_string(i) + "\"\\";
    ASSERT_EQ(key.SetString(name.c_str(), tricky[i].c_str()), kKwRegOk);
  }
  // A fresh handle reads the file again.
  KwRegKey reread;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "software\\KWS\\tarnwick", kKwRegRead, &reread),
            kKwRegOk);
  EXPECT_EQ(reread.Path(), "SOFTWARE\\kws\\Tarnwick");
  for (size_t i = 0; i < sizeof(tricky) / sizeof(tricky[0]); ++i) {
    std::string name = "V" + std::to_string(i) + "\"\\";
    std::string value;
    ASSERT_EQ(reread.GetString(name.c_str(), &value), kKwRegOk) << i;
    EXPECT_EQ(value, tricky[i]) << i;
  }
  // Each value is one line of the file, so a newline cannot start a section.
  std::string text = kwtest::ReadFile(UserFile());
  EXPECT_NE(text.find("[SOFTWARE\\kws\\Tarnwick]\n"), std::string::npos);
  EXPECT_EQ(KwRegParse(text).unparsedLines, 0);
}

TEST_F(RegistryTest, QueryStringFollowsBufferRules) {
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "A", kKwRegRead | kKwRegWrite, &key), 0);
  ASSERT_EQ(key.SetString("InstallPath", "/home/u/x"), 0);
  char buffer[16];
  uint32_t size = 0;
  EXPECT_EQ(key.QueryString("installpath", nullptr, &size), kKwRegOk);
  EXPECT_EQ(size, 10u);
  size = 9;
  std::memset(buffer, 'Q', sizeof(buffer));
  EXPECT_EQ(key.QueryString("InstallPath", buffer, &size), kKwRegMoreData);
  EXPECT_EQ(buffer[0], 'Q');
  size = sizeof(buffer);
  EXPECT_EQ(key.QueryString("InstallPath", buffer, &size), kKwRegOk);
  EXPECT_STREQ(buffer, "/home/u/x");
  EXPECT_EQ(key.QueryString("Missing", buffer, &size), kKwRegNotFound);
}

TEST_F(RegistryTest, OpenAndAccessRules) {
  KwRegKey key;
  EXPECT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws", kKwRegRead, &key), kKwRegNotFound);
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(KwRegKey::Create(KwHive::CurrentUser, "a\\\\b", kKwRegWrite, &key),
            kKwRegInvalidParameter);
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "\\SOFTWARE\\kws\\", kKwRegRead, &key), 0);
  EXPECT_EQ(key.Path(), "SOFTWARE\\kws");
  EXPECT_EQ(key.SetString("x", "y"), kKwRegAccessDenied);  // Opened for reading only.
  KwRegKey writeOnly;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE", kKwRegWrite, &writeOnly), 0);
  std::string value;
  EXPECT_EQ(writeOnly.GetString("x", &value), kKwRegAccessDenied);
  // The two hives are separate files.
  EXPECT_EQ(KwRegKey::Open(KwHive::LocalMachine, "SOFTWARE", kKwRegRead, &key), kKwRegNotFound);
}

TEST_F(RegistryTest, MachineHiveIsReadableByAllUserHiveIsPrivate) {
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::LocalMachine, "SOFTWARE", kKwRegWrite, &key), 0);
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE", kKwRegWrite, &key), 0);
  struct stat st;
  ASSERT_EQ(stat((dir_ / "system.reg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
  ASSERT_EQ(stat(UserFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(RegistryTest, HiveThatCannotBeWrittenRefusesWrites) {
  // A hive folder that cannot be made (a file stands in its way) refuses
  // writes even to a user who may write anywhere.
  kwtest::WriteFile(dir_ / "blocker", "x");
  setenv("KW_REGISTRY_DIR", (dir_ / "blocker/hives").c_str(), 1);
  KwRegKey key;
  EXPECT_EQ(KwRegKey::Create(KwHive::LocalMachine, "SOFTWARE\\X", kKwRegWrite, &key),
            kKwRegAccessDenied);
  EXPECT_EQ(KwRegKey::Open(KwHive::LocalMachine, "", kKwRegWrite, &key), kKwRegAccessDenied);
  EXPECT_EQ(KwRegKey::Open(KwHive::LocalMachine, "", kKwRegRead, &key), kKwRegOk);
  EXPECT_EQ(kwtest::ReadFile(dir_ / "blocker"), "x");
}

TEST_F(RegistryTest, ReadOnlyHiveRefusesWrites) {
  if (geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::LocalMachine, "SOFTWARE\\X", kKwRegWrite, &key), 0);
  ASSERT_EQ(chmod(dir_.path().c_str(), 0555), 0);
  EXPECT_EQ(KwRegKey::Open(KwHive::LocalMachine, "SOFTWARE\\X", kKwRegWrite, &key),
            kKwRegAccessDenied);
  EXPECT_EQ(KwRegKey::Open(KwHive::LocalMachine, "SOFTWARE\\X", kKwRegRead, &key), kKwRegOk);
  chmod(dir_.path().c_str(), 0755);
}

TEST_F(RegistryTest, EnumerateCountAndDelete) {
  KwRegKey kws;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws", kKwRegRead | kKwRegWrite, &kws),
            0);
  KwRegKey sub;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick\\Deep\\Deeper",
                             kKwRegWrite, &sub),
            0);
  ASSERT_EQ(sub.SetString("a", "1"), 0);
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Other", kKwRegWrite, &sub), 0);
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\alpha", kKwRegWrite, &sub), 0);
  ASSERT_EQ(kws.SetString("Second", "2"), 0);
  ASSERT_EQ(kws.SetString("First", "1"), 0);
  uint32_t keys = 99, values = 99;
  ASSERT_EQ(kws.QueryInfo(&keys, &values), 0);
  EXPECT_EQ(keys, 3u);
  EXPECT_EQ(values, 2u);
  std::string name, value;
  ASSERT_EQ(kws.EnumKey(0, &name), 0);
  EXPECT_EQ(name, "alpha");
  ASSERT_EQ(kws.EnumKey(2, &name), 0);
  EXPECT_EQ(name, "Tarnwick");
  EXPECT_EQ(kws.EnumKey(3, &name), kKwRegNoMoreItems);
  ASSERT_EQ(kws.EnumValue(0, &name, &value), 0);
  EXPECT_EQ(name + value, "Second2");
  EXPECT_EQ(kws.EnumValue(2, &name, &value), kKwRegNoMoreItems);

  EXPECT_EQ(kws.DeleteKey("Tarnwick"), kKwRegAccessDenied);  // Has subkeys.
  EXPECT_EQ(kws.DeleteTree("TARNWICK"), 0);
  EXPECT_EQ(kws.DeleteTree("Tarnwick"), kKwRegNotFound);
  KwRegKey gone;
  EXPECT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick\\Deep", kKwRegRead, &gone),
            kKwRegNotFound);
  EXPECT_EQ(kws.DeleteValue("second"), 0);
  EXPECT_EQ(kws.DeleteValue("second"), kKwRegNotFound);
  ASSERT_EQ(kws.QueryInfo(&keys, &values), 0);
  EXPECT_EQ(keys, 2u);
  EXPECT_EQ(values, 1u);

  // The tree of the key itself: subkeys and values go, the key stays.
  EXPECT_EQ(kws.DeleteTree(nullptr), 0);
  ASSERT_EQ(kws.QueryInfo(&keys, &values), 0);
  EXPECT_EQ(keys + values, 0u);
  EXPECT_EQ(kws.DeleteKey(""), 0);
  EXPECT_EQ(kws.QueryInfo(&keys, &values), kKwRegKeyDeleted);
  EXPECT_EQ(kws.SetString("x", "y"), kKwRegKeyDeleted);
}

// Two processes add 150 values each to the same key at the same time; a
// lost update would drop some of them.
TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Create(KwHive::CurrentUser, "SOFTWARE\\kws\\Race", kKwRegWrite, &key), 0);
  constexpr int kEach = 150;
  pid_t children[2];
  for (int c = 0; c < 2; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      KwRegKey mine;
      int bad = KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Race", kKwRegWrite, &mine);
      for (int i = 0; i < kEach && bad == 0; ++i) {
        std::string name = "p" + std::to_string(c) + "_" + std::to_string(i);
        bad = mine.SetString(name.c_str(), name.c_str());
      }
      _exit(bad == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  KwRegKey reader;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Race", kKwRegRead, &reader), 0);
  uint32_t values = 0;
  ASSERT_EQ(reader.QueryInfo(nullptr, &values), 0);
  EXPECT_EQ(values, 2u * kEach);
}

TEST_F(RegistryTest, DamagedFileKeepsReadableKeysAndIsKeptAside) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "\"orphan\"=\"before any key\"\r\n"
      "[SOFTWARE\\kws\\Tarnwick]\r\n"
      "\"InstallPath\"=\"/opt/tw\"\r\n"
      "\"Size\"=dword:00000010\r\n"
      "garbage line\r\n"
      "[SOFTWARE\\Broken\r\n"
      "[SOFTWARE\\kws\\Other]\r\n"
      "\"Cut\"=\"unterminated";
  kwtest::WriteFile(UserFile(), damaged);
  KwRegKey key;
  ASSERT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead | kKwRegWrite,
                           &key),
            0);
  std::string value;
  ASSERT_EQ(key.GetString("InstallPath", &value), 0);
  EXPECT_EQ(value, "/opt/tw");
  EXPECT_EQ(key.GetString("Size", &value), kKwRegNotFound);
  // Reading changed nothing.
  EXPECT_EQ(kwtest::ReadFile(UserFile()), damaged);

  ASSERT_EQ(key.SetString("New", "1"), 0);
  int asideCount = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
    if (entry.path().filename().string().rfind("user.reg.damaged-", 0) == 0) {
      ++asideCount;
      EXPECT_EQ(kwtest::ReadFile(entry.path().string()), damaged);
    }
  }
  EXPECT_EQ(asideCount, 1);
  KwRegKey other;
  EXPECT_EQ(KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Other", kKwRegRead, &other), 0);
  ASSERT_EQ(key.GetString("InstallPath", &value), 0);
  EXPECT_EQ(value, "/opt/tw");
  EXPECT_EQ(KwRegParse(kwtest::ReadFile(UserFile())).unparsedLines, 0);
}

std::string Dump(const KwRegDocument& doc) {
  return KwRegSerialize(doc) + "|" + doc.unparsed;
}

TEST(RegFormat, ParsingDoesNotDependOnHowTheTextIsSplit) {
  const std::string text =
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n[SOFTWARE\\kws]\r\n@=\"def\"\n"
      "\"a\\\"b\"=\"c\\\\d\\ne\\x01\"\n; comment\n[SOFTWARE\\kws\\T]\n\"k\" = \"v\"\nbad\n"
      "\"last\"=\"no newline\"";
  const std::string whole = Dump(KwRegParse(text));
  EXPECT_NE(whole.find("\"a\\\"b\"=\"c\\\\d\\ne\\x01\""), std::string::npos);
  EXPECT_EQ(KwRegParse(text).unparsedLines, 1);
  for (size_t chunk : {1, 2, 3, 7, 71}) {
    KwRegParser parser;
    for (size_t pos = 0; pos < text.size(); pos += chunk) {
      parser.Feed(text.data() + pos, std::min(chunk, text.size() - pos));
    }
    EXPECT_EQ(Dump(parser.Finish()), whole) << chunk;
  }
}

TEST(RegFormat, SerializedTextIsStable) {
  KwRegDocument doc;
  KwRegEnsureKey(&doc, "SOFTWARE\\kws\\Tarnwick").values.push_back({"InstallPath", "/a \"b\"\\"});
  KwRegEnsureKey(&doc, "SOFTWARE\\kws").values.push_back({"", "x"});
  EXPECT_EQ(KwRegSerialize(doc),
            "Windows Registry Editor Version 5.00\n\n"
            "[SOFTWARE]\n\n"
            "[SOFTWARE\\kws]\n@=\"x\"\n\n"
            "[SOFTWARE\\kws\\Tarnwick]\n\"InstallPath\"=\"/a \\\"b\\\"\\\\\"\n\n");
}

// Random damage never crashes the parser, and whatever it understood
// survives a write and a second read unchanged.
TEST(RegFormat, MutatedFilesNeverCrashAndReparseStably) {
  const std::string base =
      "Windows Registry Editor Version 5.00\n\n[SOFTWARE\\kws\\Tarnwick]\n"
      "\"InstallPath\"=\"/home/u/tarnwickinst\"\n\"Q\"=\"a\\\"\\\\\\n\"\n[SOFTWARE\\x]\n";
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string text = base;
    int edits = 1 + static_cast<int>(rng() % 6);
    for (int e = 0; e < edits; ++e) {
      size_t pos = rng() % (text.size() + 1);
      switch (rng() % 3) {
        case 0:
          if (pos < text.size()) text[pos] = static_cast<char>(rng() % 256);
          break;
        case 1:
          text.insert(pos, 1, "[]\"\\=@\n\r"[rng() % 8]);
          break;
        default:
          text.resize(pos);
      }
    }
    KwRegDocument first = KwRegParse(text);
    std::string written = KwRegSerialize(first);
    KwRegDocument second = KwRegParse(written);
    ASSERT_EQ(second.unparsedLines, 0) << round;
    ASSERT_EQ(KwRegSerialize(second), written) << round;
  }
}

}  // namespace
