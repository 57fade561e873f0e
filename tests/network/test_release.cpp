// Signed releases: keys in every accepted form, the verdicts of the check an
// installer with a release key makes, and the check inside GetVersion
// against the reference server.
#include <gtest/gtest.h>
#include <json/json.h>

#include <functional>
#include <string>
#include <vector>

#include "baseutil/kwed25519.h"
#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwreleasecheck.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"

namespace {

struct Key {
  KwEd25519Pair pair;
  std::string hex;
};

Key NewKey() {
  Key k;
  std::string error;
  EXPECT_TRUE(KwEd25519Generate(&k.pair, &error)) << error;
  EXPECT_TRUE(KwEd25519PublicKeyHex(k.pair.publicPem, &k.hex, &error)) << error;
  return k;
}

// A version answer's "data" as the server sends it, signed by `key` with
// expiry `expires` over what it carries.
Json::Value SignedData(const Key& key, int64_t expires) {
  Json::Value data(Json::objectValue);
  data["version"] = "V2";
  data["buildtime"] = "2026-12-09T00:00:00Z";
  std::vector<KwReleaseVolume> volumes = {
      {"V2_000.tmp", 1096, "6162630000000000", std::string(64, 'a')},
      {"V2_001.tmp", 20, "00000000000000FF", std::string(64, 'b')}};
  for (const KwReleaseVolume& v : volumes) {
    Json::Value item(Json::objectValue);
    item["key"] = "packages/" + v.name;
    item["length"] = std::to_string(v.length);
    item["checksum"] = v.checksum;
    item["sha256"] = v.sha256;
    data["packages"].append(item);
  }
  std::string sig, error;
  EXPECT_TRUE(KwEd25519Sign(key.pair.privatePem,
                            KwReleaseMessage("V2", "2026-12-09T00:00:00Z", expires, volumes), &sig,
                            &error));
  data["signature"]["expires"] = std::to_string(expires);
  data["signature"]["key"] = KwEd25519KeyId(key.hex);
  data["signature"]["ed25519"] = sig;
  return data;
}

// A release with a manifest: its length and SHA-256 are signed, its address
// is not (the server picks it like the volumes' addresses).
TEST(ReleaseCheck, TheManifestIsCoveredBySignature) {
  Key k = NewKey();
  const int64_t now = 1800000000;
  Json::Value data = SignedData(k, now + 60);
  std::vector<KwReleaseVolume> volumes = {
      {"V2_000.tmp", 1096, "6162630000000000", std::string(64, 'a')},
      {"V2_001.tmp", 20, "00000000000000FF", std::string(64, 'b')}};
  KwReleaseManifest manifest{"manifest.kwm", 777, std::string(64, 'd')};
  std::string sig, error;
  ASSERT_TRUE(KwEd25519Sign(
      k.pair.privatePem,
      KwReleaseMessage("V2", "2026-12-09T00:00:00Z", now + 60, volumes, &manifest), &sig, &error));
  data["signature"]["ed25519"] = sig;
  data["manifest"]["length"] = "777";
  data["manifest"]["sha256"] = manifest.sha256;
  data["manifest"]["url"] = "http://127.0.0.1:1/files/V2.kwm";
  EXPECT_EQ(KwCheckReleaseAnswer(data, k.hex, now), KwReleaseVerdict::Accepted);
  Json::Value moved = data;
  moved["manifest"]["url"] = "http://elsewhere/V2.kwm";
  EXPECT_EQ(KwCheckReleaseAnswer(moved, k.hex, now), KwReleaseVerdict::Accepted);
  for (const char* member : {"length", "sha256"}) {
    Json::Value changed = data;
    changed["manifest"][member] = member[0] == 'l' ? "778" : std::string(64, 'e');
    EXPECT_EQ(KwCheckReleaseAnswer(changed, k.hex, now), KwReleaseVerdict::Changed) << member;
  }
  Json::Value dropped = data;
  dropped.removeMember("manifest");
  EXPECT_EQ(KwCheckReleaseAnswer(dropped, k.hex, now), KwReleaseVerdict::Changed);
}

TEST(ReleaseKey, AcceptedFormsGiveTheSameKeyAndJunkIsRefused) {
  Key k = NewKey();
  ASSERT_EQ(k.hex.size(), 64u);
  std::string body;  // the PEM's base64 lines on one line
  for (const std::string& line : {k.pair.publicPem}) {
    size_t from = line.find('\n') + 1;
    size_t to = line.find("-----END");
    for (char c : line.substr(from, to - from))
      if (c != '\n') body += c;
  }
  std::string hex, error;
  for (const std::string& form : {k.pair.publicPem, body, k.hex, "  " + k.hex + "\n"}) {
    ASSERT_TRUE(KwEd25519PublicKeyHex(form, &hex, &error)) << form;
    EXPECT_EQ(hex, k.hex);
  }
  std::string fromPrivate;
  ASSERT_TRUE(KwEd25519PublicOfPrivate(k.pair.privatePem, &fromPrivate, &error));
  EXPECT_EQ(fromPrivate, k.hex);
  for (const std::string& junk : {std::string("nonsense"), std::string(64, 'g'), k.hex.substr(2),
                                  k.pair.privatePem, std::string()}) {
    EXPECT_FALSE(KwEd25519PublicKeyHex(junk, &hex, &error)) << junk;
  }
  EXPECT_FALSE(KwEd25519PublicOfPrivate(k.pair.publicPem, &hex, &error));
}

TEST(ReleaseCheck, VerdictsForEveryWayAnAnswerCanFail) {
  Key k = NewKey();
  Key other = NewKey();
  const int64_t now = 1800000000;
  Json::Value good = SignedData(k, now + 60);
  EXPECT_EQ(KwCheckReleaseAnswer(good, k.hex, now), KwReleaseVerdict::Accepted);
  EXPECT_EQ(KwCheckReleaseAnswer(good, k.hex, now + 61), KwReleaseVerdict::Expired);
  EXPECT_EQ(KwCheckReleaseAnswer(good, other.hex, now), KwReleaseVerdict::OtherKey);
  EXPECT_EQ(KwCheckReleaseAnswer(good, "", now), KwReleaseVerdict::KeyUnusable);

  Json::Value unsigned_ = good;
  unsigned_.removeMember("signature");
  EXPECT_EQ(KwCheckReleaseAnswer(unsigned_, k.hex, now), KwReleaseVerdict::Unsigned);
  Json::Value empty = good;
  empty["signature"]["ed25519"] = "";
  EXPECT_EQ(KwCheckReleaseAnswer(empty, k.hex, now), KwReleaseVerdict::Unsigned);

  // Anything the signature covers, changed after signing.
  std::vector<std::function<void(Json::Value&)>> changes = {
      [](Json::Value& d) { d["version"] = "V3"; },
      [](Json::Value& d) { d["buildtime"] = "later"; },
      [](Json::Value& d) { d["signature"]["expires"] = "1900000000"; },
      [](Json::Value& d) { d["packages"][1]["length"] = "21"; },
      [](Json::Value& d) { d["packages"][0]["checksum"] = "6162630000000001"; },
      [](Json::Value& d) { d["packages"][1]["sha256"] = std::string(64, 'c'); },
      [](Json::Value& d) { d["packages"][1].removeMember("sha256"); },
      [](Json::Value& d) { d["packages"].resize(1); },
      [](Json::Value& d) {
        std::string s = d["signature"]["ed25519"].asString();
        s[10] = s[10] == '0' ? '1' : '0';
        d["signature"]["ed25519"] = s;
      },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    Json::Value changed = good;
    changes[i](changed);
    EXPECT_EQ(KwCheckReleaseAnswer(changed, k.hex, now), KwReleaseVerdict::Changed) << i;
  }
  // Letter case of the digests and names of the volumes are not signed.
  Json::Value cased = good;
  cased["packages"][0]["checksum"] = "6162630000000000";
  cased["packages"][0]["sha256"] = std::string(64, 'A');
  cased["packages"][0]["key"] = "elsewhere/X_000.tmp";
  EXPECT_EQ(KwCheckReleaseAnswer(cased, k.hex, now), KwReleaseVerdict::Accepted);
}

int64_t FarFuture() {
  return 4000000000;
}

// The check sits in GetVersion: with a key only the signed release comes
// through, without one the designed answer is taken as it is.
TEST(ReleaseCheck, GetVersionAgainstTheReferenceServer) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  Key k = NewKey();
  Key other = NewKey();
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000, 300});
  ASSERT_EQ(0, KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk")));
  KwRelease release;
  std::string error;
  ASSERT_EQ(0, KwLoadRelease(pkg.path(), &release, &error));
  release.isSigned = true;
  release.signature.expires = 1900000000;
  release.signature.keyId = KwEd25519KeyId(k.hex);
  ASSERT_TRUE(KwEd25519Sign(k.pair.privatePem,
                            KwReleaseMessage(release.version, release.buildtime,
                                             release.signature.expires, release.volumes),
                            &release.signature.signature, &error));
  ASSERT_EQ(0, KwSaveRelease(pkg.path(), release));
  kwtest::KwServeProcess server(pkg.path(), {"--max-skew", "3000000000"});
  ASSERT_FALSE(server.url().empty());

  auto ask = [&](const std::string& key, bool future, KwReleaseVerdict* verdict) {
    KwSetReleaseKey(key);
    CKWDownloadUtilFor util;
    util.SetBaseUrl(server.url().c_str());
    if (future) util.SetClock(&FarFuture);
    std::vector<PackageEntry> entries;
    char version[80] = {};
    int r = util.GetVersion(version, sizeof(version), entries);
    *verdict = util.refusal();
    EXPECT_EQ(r == 0, !entries.empty());
    return r;
  };
  KwReleaseVerdict verdict;
  EXPECT_EQ(ask("", false, &verdict), 0);
  EXPECT_EQ(ask(k.hex, false, &verdict), 0);
  EXPECT_EQ(ask(other.hex, false, &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(verdict, KwReleaseVerdict::OtherKey);
  EXPECT_EQ(ask(k.hex, true, &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(verdict, KwReleaseVerdict::Expired);
  EXPECT_EQ(ask("not a key", false, &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(verdict, KwReleaseVerdict::KeyUnusable);
  KwSetReleaseKey("");
}

}  // namespace
