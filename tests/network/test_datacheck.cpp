// Request signatures, JSON member rules and query escaping.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <memory>

#include "kwtest/tempdir.h"
#include "network/http/ikwhttpclient.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwhttpdatacheck.h"
#include "tool/http/kwjsonaccess.h"
#include "tool/http/kwserverconfig.h"

namespace {

Json::Value Parse(const std::string& text) {
  Json::CharReaderBuilder builder;
  std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value root;
  std::string errors;
  EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &root, &errors)) << errors;
  return root;
}

TEST(DataCheck, KnownVectorAndOrderIndependence) {
  CKwHttpDataCheck single;
  single.SetParam("timestamp", "1700000000");
  EXPECT_STREQ("A4999D957374616D703D313730303030", single.GetSign());

  CKwHttpDataCheck a;
  a.SetParam("timestamp", "1700000000");
  a.SetParam("key", "packages/v201_000.tmp");
  a.SetParam("fileServerId", "3");
  CKwHttpDataCheck b;
  b.SetParam("fileServerId", "3");
  b.SetParam("key", "packages/v201_000.tmp");
  b.SetParam("timestamp", "1700000000");
  EXPECT_STREQ(a.GetSign(), b.GetSign());

  // The lanes continue across texts in sorted order: "fileServerId=3" (14
  // bytes) fills lanes 0..13, "key=..." starts in lane 14.
  std::string joined = "fileServerId=3key=packages/v201_000.tmptimestamp=1700000000";
  unsigned lanes[16] = {};
  for (size_t i = 0; i < joined.size(); ++i)
    lanes[i % 16] = (lanes[i % 16] + (unsigned char)joined[i]) & 0xFF;
  char expect[33];
  for (int i = 0; i < 16; ++i) std::snprintf(expect + 2 * i, 3, "%02X", lanes[i]);
  EXPECT_STREQ(expect, a.GetSign());

  // Replacing a value changes the signature; setting it back restores it.
  std::string before = a.GetSign();
  a.SetParam("fileServerId", "4");
  EXPECT_NE(before, a.GetSign());
  a.SetParam("fileServerId", "3");
  EXPECT_EQ(before, a.GetSign());
}

TEST(DataCheck, SortsBytesAsUnsigned) {
  // "\xC3x=1" must sort after "z=1"; with signed bytes it would come first
  // and the lanes would differ.
  CKwHttpDataCheck check;
  check.SetParam("z", "1");
  check.SetParam("\xC3x", "1");
  std::string joined = "z=1\xC3x=1";
  unsigned lanes[16] = {};
  for (size_t i = 0; i < joined.size(); ++i)
    lanes[i % 16] = (lanes[i % 16] + (unsigned char)joined[i]) & 0xFF;
  char expect[33];
  for (int i = 0; i < 16; ++i) std::snprintf(expect + 2 * i, 3, "%02X", lanes[i]);
  EXPECT_STREQ(expect, check.GetSign());
}

TEST(JsonAccess, IntegerFromTextAndTextFromNumber) {
  Json::Value v = Parse(R"({"a":"0","b":0,"c":"17","d":"12a","e":" 1","f":2.5,"g":true,
                           "h":"-4","i":9007199254740993,"j":1.0})");
  int64_t n = -1;
  EXPECT_TRUE(KwJsonInt(v, "a", &n));
  EXPECT_EQ(0, n);
  EXPECT_TRUE(KwJsonInt(v, "b", &n));
  EXPECT_EQ(0, n);
  EXPECT_TRUE(KwJsonInt(v, "c", &n));
  EXPECT_EQ(17, n);
  EXPECT_TRUE(KwJsonInt(v, "h", &n));
  EXPECT_EQ(-4, n);
  EXPECT_TRUE(KwJsonInt(v, "j", &n));
  EXPECT_EQ(1, n);
  EXPECT_FALSE(KwJsonInt(v, "d", &n));
  EXPECT_FALSE(KwJsonInt(v, "e", &n));
  EXPECT_FALSE(KwJsonInt(v, "f", &n));
  EXPECT_FALSE(KwJsonInt(v, "g", &n));
  EXPECT_FALSE(KwJsonInt(v, "missing", &n));

  std::string t;
  EXPECT_TRUE(KwJsonText(v, "b", &t));
  EXPECT_EQ("0", t);
  EXPECT_TRUE(KwJsonText(v, "i", &t));
  EXPECT_EQ("9007199254740993", t);  // Large integers keep every digit.
  EXPECT_TRUE(KwJsonText(v, "d", &t));
  EXPECT_EQ("12a", t);
  EXPECT_FALSE(KwJsonText(v, "g", &t));
  EXPECT_FALSE(KwJsonText(Parse("[1]"), "a", &t));
}

TEST(UrlEncode, OnlyUnsafeBytesAreEscaped) {
  EXPECT_EQ("packages/v201_000.tmp", KwUrlEncodeValue("packages/v201_000.tmp"));
  EXPECT_EQ("1700000000", KwUrlEncodeValue("1700000000"));
  EXPECT_EQ("a%20b%26c%3Dd%2Be%25f%23g%3F", KwUrlEncodeValue("a b&c=d+e%f#g?"));
  EXPECT_EQ("%C3%A9%0D%0A", KwUrlEncodeValue("\xC3\xA9\r\n"));
}

}  // namespace

namespace {

TEST(ServerConfig, BaseUrlAndExtraCaComeFromTheIniWithADefault) {
  kwtest::TempDir dir;
  std::string ini = dir / "itarnwick.ini";
  kwtest::WriteFile(ini, "[Server]\r\nurl = http://127.0.0.1:8080/\r\nCAFILE=/etc/kws/ca.pem\r\n");
  KwLoadServerConfig(ini.c_str());
  EXPECT_EQ("http://127.0.0.1:8080", KwServerBaseUrl());
  EXPECT_EQ("/etc/kws/ca.pem", KwHttpExtraCaFile());
  EXPECT_EQ("http://127.0.0.1:8080", CKWDownloadUtilFor().baseUrl());

  KwLoadServerConfig((dir / "missing.ini").c_str());
  EXPECT_EQ(kKwDefaultServerUrl, KwServerBaseUrl());
  EXPECT_EQ("", KwHttpExtraCaFile());
}

}  // namespace
