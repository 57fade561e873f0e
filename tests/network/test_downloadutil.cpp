// The install server API against the reference server, and ranged reads
// against answers that are not the range asked for.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "kwserveprocess.h"
#include "kwtestserver.h"
#include "kwtestvolumes.h"
#include "network/http/ikwhttpclient.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwhttpdatacheck.h"

namespace {

class ServerApi : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
    volumes = kwtest::WritePackage(pkg.path(), "P", {1000, 300});
  }
  // Starts kwserve over the package with `extra` options.
  void Serve(const std::vector<std::string>& extra = {}) {
    server = std::make_unique<kwtest::KwServeProcess>(pkg.path(), extra);
    ASSERT_FALSE(server->url().empty()) << server->Log();
    util.SetBaseUrl(server->url().c_str());
  }
  kwtest::TempDir pkg;
  std::vector<std::string> volumes;
  std::unique_ptr<kwtest::KwServeProcess> server;
  CKWDownloadUtilFor util;
};

TEST_F(ServerApi, VersionListUrlsAndRangesEndToEnd) {
  Serve({"--version", "v201", "--buildtime", "20261208"});
  char version[80] = {};
  std::vector<PackageEntry> entries;
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  EXPECT_STREQ("v201", version);
  ASSERT_EQ(2u, entries.size());
  ASSERT_EQ(2u, util.volumes().size());
  EXPECT_STREQ("packages/v201_000.tmp", entries[0].key);
  EXPECT_EQ(1000, entries[0].length);
  EXPECT_EQ(300, entries[1].length);
  EXPECT_EQ(1, entries[0].fileServerId);
  EXPECT_GT(entries[0].lastModified, 0);
  EXPECT_EQ(kwtest::ChecksumOf(volumes[0]), entries[0].checksum);
  EXPECT_STREQ(entries[1].checksum, util.volumes()[1]->checksum);

  PackageEntry& e = entries[1];
  ASSERT_EQ(0, util.GetDownloadUrl(e));
  EXPECT_STREQ("v201_001.tmp", e.name);
  EXPECT_EQ(0, std::strncmp(e.url, server->url().c_str(), server->url().size())) << e.url;

  char head[24];
  int64_t total = -1;
  ASSERT_EQ(24, util.ReadRange(e.url, 0, 24, head, &total));
  EXPECT_EQ(0, std::memcmp(head, "KWPK", 4));
  EXPECT_EQ(300, total);
  char middle[100];
  ASSERT_EQ(100, util.ReadRange(e.url, 150, 100, middle, &total));
  EXPECT_EQ(volumes[1].substr(150, 100), std::string(middle, 100));
  char tail[10];
  ASSERT_EQ(10, util.ReadRange(e.url, 290, 10, tail, &total));
  EXPECT_EQ(volumes[1].substr(290), std::string(tail, 10));

  // Beyond the end: 416, not data; a range that reaches past the end comes
  // back shorter than asked.
  char dest[24];
  std::memset(dest, 0x5A, sizeof(dest));
  total = 7;
  EXPECT_EQ(-2, util.ReadRange(e.url, 300, 24, dest, &total));
  EXPECT_EQ(-2, util.ReadRange(e.url, 290, 24, dest, &total));
  EXPECT_EQ(7, total);
  EXPECT_EQ(std::string(24, 'Z'), std::string(dest, 24));

  EXPECT_EQ(0, server->Stop());  // SIGTERM ends it cleanly.
  std::string log = server->Log();
  EXPECT_NE(std::string::npos, log.find("GET /app/install/info?timestamp=")) << log;
  EXPECT_NE(std::string::npos, log.find(" 416 bytes=300-323")) << log;
}

TEST_F(ServerApi, CodeIsReadAsAnIntegerFromTextOrNumber) {
  Serve({"--code-as-text"});
  char version[80] = {};
  std::vector<PackageEntry> entries;
  EXPECT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  EXPECT_STREQ("P", version);
  ASSERT_EQ(2u, entries.size());
  EXPECT_EQ(0, util.GetDownloadUrl(entries[0]));
}

