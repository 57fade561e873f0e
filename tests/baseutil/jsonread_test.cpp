// The guarded JSON reader every outside document goes through: limits,
// reasons, and member readers that never throw.
#include <gtest/gtest.h>

#include <string>

#include "baseutil/kwjsonread.h"
#include "kwtest/tempdir.h"

namespace {

std::string Nested(int depth, const std::string& inner = "1") {
  return std::string(depth, '[') + inner + std::string(depth, ']');
}

TEST(JsonRead, DepthAndSizeLimitsRefuseWithAReason) {
  Json::Value root;
  std::string why;
  EXPECT_EQ(kKwJsonOk, KwReadJson(Nested(kKwJsonMaxDepth), &root, &why)) << why;
  EXPECT_TRUE(root.isArray());

  for (int depth : {kKwJsonMaxDepth + 1, 5000, 200000}) {
    root = Json::Value("left over");
    EXPECT_EQ(kKwJsonTooDeep, KwReadJson(Nested(depth), &root, &why)) << depth;
    EXPECT_NE(std::string::npos, why.find("deeper than 64")) << why;
    EXPECT_TRUE(root.isNull());
  }
  // An unclosed run of brackets is refused the same way.
  EXPECT_EQ(kKwJsonTooDeep, KwReadJson("{\"data\":" + std::string(5000, '['), &root, &why));

  // Brackets inside texts, escaped quotes included, are no nesting.
  const std::string quoted = "{\"a\":\"" + std::string(500, '[') + "\\\"" + std::string(500, '{') +
                             "\",\"b\":" + Nested(10) + "}";
  EXPECT_EQ(kKwJsonOk, KwReadJson(quoted, &root, &why)) << why;
  EXPECT_EQ(11, KwJsonDepth(quoted.data(), quoted.size(), 64));  // the object and ten arrays

  const std::string big = "\"" + std::string(100, 'x') + "\"";
  EXPECT_EQ(kKwJsonTooLarge, KwReadJson(big.data(), big.size(), &root, &why, 50));
  EXPECT_EQ(kKwJsonOk, KwReadJson(big.data(), big.size(), &root, &why, 102));
}

TEST(JsonRead, TheLibrarysOwnRefusalIsCaughtNotThrown) {
  // A quote inside a comment hides the brackets after it from the quick
  // count; the library then gives up on them itself, and that must come
  // back as a refusal, not an exception.
  const std::string sneaky = "[ // \"\n" + Nested(300) + "]";
  Json::Value root;
  std::string why;
  int32_t r = kKwJsonOk;
  EXPECT_NO_THROW(r = KwReadJson(sneaky, &root, &why));
  EXPECT_NE(kKwJsonOk, r);
  EXPECT_FALSE(why.empty());

  for (const char* bad : {"", "{", "{\"a\":}", "]", "nul", "\"\\u12\"", "{\"a\" 1}"}) {
    EXPECT_NO_THROW(r = KwReadJson(std::string(bad), &root, &why));
    EXPECT_EQ(kKwJsonMalformed, r) << bad;
    EXPECT_NE(std::string::npos, why.find("not a JSON document")) << why;
  }
}

TEST(JsonRead, FilesAreRefusedBeforeBeingReadWhole) {
  kwtest::TempDir t;
  Json::Value root;
  std::string why;
  EXPECT_EQ(kKwJsonNoFile, KwReadJsonFile(t / "missing.json", &root, &why));
  EXPECT_NE(std::string::npos, why.find("missing.json")) << why;
  kwtest::WriteFile(t / "big.json", "[" + std::string(4000, ' ') + "]");
  EXPECT_EQ(kKwJsonTooLarge, KwReadJsonFile(t / "big.json", &root, &why, 1000));
  EXPECT_EQ(kKwJsonOk, KwReadJsonFile(t / "big.json", &root, &why));
  kwtest::WriteFile(t / "deep.json", Nested(5000));
  EXPECT_EQ(kKwJsonTooDeep, KwReadJsonFile(t / "deep.json", &root, &why));
  EXPECT_NE(std::string::npos, why.find("deep.json")) << why;
}

TEST(JsonRead, MembersOfTheWrongKindReadAsAbsent) {
  Json::Value root;
  std::string why;
  ASSERT_EQ(kKwJsonOk, KwReadJson(R"({"arr":[1],"obj":{"a":1},"t":true,"n":null,"s":"x","i":-5,
                           "u":18446744073709551615,"big":1e300,"half":2.5,"txt":"12abc",
                           "neg":-1e300,"huge":"99999999999999999999"})",
                                  &root, &why))
      << why;
  for (const char* m : {"arr", "obj", "t", "n", "missing"}) EXPECT_EQ("", KwJsonTextOr(root, m));
  EXPECT_EQ("x", KwJsonTextOr(root, "s"));
  EXPECT_EQ("-5", KwJsonTextOr(root, "i"));
  EXPECT_EQ("18446744073709551615", KwJsonTextOr(root, "u"));
  EXPECT_EQ("", KwJsonTextOr(Json::Value(Json::arrayValue), "s"));  // not an object at all

  EXPECT_EQ(-5, KwJsonLength(root["i"]));
  EXPECT_EQ(12, KwJsonLength(root["txt"]));
  EXPECT_EQ(2, KwJsonLength(root["half"]));
  for (const char* m : {"arr", "obj", "t", "n", "u", "big", "neg"}) {
    EXPECT_EQ(0, KwJsonLength(root[m])) << m;
  }
  EXPECT_EQ(INT64_MAX, KwJsonLength(root["huge"]));

  int64_t v = 77;
  EXPECT_FALSE(KwJsonInt(root, "big", &v));
  EXPECT_FALSE(KwJsonInt(root, "u", &v));
  EXPECT_FALSE(KwJsonInt(root, "huge", &v));
  EXPECT_FALSE(KwJsonInt(root, "arr", &v));
  EXPECT_EQ(77, v);
}

}  // namespace

namespace {

// Texts that are not UTF-8 would be written back changed (the writer
// replaces what it cannot encode), so a signed file read and written again
// would no longer match its signature: they are refused on reading.
TEST(JsonRead, TextsThatAreNotUtf8AreRefused) {
  Json::Value root;
  std::string why;
  EXPECT_EQ(kKwJsonOk,
            KwReadJson(std::string("{\"v\":\"\xE6\xB1\x89 \\u6c49 \\ud83d\\ude00\"}"), &root, &why))
      << why;
  for (const std::string& bad :
       {std::string("{\"v\":\"c0\xE1"
                    "dd\"}"),
        std::string("{\"v\":\"\xC0\xAF\"}"), std::string("{\"v\":\"\xED\xA0\x80\"}"),
        std::string("{\"v\":\"\xF4\x90\x80\x80\"}"), std::string("{\"\xFF\":1}"),
        std::string("{\"v\":\"\\udc00\"}"), std::string("{\"\\udfff\":1}"),
        std::string("[\"\xE6\xB1\"]")}) {
    EXPECT_EQ(kKwJsonMalformed, KwReadJson(bad, &root, &why)) << bad;
    EXPECT_NE(std::string::npos, why.find("UTF-8")) << why;
  }
  EXPECT_EQ(3u, KwFirstBadUtf8("abc\x80", 4));
  EXPECT_EQ(4u, KwFirstBadUtf8("abc\x7f", 4));
}

}  // namespace
