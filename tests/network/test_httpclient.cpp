// CKWHttpWithCurl and the run-time binding, against servers inside the test.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>

#include "kwserveprocess.h"
#include "kwtestserver.h"
#include "network/http/ikwhttpclient.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class HttpClient : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4")); }
  // Lets slow handlers finish before the server is stopped.
  void TearDown() override { quit = true; }
  std::atomic<bool> quit{false};
  kwtest::InProcessServer srv;
};

TEST_F(HttpClient, ReturnRulesForDeclaredChunkedAndBrokenBodies) {
  std::string seenRange;
  srv.server().Get("/range", [&](const httplib::Request& req, httplib::Response& res) {
    kwtest::TakeRanges(req);
    seenRange = req.get_header_value("Range");
    res.status = 206;
    res.set_header("Content-Range", "bytes 0-23/100");
    res.set_content(std::string(24, 'r'), "application/octet-stream");
  });
  srv.server().Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
    res.set_chunked_content_provider("text/plain", [](size_t offset, httplib::DataSink& sink) {
      if (offset >= 300) {
        sink.done();
        return true;
      }
      return sink.write(std::string(100, 'c').data(), 100);
    });
  });
  srv.server().Get("/broken", [](const httplib::Request&, httplib::Response& res) {
    res.set_content_provider(1000, "text/plain",
                             [](size_t offset, size_t, httplib::DataSink& sink) {
                               if (offset >= 300) return false;  // Closes the connection mid-body.
                               return sink.write(std::string(300, 'b').data(), 300);
                             });
  });
  srv.Start();

  CKWHttpWithCurl ranged;
  ranged.SetRange(0, 24);
  EXPECT_EQ(24, ranged.DoGet(srv.url("/range").c_str()));
  EXPECT_EQ("bytes=0-23", seenRange);
  EXPECT_EQ(206, ranged.statusCode());
  EXPECT_NE(nullptr, std::strstr(ranged.headerText(), "Content-Range: bytes 0-23/100"));

  CKWHttpWithCurl chunked;
  EXPECT_EQ(300, chunked.DoGet(srv.url("/chunked").c_str()));
  char* first = chunked.GetResult();
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(std::string(300, 'c'), std::string(first));
  char* second = chunked.GetResult();  // A fresh copy; the first is released.
  ASSERT_NE(nullptr, second);
  EXPECT_EQ(std::string(300, 'c'), std::string(second));

  CKWHttpWithCurl broken;
  EXPECT_EQ(300, broken.DoGet(srv.url("/broken").c_str()));
  EXPECT_NE(0, broken.curlCode());
}

TEST_F(HttpClient, RefusedConnectionGivesZeroAndNoResult) {
  CKWHttpWithCurl client;
  std::string url = "http://127.0.0.1:" + std::to_string(kwtest::FreePort()) + "/x";
  EXPECT_EQ(0, client.DoGet(url.c_str()));
  EXPECT_EQ(nullptr, client.GetResult());
  EXPECT_EQ(0, client.statusCode());
}

TEST_F(HttpClient, BodyOverItsLimitIsDroppedWhole) {
  srv.server().Get("/big", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(std::string(50000, 'j'), "application/json");
  });
  srv.Start();
  CKWHttpWithCurl client;
  client.SetBodyLimit(1000);
  EXPECT_EQ(0, client.DoGet(srv.url("/big").c_str()));
  EXPECT_EQ(nullptr, client.GetResult());
  client.SetBodyLimit(50000);
  EXPECT_EQ(50000, client.DoGet(srv.url("/big").c_str()));
}

// A body that trickles: 4 bytes every 300 ms, 24 bytes in about 1.8 s; or a
// stall after the first 4 bytes.
void AddSlowRoutes(kwtest::InProcessServer& srv, std::atomic<bool>& quit) {
  srv.server().Get("/slow", [&quit](const httplib::Request& req, httplib::Response& res) {
    kwtest::TakeRanges(req);
    res.status = 206;
    res.set_header("Content-Range", "bytes 0-23/24");
    res.set_content_provider(24, "application/octet-stream",
                             [&quit](size_t, size_t, httplib::DataSink& sink) {
                               for (int i = 0; i < 30 && !quit; ++i) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                               }
                               return sink.write("ssss", 4);
                             });
  });
  srv.server().Get("/stall", [&quit](const httplib::Request& req, httplib::Response& res) {
    kwtest::TakeRanges(req);
    res.status = 206;
    res.set_header("Content-Range", "bytes 0-23/24");
    res.set_content_provider(24, "application/octet-stream",
                             [&quit](size_t offset, size_t, httplib::DataSink& sink) {
                               while (offset > 0 && !quit) {
                                 std::this_thread::sleep_for(std::chrono::milliseconds(10));
                               }
                               return !quit && sink.write("ssss", 4);
                             });
  });
}

TEST_F(HttpClient, RangedReadsEndOnLowSpeedNotOnTotalTime) {
  AddSlowRoutes(srv, quit);
  srv.Start();

  // The overall limit applies to whole reads only.
  CKWHttpWithCurl ranged;
  ranged.SetTotalTimeout(1);
  ranged.SetRange(0, 24);
  EXPECT_EQ(24, ranged.DoGet(srv.url("/slow").c_str()));
  CKWHttpWithCurl whole;
  whole.SetTotalTimeout(1);
  EXPECT_LT(whole.DoGet(srv.url("/slow").c_str()), 24);

  // A stalled range ends after the low-speed period.
  CKWHttpWithCurl stalled;
  stalled.SetRange(0, 24);
  stalled.SetLowSpeedLimit(1, 1);
  auto start = Clock::now();
  EXPECT_EQ(4, stalled.DoGet(srv.url("/stall").c_str()));
  EXPECT_LT(SecondsSince(start), 10.0);
}