TEST_F(ServerApi, NonZeroCodeFailsEvenWithData) {
  Serve({"--answer-code", "1"});
  char version[80] = "before";
  std::vector<PackageEntry> entries;
  EXPECT_EQ(-3, util.GetVersion(version, sizeof(version), entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_STREQ("before", version);
  PackageEntry entry;
  std::snprintf(entry.key, sizeof(entry.key), "packages/P_000.tmp");
  entry.fileServerId = 1;
  EXPECT_EQ(-2, util.GetDownloadUrl(entry));
  EXPECT_STREQ("P_000.tmp", entry.name);  // The name comes from the key before asking.
  EXPECT_STREQ("", entry.url);
}

TEST_F(ServerApi, ServerRefusesBadSignaturesAndStaleTimestamps) {
  Serve();
  // A clock a day behind: the server refuses the request with a non-zero code.
  util.SetClock([]() -> int64_t { return time(nullptr) - 86400; });
  char version[80] = {};
  std::vector<PackageEntry> entries;
  EXPECT_EQ(-3, util.GetVersion(version, sizeof(version), entries));

  std::string stamp = KwHttpTimestamp();
  CKWHttpWithCurl client;
  std::string url = server->url() + "/app/install/info?timestamp=" + stamp + "&sign=00";
  ASSERT_GT(client.DoGet(url.c_str()), 0);
  EXPECT_NE(nullptr, std::strstr(client.GetResult(), "\"code\":1001"));
}

TEST_F(ServerApi, ShortBodyIsMinusTwoAndLeavesDestinationUntouched) {
  Serve({"--short-rate", "1"});
  std::vector<PackageEntry> entries;
  char version[80];
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));
  char dest[24];
  std::memset(dest, 0x5A, sizeof(dest));
  int64_t total = 42;
  EXPECT_EQ(-2, util.ReadRange(entries[0].url, 0, 24, dest, &total));
  EXPECT_EQ(std::string(24, 'Z'), std::string(dest, 24));
  EXPECT_EQ(42, total);
}

TEST_F(ServerApi, FaultsAreSurvivedByRetryingAndCorruptionIsVisible) {
  // Every volume read fails one way or another until the fault budget is
  // spent; a retrying reader then gets the exact bytes.
  Serve({"--fail-rate", "0.3", "--drop-rate", "0.3", "--short-rate", "0.3", "--max-faults", "6",
         "--seed", "5"});
  std::vector<PackageEntry> entries;
  char version[80];
  int r = -1;
  for (int attempt = 0; attempt < 20 && r != 0; ++attempt) {
    entries.clear();
    r = util.GetVersion(version, sizeof(version), entries);
  }
  ASSERT_EQ(0, r);
  std::string got(1000, '\0');
  for (int64_t offset = 0; offset < 1000; offset += 250) {
    int32_t n = -2;
    for (int attempt = 0; attempt < 20 && n != 250; ++attempt) {
      if (util.GetDownloadUrl(entries[0]) != 0) continue;
      n = util.ReadRange(entries[0].url, offset, 250, &got[static_cast<size_t>(offset)], nullptr);
    }
    ASSERT_EQ(250, n);
  }
  EXPECT_EQ(volumes[0], got);
  server->Stop();
  EXPECT_NE(std::string::npos, server->Log().find(" 500")) << server->Log();

  // A corrupted byte is not detectable by the transfer; only the checksum
  // catches it.
  Serve({"--corrupt-rate", "1"});
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));
  ASSERT_EQ(1000, util.ReadRange(entries[0].url, 0, 1000, &got[0], nullptr));
  EXPECT_NE(volumes[0], got);
  EXPECT_NE(kwtest::ChecksumOf(volumes[0]), kwtest::ChecksumOf(got));
}

TEST_F(ServerApi, ExpiredDownloadAddressIsRefused) {
  Serve({"--url-ttl", "1"});
  std::vector<PackageEntry> entries;
  char version[80];
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));
  char dest[24];
  ASSERT_EQ(24, util.ReadRange(entries[0].url, 0, 24, dest, nullptr));
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  EXPECT_EQ(-2, util.ReadRange(entries[0].url, 0, 24, dest, nullptr));
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));  // A fresh address works again.
  EXPECT_EQ(24, util.ReadRange(entries[0].url, 0, 24, dest, nullptr));
}

