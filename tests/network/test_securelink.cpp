// Download addresses on another file server: the link form nginx's
// secure_link module checks, kwserve's options for it, and the repository's
// nginx configuration refusing every link that is not good.
#include <gtest/gtest.h>

#include <ctime>

#include "kwservelinks.h"
#include "kwserveoptions.h"
#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "network/http/ikwhttpclient.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"

namespace {

TEST(SecureLink, HashAndAddressForm) {
  // Computed independently: echo -n '2147483647/s/link127.0.0.1 secret' |
  // openssl md5 -binary | openssl base64 | tr +/ -_ | tr -d =
  EXPECT_EQ("_e4Nc3iduzkWRm01TBBNYw", KwSecureLinkHash(2147483647, "/s/link127.0.0.1", "secret"));
  // The path as the server sees it: the base's own path and the name as it
  // is (escaped only in the address), no doubled slash from a trailing one.
  EXPECT_EQ("http://f.example:8080/V2.0.0_000.kwk?md5=" +
                KwSecureLinkHash(1700000000, "/V2.0.0_000.kwk", "k") + "&expires=1700000000",
            KwSecureLinkAddress("http://f.example:8080/", "V2.0.0_000.kwk", "k", 1700000000));
  EXPECT_EQ("https://cdn.example/rel/My%20Pkg_000.kwk?md5=" +
                KwSecureLinkHash(5, "/rel/My Pkg_000.kwk", "k") + "&expires=5",
            KwSecureLinkAddress("https://cdn.example/rel", "My Pkg_000.kwk", "k", 5));
}

TEST(SecureLink, OptionsBelongTogetherAndAreChecked) {
  auto parse = [](std::vector<std::string> args, KwServeOptions* o, std::string* error) {
    args.insert(args.begin(), {"kwserve", "--root", "/p", "--port", "0"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    return KwParseServeOptions(static_cast<int>(argv.size()), argv.data(), o, error);
  };
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "secret", "from-file\n");
  KwServeOptions o;
  std::string error;
  ASSERT_EQ(0, parse({"--files-url", "https://f.example/v", "--link-secret-file", dir / "secret"},
                     &o, &error))
      << error;
  EXPECT_EQ("from-file", o.linkSecret);
  EXPECT_EQ(600, o.linkTtl);
  EXPECT_EQ(2, parse({"--version"}, &o, &error));
  EXPECT_EQ(2, parse({"--version", "--port", "1"}, &o, &error));
  KwServeOptions published;
  ASSERT_EQ(0, parse({"--version", "V2"}, &published, &error));
  EXPECT_EQ("V2", published.version);
  const std::vector<std::vector<std::string>> bad = {
      {"--files-url", "http://f"},                             // no secret
      {"--link-secret", "s"},                                  // no files-url
      {"--link-ttl", "5"},                                     // no files-url
      {"--files-url", "ftp://f", "--link-secret", "s"},        // scheme
      {"--files-url", "http://", "--link-secret", "s"},        // host
      {"--files-url", "http://f/?a=1", "--link-secret", "s"},  // query
      {"--files-url", "http://f", "--link-secret", "a b"},     // blank
      {"--files-url", "http://f", "--link-secret", "$uri"},    // nginx syntax
      {"--files-url", "http://f", "--link-secret", "s", "--link-ttl", "0"},
      {"--files-url", "http://f", "--link-secret-file", dir / "missing"}};
  for (const auto& args : bad) {
    KwServeOptions fresh;
    error.clear();
    EXPECT_EQ(-1, parse(args, &fresh, &error)) << args[0] << " " << args[1];
    EXPECT_FALSE(error.empty());
  }
}

TEST(SecureLink, SeveralFileServersGoOutAsMirrorsEachSignedWithItsSecret) {
  auto parse = [](std::vector<std::string> args, KwServeOptions* o, std::string* error) {
    args.insert(args.begin(), {"kwserve", "--root", "/p", "--port", "0"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    return KwParseServeOptions(static_cast<int>(argv.size()), argv.data(), o, error);
  };
  KwServeOptions shared, own;
  std::string error;
  ASSERT_EQ(0, parse({"--files-url", "http://a", "--files-url", "http://b", "--link-secret", "s"},
                     &shared, &error));
  EXPECT_EQ(shared.filesUrl, "http://a");
  EXPECT_EQ(shared.mirrorUrls, std::vector<std::string>{"http://b"});
  EXPECT_EQ(shared.mirrorSecrets, std::vector<std::string>{"s"});
  ASSERT_EQ(0, parse({"--files-url", "http://a", "--link-secret", "s1", "--files-url", "http://b",
                      "--link-secret", "s2"},
                     &own, &error));
  EXPECT_EQ(own.linkSecret, "s1");
  EXPECT_EQ(own.mirrorSecrets, std::vector<std::string>{"s2"});
  KwServeOptions wrong;
  EXPECT_EQ(-1, parse({"--files-url", "http://a", "--files-url", "http://b", "--files-url",
                       "http://c", "--link-secret", "s1", "--link-secret", "s2"},
                      &wrong, &error));

  // The answer: "data" for the first server, "mirrors" for the others, and
  // the client keeps both.
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000});
  kwtest::KwServeProcess server(
      pkg.path(), {"--files-url", "http://a.example", "--link-secret", "s1", "--files-url",
                   "https://b.example/m", "--link-secret", "s2"});
  ASSERT_FALSE(server.url().empty());
  CKWDownloadUtilFor util;
  util.SetBaseUrl(server.url().c_str());
  std::vector<PackageEntry> entries;
  char version[80];
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));
  const std::string first = entries[0].url;
  ASSERT_EQ(entries[0].mirrorCount, 1);
  const std::string mirror = entries[0].mirrors[0];
  const std::string expires = first.substr(first.find("expires=") + 8);
  EXPECT_EQ(first, KwSecureLinkAddress("http://a.example", "R_000.kwk", "s1", std::stoll(expires)));
  EXPECT_EQ(mirror,
            KwSecureLinkAddress("https://b.example/m", "R_000.kwk", "s2", std::stoll(expires)));
}

