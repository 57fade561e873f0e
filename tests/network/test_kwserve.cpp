// Pieces of the reference server that tests and scripts rely on: range
// parsing, deterministic faults, the command line, and rate limiting.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <utility>

#include "baseutil/kwsha256.h"
#include "kwservefaults.h"
#include "kwserveoptions.h"
#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "network/http/ikwhttpclient.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"

namespace {

TEST(KwServeRanges, ParsesSingleRangesAndRejectsUnsatisfiableOnes) {
  struct Case {
    const char* header;
    int64_t size;
    int result;
    int64_t first, last;
  } cases[] = {
      {"bytes=0-23", 100, 0, 0, 23}, {"bytes=90-200", 100, 0, 90, 99},
      {"bytes=90-", 100, 0, 90, 99}, {"bytes=-10", 100, 0, 90, 99},
      {"bytes=-500", 100, 0, 0, 99}, {"bytes=100-110", 100, -1, 0, 0},
      {"bytes=-0", 100, -1, 0, 0},   {"bytes=0-0", 0, -1, 0, 0},
      {"bytes=5-2", 100, 1, 0, 0},   {"bytes=0-1,5-6", 100, 1, 0, 0},
      {"items=0-1", 100, 1, 0, 0},   {"bytes=x-1", 100, 1, 0, 0},
      {"bytes=1-2x", 100, 1, 0, 0},  {"bytes=99999999999999999999-", 100, 1, 0, 0},
  };
  for (const Case& c : cases) {
    int64_t first = -7, last = -7;
    EXPECT_EQ(c.result, KwParseByteRange(c.header, c.size, &first, &last)) << c.header;
    if (c.result == 0) {
      EXPECT_EQ(c.first, first) << c.header;
      EXPECT_EQ(c.last, last) << c.header;
    }
  }
}

TEST(KwServeFaults, DecisionsFollowSeedAndRespectTheBudget) {
  KwFaultPlan a(9, -1), b(9, -1), c(10, -1);
  int hitsA = 0, differ = 0;
  for (uint64_t n = 1; n <= 2000; ++n) {
    bool x = a.Decide(n, KwFault::Drop, 0.25);
    EXPECT_EQ(x, b.Decide(n, KwFault::Drop, 0.25));
    differ += x != c.Decide(n, KwFault::Drop, 0.25);
    hitsA += x;
  }
  EXPECT_NEAR(500, hitsA, 80);  // About the share asked for.
  EXPECT_GT(differ, 100);       // Another seed, other requests.
  KwFaultPlan bounded(9, 3);
  int hits = 0;
  for (uint64_t n = 1; n <= 100; ++n) hits += bounded.Decide(n, KwFault::Fail, 1.0);
  EXPECT_EQ(3, hits);
  EXPECT_FALSE(KwFaultPlan(1, -1).Decide(1, KwFault::Fail, 0.0));
}

TEST(KwServeOptions, CommandLine) {
  auto parse = [](std::vector<std::string> args, KwServeOptions* o, std::string* error) {
    std::vector<char*> argv = {const_cast<char*>("kwserve")};
    for (std::string& a : args) argv.push_back(&a[0]);
    return KwParseServeOptions(static_cast<int>(argv.size()), argv.data(), o, error);
  };
  KwServeOptions o;
  std::string error;
  ASSERT_EQ(0, parse({"--root", "/p", "--port", "0", "--drop-rate", "0.5", "--rate-limit", "100",
                      "--code-as-text", "--host", "::1"},
                     &o, &error))
      << error;
  EXPECT_EQ("/p", o.root);
  EXPECT_EQ(0, o.port);
  EXPECT_DOUBLE_EQ(0.5, o.dropRate);
  EXPECT_EQ(100, o.rateLimit);
  EXPECT_TRUE(o.codeAsText);
  EXPECT_EQ("::1", o.host);
  EXPECT_EQ(1, parse({"--help"}, &o, &error));
  for (std::vector<std::string> bad :
       std::vector<std::vector<std::string>>{{"--root", "/p"},
                                             {"--port", "1"},
                                             {"--root", "/p", "--port", "70000"},
                                             {"--root", "/p", "--port", "1", "--fail-rate", "1.5"},
                                             {"--root", "/p", "--port", "1", "--bogus", "1"},
                                             {"--root"}}) {
    KwServeOptions fresh;
    EXPECT_EQ(-1, parse(bad, &fresh, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
  std::string usage = KwServeUsage();
  for (const char* option :
       {"--root", "--port", "--host", "--seed", "--fail-rate", "--drop-rate", "--short-rate",
        "--corrupt-rate", "--delay-ms", "--rate-limit", "--url-ttl", "--max-faults",
        "--ignore-range", "--request-timeout", "--idle-timeout"}) {
    EXPECT_NE(std::string::npos, usage.find(option)) << option;
  }
}

// With release.json beside the list every package carries its SHA-256 and
// the client keeps it; a release file of other volumes is not served.
TEST(KwServeProcessTest, ServesTheSha256OfReleaseJson) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir pkg;
  std::vector<std::string> volumes = kwtest::WritePackage(pkg.path(), "R", {5000, 300});
  ASSERT_EQ(0, KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk")));
  {
    kwtest::KwServeProcess server(pkg.path(), {});
    ASSERT_FALSE(server.url().empty());
    CKWDownloadUtilFor util;
    util.SetBaseUrl(server.url().c_str());
    std::vector<PackageEntry> entries;
    char version[80];
    ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
    ASSERT_EQ(2u, entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(KwSha256Hex(volumes[i].data(), volumes[i].size()), entries[i].sha256);
    }
  }
  // The volumes change, release.json stays behind.
  kwtest::WritePackage(pkg.path(), "R", {5000, 301});
  kwtest::KwServeProcess stale(pkg.path(), {});
  EXPECT_TRUE(stale.url().empty());
}

// A release manifest is named in the answer with an address of its own that
// serves exactly its bytes.
TEST(KwServeProcessTest, PublishesTheReleaseManifest) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000});
  const std::string bytes(3000, 'm');
  kwtest::WriteFile(pkg.path() + "/manifest.kwm", bytes);
  const KwReleaseManifest described = KwDescribeManifestBytes(bytes);
  ASSERT_EQ(0,
            KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk"), &described));
  kwtest::KwServeProcess server(pkg.path(), {});
  ASSERT_FALSE(server.url().empty());
  CKWDownloadUtilFor util;
  util.SetBaseUrl(server.url().c_str());
  std::vector<PackageEntry> entries;
  char version[80];
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_TRUE(util.manifest().present);
  EXPECT_EQ(util.manifest().length, 3000);
  EXPECT_EQ(util.manifest().sha256, described.sha256);
  std::string got(3000, '\0');
  int64_t total = -1;
  ASSERT_EQ(3000, util.ReadRange(util.manifest().url.c_str(), 0, 3000, &got[0], &total));
  EXPECT_EQ(got, bytes);
  EXPECT_EQ(total, 3000);
  // A manifest of another length than release.json names is not served.
  kwtest::WriteFile(pkg.path() + "/manifest.kwm", bytes + "x");
  kwtest::KwServeProcess stale(pkg.path(), {});
  EXPECT_TRUE(stale.url().empty());
}

// A damaged release.json or list.json ends kwserve with a reason on its
// error output and status 1, not an abort.
TEST(KwServeProcessTest, DamagedPackageFilesAreRefusedWithAReason) {
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000});
  ASSERT_EQ(0, KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk")));
  const std::string listed = kwtest::ReadFile(pkg / "list.json");
  const std::string deep = std::string(5000, '[') + std::string(5000, ']');
  auto start = [&]() {
    // Should it start serving after all, timeout ends it (status 124).
    const std::string cmd = "timeout 30 " + std::string(KW_BUILD_DIR) + "/bin/kwserve --root " +
                            pkg.path() + " --port 0 2>&1";
    std::string text;
    FILE* p = ::popen(cmd.c_str(), "r");
    char buf[4096];
    size_t n;
    while (p != nullptr && (n = std::fread(buf, 1, sizeof(buf), p)) > 0) text.append(buf, n);
    const int st = p != nullptr ? ::pclose(p) : -1;
    return std::make_pair(WIFEXITED(st) ? WEXITSTATUS(st) : -1, text);
  };
  struct Case {
    const char* file;
    std::string text;
  } cases[] = {
      {"release.json", "{\"volumes\":" + deep + "}"},
      {"release.json", R"({"volumes":[{"name":[1],"length":1e300,"checksum":{}}],"signature":[]})"},
      {"list.json", deep},
      {"list.json", R"([{"name":{"a":1},"length":1e300,"checksum":[1]}])"},
  };
  const std::string release = kwtest::ReadFile(pkg / "release.json");
  for (const Case& c : cases) {
    kwtest::WriteFile(pkg / "list.json", listed);
    kwtest::WriteFile(pkg / "release.json", release);
    kwtest::WriteFile(pkg / c.file, c.text);
    auto [status, text] = start();
    EXPECT_EQ(1, status) << c.file << ": " << c.text.substr(0, 100) << "\n" << text;
    EXPECT_NE(std::string::npos, text.find(c.file)) << text;
  }
}

TEST(KwServeProcessTest, RateLimitHoldsPerConnection) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir pkg;
  std::vector<std::string> volumes = kwtest::WritePackage(pkg.path(), "R", {60000});
  kwtest::KwServeProcess server(pkg.path(), {"--rate-limit", "40000"});
  ASSERT_FALSE(server.url().empty());
  CKWDownloadUtilFor util;
  util.SetBaseUrl(server.url().c_str());
  std::vector<PackageEntry> entries;
  char version[80];
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));

  // 60,000 bytes at 40,000 bytes/s take about 1.5 s on one connection; two
  // connections at once each keep their own rate, so together they take
  // about as long, not twice as long.
  std::string got(60000, '\0');
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(60000, util.ReadRange(entries[0].url, 0, 60000, &got[0], nullptr));
  double one = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(volumes[0], got);
  EXPECT_GT(one, 1.2);

  std::string other(60000, '\0');
  start = std::chrono::steady_clock::now();
  std::thread second([&] {
    CKWDownloadUtilFor own;
    EXPECT_EQ(60000, own.ReadRange(entries[0].url, 0, 60000, &other[0], nullptr));
  });
  ASSERT_EQ(60000, util.ReadRange(entries[0].url, 0, 60000, &got[0], nullptr));
  second.join();
  double two = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(two, one * 1.8);
  EXPECT_EQ(volumes[0], other);
}

}  // namespace