// Answers of the right length that are not the range asked for.
TEST(RangeAnswers, OnlyAPartialAnswerAtTheAskedOffsetIsData) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::InProcessServer srv;
  auto ranged = [](const char* contentRange, int status) {
    return [contentRange, status](const httplib::Request& req, httplib::Response& res) {
      kwtest::TakeRanges(req);
      res.status = status;
      if (contentRange != nullptr) res.set_header("Content-Range", contentRange);
      res.set_content(std::string(24, 'd'), "application/octet-stream");
    };
  };
  srv.server().Get("/good", ranged("bytes 100-123/5000", 206));
  srv.server().Get("/norange", ranged(nullptr, 206));
  srv.server().Get("/whole", ranged(nullptr, 200));
  srv.server().Get("/other", ranged("bytes 0-23/5000", 206));
  srv.server().Get("/error", ranged(nullptr, 404));
  srv.server().Get("/star", ranged("bytes 100-123/*", 206));
  srv.server().Get("/beyond", ranged("bytes 100-123/1", 206));
  srv.server().Get("/junk", ranged("bytes 100-123/5000, 0-1/2", 206));
  srv.server().Get("/longer", ranged("bytes 100-200/5000", 206));
  srv.Start();

  CKWDownloadUtilFor util;
  char dest[24];
  int64_t total = 9;
  EXPECT_EQ(24, util.ReadRange(srv.url("/good").c_str(), 100, 24, dest, &total));
  EXPECT_EQ(5000, total);
  EXPECT_EQ(std::string(24, 'd'), std::string(dest, 24));
  // An unknown total, a total the range does not fit in, junk after the
  // total or a range of another length are no answer to trust.
  for (const char* path :
       {"/norange", "/whole", "/other", "/error", "/star", "/beyond", "/junk", "/longer"}) {
    std::memset(dest, 0x5A, sizeof(dest));
    total = 9;
    EXPECT_EQ(-2, util.ReadRange(srv.url(path).c_str(), 100, 24, dest, &total)) << path;
    EXPECT_EQ(9, total) << path;
    EXPECT_EQ(std::string(24, 'Z'), std::string(dest, 24)) << path;
  }
}

TEST(RangeAnswers, JsonBodiesAreReadWithASizeCap) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::InProcessServer srv;
  srv.server().Get("/app/install/info", [](const httplib::Request&, httplib::Response& res) {
    std::string body = "{\"code\":0,\"msg\":\"" +
                       std::string(CKWDownloadUtilFor::kJsonBodyLimit, 'm') + "\",\"data\":{}}";
    res.set_content(body, "application/json");
  });
  srv.server().Get("/app/file/download-url",
                   [](const httplib::Request& req, httplib::Response& res) {
                     // Echoes the query so the test can see how values were
                     // spelled; the key "object" gets data that is no address.
                     if (req.get_param_value("key") == "object") {
                       res.set_content("{\"code\":0,\"data\":{\"url\":\"x\"}}", "application/json");
                       return;
                     }
                     res.set_content("{\"code\":0,\"data\":\"" + req.target.substr(0, 200) + "\"}",
                                     "application/json");
                   });
  srv.Start();
  CKWDownloadUtilFor util;
  util.SetBaseUrl(srv.url("").c_str());
  char version[80];
  std::vector<PackageEntry> entries;
  EXPECT_EQ(-5, util.GetVersion(version, sizeof(version), entries));

  PackageEntry entry;
  std::snprintf(entry.key, sizeof(entry.key), "dir/a b&c=d.tmp");
  entry.fileServerId = 7;
  ASSERT_EQ(0, util.GetDownloadUrl(entry));
  EXPECT_STREQ("a b&c=d.tmp", entry.name);
  EXPECT_NE(nullptr, std::strstr(entry.url, "key=dir/a%20b%26c%3Dd.tmp&fileServerId=7&timestamp="))
      << entry.url;

  std::snprintf(entry.key, sizeof(entry.key), "object");
  entry.url[0] = '\0';
  EXPECT_EQ(-3, util.GetDownloadUrl(entry));
  EXPECT_STREQ("", entry.url);
}

}  // namespace