// Status and body of a ranged GET.
long RangedStatus(const std::string& url, std::string* body) {
  CKWHttpWithCurl client;
  client.SetRange(0, 24);
  client.SetBodyLimit(1 << 20);
  client.DoGet(url.c_str());
  if (client.GetResult() != nullptr) body->assign(client.body(), client.resultLength());
  return client.statusCode();
}

TEST(SecureLink, NginxFromTheDeployConfigServesGoodLinksAndRefusesOthers) {
  if (!kwtest::KwNginxProcess::Available()) GTEST_SKIP() << "nginx is not installed";
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir www;
  chmod(www.path().c_str(), 0755);
  std::vector<std::string> volumes = kwtest::WritePackage(www.path(), "P", {300000, 1000});
  const std::string secret = "s3cr3t-Shared";
  ASSERT_FALSE(kwtest::RenderDeployNginx(80, www.path(), secret).empty())
      << "the deploy configuration lost a line the test renders";
  kwtest::KwNginxProcess nginx(
      [&](int port) { return kwtest::RenderDeployNginx(port, www.path(), secret); });
  ASSERT_TRUE(nginx.ready()) << nginx.ErrorLog();

  // The API hands out links to nginx; the designed client follows them.
  kwtest::KwServeProcess api(www.path(), {"--version", "P", "--files-url", nginx.url(),
                                          "--link-secret", secret, "--link-ttl", "60"});
  ASSERT_FALSE(api.url().empty()) << api.Log();
  CKWDownloadUtilFor util;
  util.SetBaseUrl(api.url().c_str());
  char version[80];
  std::vector<PackageEntry> entries;
  ASSERT_EQ(0, util.GetVersion(version, sizeof(version), entries));
  ASSERT_EQ(2u, entries.size());
  ASSERT_EQ(0, util.GetDownloadUrl(entries[0]));
  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  const std::string good = entries[0].url;
  EXPECT_EQ(0u, good.find(nginx.url() + "/P_000.kwk?md5=")) << good;
  EXPECT_STREQ("P_000.tmp", entries[0].name);  // The local name stays the published one.
  std::string got(300000, '\0');
  int64_t total = 0;
  ASSERT_EQ(300000, util.ReadRange(good.c_str(), 0, 300000, &got[0], &total));
  EXPECT_EQ(volumes[0], got);
  EXPECT_EQ(300000, total);
  // A name with characters escaped in the address is signed as nginx sees it.
  kwtest::WriteFile(www / "a b;c.kwk", volumes[1]);
  const std::string escaped = KwSecureLinkAddress(nginx.url(), "a b;c.kwk", secret, now + 60);
  EXPECT_NE(escaped.find("/a%20b;c.kwk?"), std::string::npos) << escaped;
  ASSERT_EQ(1000, util.ReadRange(escaped.c_str(), 0, 1000, &got[0], &total));
  EXPECT_EQ(volumes[1], got.substr(0, 1000));
  // kwserve no longer serves volume bytes itself.
  std::string body;
  EXPECT_EQ(404, RangedStatus(api.url() + "/files/P_000.tmp?expires=0&token=x", &body));

  // A changed signature, a link past its expiry (rightly signed), another
  // secret, another file under a good signature, no signature: all 403.
  std::string tampered = good;
  size_t md5 = tampered.find("md5=") + 4;
  tampered[md5] = tampered[md5] == 'A' ? 'B' : 'A';
  std::string swapped = good;
  swapped.replace(swapped.find("P_000"), 5, "P_001");
  const std::string refused[] = {tampered,
                                 KwSecureLinkAddress(nginx.url(), "P_000.kwk", secret, now - 5),
                                 KwSecureLinkAddress(nginx.url(), "P_000.kwk", "other", now + 60),
                                 swapped,
                                 nginx.url() + "/P_000.kwk",
                                 nginx.url() + "/list.json"};
  // Progress counts what arrives as data, as the engine's speed does.
  int64_t counted = 0;
  CKWDownloadUtilFor counting(&counted, [](void* c, int32_t n) { *static_cast<int64_t*>(c) += n; });
  for (const std::string& url : refused) {
    body.clear();
    EXPECT_EQ(403, RangedStatus(url, &body)) << url;
    ASSERT_FALSE(body.empty());
    // Never data: the range read fails and leaves the destination alone,
    // even when asked for exactly as many bytes as the refusal's body has,
    // and the refusal's page is not counted as bytes arriving.
    std::string dest(body.size(), 'z');
    int64_t untouched = -1;
    EXPECT_LT(
        counting.ReadRange(url.c_str(), 0, static_cast<int32_t>(body.size()), &dest[0], &untouched),
        0)
        << url;
    EXPECT_EQ(std::string(body.size(), 'z'), dest);
    EXPECT_EQ(-1, untouched);
  }
  EXPECT_EQ(0, counted);
  ASSERT_EQ(1000, counting.ReadRange(good.c_str(), 5000, 1000, &got[0], &total));
  EXPECT_EQ(1000, counted);
}

}  // namespace
