// Signed releases: keys in every accepted form, the verdicts of the check an
// installer with a release key makes, and the check inside GetVersion
// against the reference server.
#include <gtest/gtest.h>
#include <json/json.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "baseutil/kwed25519.h"
#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwreleasecheck.h"
#include "tool/http/kwreleasefloor.h"
#include "tool/http/kwserverconfig.h"
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

// Points the key store into a folder of its own for one test: an accepted
// release leaves its build time there.
class ScopedKeyStore {
 public:
  ScopedKeyStore() {
    const char* old = std::getenv("KW_REGISTRY_DIR");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    ::setenv("KW_REGISTRY_DIR", dir_.path().c_str(), 1);
  }
  ~ScopedKeyStore() {
    if (had_) {
      ::setenv("KW_REGISTRY_DIR", saved_.c_str(), 1);
    } else {
      ::unsetenv("KW_REGISTRY_DIR");
    }
  }

 private:
  kwtest::TempDir dir_;
  bool had_ = false;
  std::string saved_;
};

// Signs release.json of `folder` afresh with build time `buildtime`.
void SignRelease(const std::string& folder, const Key& key, const std::string& buildtime) {
  KwRelease release;
  std::string error;
  ASSERT_EQ(0, KwLoadRelease(folder, &release, &error)) << error;
  release.buildtime = buildtime;
  release.isSigned = true;
  release.signature.expires = 1900000000;
  release.signature.keyId = KwEd25519KeyId(key.hex);
  ASSERT_TRUE(KwEd25519Sign(key.pair.privatePem,
                            KwReleaseMessage(release.version, release.buildtime,
                                             release.signature.expires, release.volumes),
                            &release.signature.signature, &error));
  ASSERT_EQ(0, KwSaveRelease(folder, release));
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
  ScopedKeyStore store;
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

TEST(ReleaseFloor, BuildTimesReadInBothForms) {
  int64_t s = 0;
  EXPECT_TRUE(KwParseBuildTime("2026-12-09T12:00:00Z", &s));
  EXPECT_EQ(s, 1796817600);
  EXPECT_TRUE(KwParseBuildTime("1970-01-01T00:00:00Z", &s));
  EXPECT_EQ(s, 0);
  EXPECT_TRUE(KwParseBuildTime("1796817600", &s));
  EXPECT_EQ(s, 1796817600);
  for (const char* bad : {"", "0x10", "2026-12-09", "2026-12-09T12:00:00", "2026-13-09T12:00:00Z",
                          "2026-12-09T12:00:00Z ", "yesterday"}) {
    EXPECT_FALSE(KwParseBuildTime(bad, &s)) << bad;
  }
}

// A server that goes back to an older release, correctly signed and not yet
// expired, is refused once a newer one was accepted; the same or a newer
// release still passes, and one without a readable build time never does.
TEST(ReleaseFloor, OlderSignedReleaseIsRefusedOnceANewerWasAccepted) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  ScopedKeyStore store;
  Key k = NewKey();
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000, 300});
  ASSERT_EQ(0, KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk")));
  KwSetReleaseKey(k.hex);
  auto ask = [&](const std::string& buildtime, KwReleaseVerdict* verdict) {
    SignRelease(pkg.path(), k, buildtime);
    kwtest::KwServeProcess server(pkg.path(), {});
    EXPECT_FALSE(server.url().empty());
    CKWDownloadUtilFor util;
    util.SetBaseUrl(server.url().c_str());
    std::vector<PackageEntry> entries;
    char version[80] = {};
    int r = util.GetVersion(version, sizeof(version), entries);
    *verdict = util.refusal();
    EXPECT_EQ(r == 0, !entries.empty());
    return r;
  };
  KwReleaseVerdict verdict;
  EXPECT_EQ(ask("2026-12-09T12:00:00Z", &verdict), 0);
  EXPECT_EQ(KwRecordedBuildTime(), "2026-12-09T12:00:00Z");
  EXPECT_EQ(ask("2026-12-09T11:59:59Z", &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(verdict, KwReleaseVerdict::Older);
  EXPECT_STREQ(KwReleaseVerdictKey(verdict), "releaseolder");
  EXPECT_EQ(ask("2026-12-09T12:00:00Z", &verdict), 0);
  EXPECT_EQ(ask("2026-12-10T08:00:00Z", &verdict), 0);
  EXPECT_EQ(KwRecordedBuildTime(), "2026-12-10T08:00:00Z");
  EXPECT_EQ(ask("2026-12-09T12:00:00Z", &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(ask("soon", &verdict), CKWDownloadUtilFor::kReleaseRefused);
  EXPECT_EQ(KwRecordedBuildTime(), "2026-12-10T08:00:00Z");
  KwSetReleaseKey("");
  // Without a key nothing is judged by build time.
  EXPECT_EQ(ask("2020-01-01T00:00:00Z", &verdict), 0);
}

// release.json is written under a fresh name and renamed; a link planted at
// the name it was once written under is never followed.
TEST(ReleaseFile, NeverWrittenThroughALinkAtItsTemporaryName) {
  kwtest::TempDir pkg;
  kwtest::WritePackage(pkg.path(), "R", {5000});
  kwtest::TempDir other;
  kwtest::WriteFile(other / "victim", "private");
  std::filesystem::create_symlink(other / "victim", pkg / "release.json.part");
  ASSERT_EQ(0, KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk")));
  EXPECT_EQ(kwtest::ReadFile(other / "victim"), "private");
  KwRelease release;
  std::string error;
  EXPECT_EQ(0, KwLoadRelease(pkg.path(), &release, &error)) << error;
  EXPECT_EQ(release.volumes.size(), 1u);
}

// A key file named without a folder is taken from beside the ini file and
// from nowhere else: one lying in the folder the installer was started from
// is nobody's word for a release.
TEST(ReleaseKey, AKeyFileNameIsLookedUpBesideTheIniOnly) {
  kwtest::TempDir settings, here;
  Key good = NewKey(), planted = NewKey();
  const std::string ini = settings / "itarnwick.ini";
  kwtest::WriteFile(ini, "[SERVER]\nPUBKEY=release.key.pub\n");
  kwtest::WriteFile(here / "release.key.pub", planted.pair.publicPem);
  char saved[4096];
  ASSERT_NE(::getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(::chdir(here.path().c_str()), 0);
  std::string keyHex;
  KwLoadServerConfig(ini.c_str());
  EXPECT_TRUE(KwConfiguredReleaseKey(&keyHex));
  EXPECT_EQ(keyHex, "") << "the key of the current folder was taken";
  // An ini named relative to the current folder has its key beside it there.
  kwtest::WriteFile(here / "itarnwick.ini", "[SERVER]\nPUBKEY=release.key.pub\n");
  KwLoadServerConfig("itarnwick.ini");
  EXPECT_TRUE(KwConfiguredReleaseKey(&keyHex));
  EXPECT_EQ(keyHex, planted.hex);
  ASSERT_EQ(::chdir(saved), 0);
  // Beside the ini, the file is the key; a key given inline needs no file.
  kwtest::WriteFile(settings / "release.key.pub", good.pair.publicPem);
  KwLoadServerConfig(ini.c_str());
  EXPECT_TRUE(KwConfiguredReleaseKey(&keyHex));
  EXPECT_EQ(keyHex, good.hex);
  kwtest::WriteFile(ini, "[SERVER]\nPUBKEY=" + good.hex + "\n");
  KwLoadServerConfig(ini.c_str());
  EXPECT_TRUE(KwConfiguredReleaseKey(&keyHex));
  EXPECT_EQ(keyHex, good.hex);
  KwSetReleaseKey("");
}