namespace {

// Answers the server API in odd shapes: hand-picked malformed documents and
// a bounded loop of byte mutations of a good one.  Every answer must give a
// documented result; none may crash, throw or hang.
TEST(RangeAnswers, MalformedAndMutatedAnswersGiveDocumentedResults) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  std::mutex lock;
  std::string answer;
  kwtest::InProcessServer srv;
  auto reply = [&](const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> hold(lock);
    res.set_content(answer, "application/json");
  };
  srv.server().Get("/app/install/info", reply);
  srv.server().Get("/app/file/download-url", reply);
  srv.Start();
  CKWDownloadUtilFor util;
  util.SetBaseUrl(srv.url("").c_str());
  auto ask = [&](const std::string& body, int* version, int* address) {
    {
      std::lock_guard<std::mutex> hold(lock);
      answer = body;
    }
    char text[80];
    std::vector<PackageEntry> entries;
    *version = util.GetVersion(text, sizeof(text), entries);
    PackageEntry entry;
    std::snprintf(entry.key, sizeof(entry.key), "k");
    *address = util.GetDownloadUrl(entry);
  };

  const std::string good =
      R"({"code":0,"msg":"ok","data":{"version":"v2","buildtime":"1","packages":[)"
      R"({"fileServerId":"3","length":"1000","lastModified":17,"key":"p/v2_000.tmp","checksum":"AB"}]}})";
  struct Fixture {
    std::string body;
    int version;
    int address;
  } fixtures[] = {
      {good, 0, -3},
      {R"({"code":0,"data":"http://x/v"})", 0, 0},
      {R"({"code":0,"data":[1,2]})", 0, -3},
      {R"({"code":0,"data":{"packages":{"a":1}}})", 0, -3},
      {R"({"code":0,"data":{"packages":[1,"x",null,[]]}})", 0, -3},
      {R"({"code":{"a":1},"data":{}})", -3, -2},
      {R"({"code":"0x0","data":{}})", -3, -2},
      {R"({"code":0})", -2, -3},
      {R"([0,1])", -1, -1},
      {R"({"code":0,"data":{"packages":[{"length":1e300,"fileServerId":1e300}]}})", 0, -3},
      {"", -5, -4},
      {"{\"code\":0,", -1, -1},
      // Keys and checksums that do not fit their fields are refused, not cut.
      {R"({"code":0,"data":{"packages":[{"key":")" + std::string(79, 'k') + R"("}]}})", 0, -3},
      {R"({"code":0,"data":{"packages":[{"key":"a"},{"key":")" + std::string(80, 'k') + R"("}]}})",
       -4, -3},
      {R"({"code":0,"data":{"packages":[{"key":"a","checksum":")" + std::string(80, 'C') +
           R"("}]}})",
       -4, -3},
      // Nested beyond the reader's limit (a broken proxy, a hostile server):
      // refused like any body that is no JSON, never an abort.
      {R"({"code":0,"data":)" + std::string(5000, '[') + std::string(5000, ']') + "}", -1, -1},
      {R"({"code":0,"data":)" + std::string(100000, '{'), -1, -1},
      {R"({"code":0,"data":{"packages":[{"key":"a","x":)" + std::string(64, '[') +
           std::string(64, ']') + "}]}}",
       -1, -1},
      // A NUL would cut the address (to nothing) or the key (to another volume's).
      {R"({"code":0,"data":"\u0000http://x/v"})", 0, -3},
      {R"({"code":0,"data":{"packages":[{"key":"p/v2_000.tmp\u0000x"}]}})", -4, -3},
      // Brackets inside a text are no nesting.
      {R"({"code":0,"data":")" + std::string(500, '[') + R"("})", 0, 0},
  };
  for (const Fixture& f : fixtures) {
    int version = 1, address = 1;
    ask(f.body, &version, &address);
    EXPECT_EQ(f.version, version) << f.body;
    EXPECT_EQ(f.address, address) << f.body;
  }

  uint32_t x = 99;
  for (int round = 0; round < 300; ++round) {
    std::string body = good;
    for (int edits = 1 + round % 4; edits > 0; --edits) {
      x = x * 1664525u + 1013904223u;
      size_t at = (x >> 8) % body.size();
      switch ((x >> 4) % 3) {
        case 0:
          body[at] = static_cast<char>(x >> 24);
          break;
        case 1:
          body.erase(at, 1 + (x >> 28));
          break;
        default:
          body.insert(at, 1, "{}[]\",:0-e"[(x >> 24) % 10]);
      }
      if (body.empty()) body = "{";
    }
    int version = 1, address = 1;
    ask(body, &version, &address);
    EXPECT_TRUE(version <= 0 && version >= -5) << body;
    EXPECT_TRUE(address >= -4 && address <= 0) << body;
  }
}

}  // namespace