TEST_F(HttpClient, AbortCheckEndsATransferAtOnce) {
  AddSlowRoutes(srv, quit);
  srv.Start();
  struct Flag {
    Clock::time_point until;
  } flag{Clock::now() + std::chrono::milliseconds(300)};
  CKWHttpWithCurl client;
  client.SetRange(0, 24);
  client.SetAbortCheck([](void* c) { return Clock::now() > static_cast<Flag*>(c)->until; }, &flag);
  auto start = Clock::now();
  EXPECT_EQ(4, client.DoGet(srv.url("/stall").c_str()));
  EXPECT_LT(SecondsSince(start), 5.0);
}

TEST(CurlBinding, UnboundLibraryFailsEveryRequestWithMinusOne) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  KwCurlUnbind();
  EXPECT_EQ(nullptr, KwCurl());
  EXPECT_EQ(-1, KwCurlBindFile("/nonexistent/libcurl.so.4"));

  CKWHttpWithCurl client;
  EXPECT_EQ(-1, client.DoGet("http://127.0.0.1:1/"));
  EXPECT_EQ(nullptr, client.GetResult());
  CKWDownloadUtilFor util;
  util.SetBaseUrl("http://127.0.0.1:1");
  char version[80] = "unchanged";
  std::vector<PackageEntry> entries;
  EXPECT_EQ(-1, util.GetVersion(version, sizeof(version), entries));
  EXPECT_STREQ("unchanged", version);
  PackageEntry entry;
  std::snprintf(entry.key, sizeof(entry.key), "packages/v1_000.tmp");
  EXPECT_EQ(-1, util.GetDownloadUrl(entry));
  char dest[24] = {};
  int64_t total = 5;
  EXPECT_EQ(-1, util.ReadRange("http://127.0.0.1:1/x", 0, 24, dest, &total));
  EXPECT_EQ(5, total);

  EXPECT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  EXPECT_NE(nullptr, KwCurl());
}

// Where a bound entry point's code lives.
std::string LibraryOf(const void* function) {
  Dl_info info{};
  return dladdr(function, &info) != 0 && info.dli_fname ? info.dli_fname : "";
}

TEST(CurlBinding, PrefersANonEmptyLibraryBesideTheExecutable) {
  kwtest::TempDir dir;
  KwCurlUnbind();
  // An empty file is ignored: the system's library is bound instead.
  kwtest::WriteFile(dir / "libcurl.so.4", "");
  ASSERT_EQ(0, KwCurlBindForExecutable(dir.path().c_str()));
  EXPECT_NE(dir / "libcurl.so.4", LibraryOf(reinterpret_cast<const void*>(KwCurl()->easy_perform)));
  KwCurlUnbind();

  // A real copy beside the executable wins over the system's.
  void* system = dlopen("libcurl.so.4", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(nullptr, system);
  std::string systemPath = LibraryOf(dlsym(system, "curl_easy_perform"));
  dlclose(system);
  std::filesystem::copy_file(systemPath, dir / "libcurl.so.4",
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(0, KwCurlBindForExecutable(dir.path().c_str()));
  EXPECT_EQ(dir / "libcurl.so.4", LibraryOf(reinterpret_cast<const void*>(KwCurl()->easy_perform)));
  // A second binding keeps the first.
  EXPECT_EQ(0, KwCurlBindForExecutable(nullptr));
  EXPECT_EQ(dir / "libcurl.so.4", LibraryOf(reinterpret_cast<const void*>(KwCurl()->easy_perform)));
  KwCurlUnbind();
}

}  // namespace

namespace {

// A self-signed certificate for 127.0.0.1 (or another name), made with the
// openssl tool; false when the tool is missing.
bool MakeCertificate(const kwtest::TempDir& dir, const std::string& altName) {
  std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=kwtest -keyout " +
      dir / "key.pem" + " -out " + dir / "cert.pem" + " -addext subjectAltName=" + altName +
      " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST(HttpTls, PeersAndNamesAreVerifiedAgainstTrustedCertificates) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir good, wrongName;
  if (!MakeCertificate(good, "IP:127.0.0.1") || !MakeCertificate(wrongName, "DNS:other.invalid")) {
    GTEST_SKIP() << "openssl tool not available";
  }
  kwtest::InProcessServer srv(good / "cert.pem", good / "key.pem");
  srv.server().Get("/v", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"code\":0}", "application/json");
  });
  srv.Start();
  kwtest::InProcessServer other(wrongName / "cert.pem", wrongName / "key.pem");
  other.server().Get("/v", [](const httplib::Request&, httplib::Response& res) {
    res.set_content("{\"code\":0}", "application/json");
  });
  other.Start();

  CKWHttpWithCurl untrusted;
  EXPECT_EQ(0, untrusted.DoGet(srv.url("/v").c_str()));  // Self-signed: refused.
  EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, untrusted.curlCode());

  KwHttpSetExtraCaFile((good / "cert.pem").c_str());
  CKWHttpWithCurl trusted;
  EXPECT_EQ(10, trusted.DoGet(srv.url("/v").c_str()));
  KwHttpSetExtraCaFile((wrongName / "cert.pem").c_str());
  CKWHttpWithCurl misnamed;
  EXPECT_EQ(0, misnamed.DoGet(other.url("/v").c_str()));  // Trusted, but for another name.
  KwHttpSetExtraCaFile(nullptr);
}

}  // namespace
