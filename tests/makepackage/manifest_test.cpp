// The release manifest: its bytes, the push reader however the bytes are
// split, refusal of damaged or inconsistent manifests, and the maker's and
// the volume scanner's manifests agreeing with the volumes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>

#include "baseutil/kwsha256.h"
#include "main/kwglobals.h"
#include "pkgtestutil.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwmanifest.h"
#include "tool/makepackage/kwmanifestscan.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"

namespace {

KwManifest Sample() {
  KwManifest m;
  m.volumeLengths = {5000};
  KwManifestFile a;
  a.name = "/bin/a";
  a.mtimeMs = 1600000000123;
  a.size = 300;
  for (int i = 0; i < 2; ++i) {
    KwManifestPiece p;
    p.length = 150;
    std::memset(p.sha256, 0x11 * (i + 1), 32);
    p.volume = 0;
    p.recordOffset = 24 + 536 + i * 100;
    p.recordLength = 100;
    a.pieces.push_back(p);
  }
  KwManifestFile e;
  e.name = "/e";
  m.files = {a, e};
  return m;
}

std::string Hex(const std::string& s) {
  return KwHexLower(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

std::string Inflated(const std::string& z, size_t n) {
  std::string out(n, '\0');
  uLongf len = n;
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(&out[0]), &len,
                       reinterpret_cast<const Bytef*>(z.data()), z.size()),
            Z_OK);
  out.resize(len);
  return out;
}

int Parse(const std::string& bytes, KwManifest* out, std::string* why, size_t step = 0) {
  KwManifestReader r;
  if (step == 0) step = bytes.size() + 1;
  for (size_t at = 0; at < bytes.size(); at += step) {
    if (r.Put(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
              std::min(step, bytes.size() - at)) != 0)
      break;
  }
  const int rc = r.Finish(out);
  *why = r.Error();
  return rc;
}

// Re-seals a manifest after its body was changed, so only the body rules
// can refuse it.
std::string Seal(const std::string& body) {
  uLongf n = compressBound(body.size());
  std::string z(n, '\0');
  compress2(reinterpret_cast<Bytef*>(&z[0]), &n, reinterpret_cast<const Bytef*>(body.data()),
            body.size(), 9);
  z.resize(n);
  uint8_t head[24];
  kwpkg::PutU32(head, kwmanifest::kMagic);
  kwpkg::PutU32(head + 4, 1);
  kwpkg::PutI64(head + 8, static_cast<int64_t>(body.size()));
  kwpkg::PutI64(head + 16, static_cast<int64_t>(z.size()));
  std::string out(reinterpret_cast<char*>(head), 24);
  out += z;
  KwSha256 sha;
  sha.Update(out.data(), out.size());
  uint8_t d[32];
  sha.Final(d);
  return out + std::string(reinterpret_cast<char*>(d), 32);
}

}  // namespace

TEST(Manifest, GoldenLayoutAndSplitInvariantRoundTrip) {
  const std::string bytes = KwEncodeManifest(Sample());
  EXPECT_EQ(KwEncodeManifest(Sample()), bytes);  // deterministic
  ASSERT_GT(bytes.size(), 56u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("KWMF\x01\0\0\0", 8));
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const int64_t bodyLength = kwpkg::GetI64(p + 8);
  const int64_t packed = kwpkg::GetI64(p + 16);
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), 24 + packed + 32);
  EXPECT_EQ(Hex(bytes.substr(bytes.size() - 32)), KwSha256Hex(bytes.data(), bytes.size() - 32));
  // The body, byte for byte.
  std::string want =
      "01000000"
      "8813000000000000"  // one volume of 5000 bytes
      "02000000"          // two files
      "0600"
      "2f62696e2f61"  // "/bin/a"
      "7b806e8774010000"
      "2c01000000000000"
      "02000000";
  for (int i = 0; i < 2; ++i) {
    want += "96000000" + std::string(64, "12"[i]) + "00000000" +
            (i == 0 ? "3002000000000000" : "9402000000000000") + "64000000";
  }
  want +=
      "0200"
      "2f65"
      "0000000000000000"
      "0000000000000000"
      "00000000";
  EXPECT_EQ(Hex(Inflated(bytes.substr(24, packed), bodyLength)), want);

  for (size_t step : {0, 1, 2, 3, 7, 71}) {
    KwManifest back;
    std::string why;
    ASSERT_EQ(Parse(bytes, &back, &why, step), 0) << step << ": " << why;
    EXPECT_EQ(KwManifestDifference(Sample(), back), "") << step;
  }
}

TEST(Manifest, DamagedOrInconsistentManifestsAreRefusedNeverCrash) {
  const std::string good = KwEncodeManifest(Sample());
  KwManifest out;
  std::string why;
  // Every cut and every flipped bit is refused by length or checksum.
  for (size_t n = 0; n < good.size(); ++n) {
    EXPECT_NE(Parse(good.substr(0, n), &out, &why), 0) << n;
    std::string bad = good;
    bad[n] = static_cast<char>(bad[n] ^ (1 << (n % 8)));
    EXPECT_NE(Parse(bad, &out, &why, 1 + n % 5), 0) << n;
  }
  EXPECT_NE(Parse(good + "x", &out, &why), 0);
  EXPECT_NE(why.find("after"), std::string::npos) << why;

  // Sealed bodies that break a rule: the checksum holds, the body does not.
  const auto* p = reinterpret_cast<const uint8_t*>(good.data());
  const std::string body = Inflated(good.substr(24, kwpkg::GetI64(p + 16)), kwpkg::GetI64(p + 8));
  ASSERT_EQ(Parse(Seal(body), &out, &why), 0) << why;
  auto refused = [&](std::string b, const char* what) {
    EXPECT_NE(Parse(Seal(b), &out, &why), 0) << what;
    return why;
  };
  std::string b = body;
  b[19] = '.';  // "/bin/a" -> "/./n/a"
  b[20] = '/';
  EXPECT_NE(refused(b, "unsafe name").find("unsafe"), std::string::npos);
  b = body;
  b[34] = 1;  // size 300 -> 65836: the pieces no longer add up
  EXPECT_NE(refused(b, "sum").find("add up"), std::string::npos);
  b = body;
  b[91] = 0x7f;  // the first record's offset far past the volume
  EXPECT_NE(refused(b, "place").find("outside"), std::string::npos);
  refused(body.substr(0, body.size() - 1), "short body");
  refused(body + '\0', "trailing byte");
  b = body;
  b[12] = static_cast<char>(0xff);  // file count far beyond the bytes
  refused(b, "count");
  // Random bodies under a good seal: refused or accepted, never a crash.
  for (uint32_t seed = 0; seed < 300; ++seed) {
    std::string r = body;
    uint32_t x = seed * 2654435761u + 3;
    for (int k = 0; k < 4; ++k) {
      x = x * 1664525u + 1013904223u;
      r[(x >> 8) % r.size()] = static_cast<char>(x >> 24);
    }
    Parse(Seal(r.substr(0, r.size() - seed % 3)), &out, &why, 1 + seed % 7);
  }
}

TEST(Manifest, MakerManifestMatchesTheVolumesAndReleaseNamesIt) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a.txt", "alpha");
  kwtest::WriteFile(t / "src/empty", "");
  kwtest::WriteFile(t / "src/big/blob", pkgtest::Blocks(2 * kwpkg::kChunkSize + 17, 3));
  for (KwPieceMode mode : {KwPieceMode::kFixed, KwPieceMode::kContent}) {
    std::string first;
    for (int threads : {1, 3}) {
      const std::string out =
          t / ("out" + std::to_string(threads) + (mode == KwPieceMode::kContent ? "c" : "f"));
      std::filesystem::create_directories(out);
      IKWMakePkg maker(threads, 2000);
      maker.SetSourceFolder((t / "src").c_str());
      maker.SetOutputFolder(out.c_str());
      maker.SetPackageName("P");
      maker.SetPieceMode(mode);
      ASSERT_EQ(maker.Start(), 0);
      maker.WaitDone();
      g_makeStopFlag = 0;
      ASSERT_EQ(maker.Result(), 0) << maker.ErrorText();
      ASSERT_TRUE(maker.ManifestWritten());
      KwManifest m;
      std::string bytes, why;
      ASSERT_EQ(KwLoadManifestFile(out + "/manifest.kwm", &m, &bytes, &why), 0) << why;
      std::vector<std::string> paths;
      for (const KwVolumeEntry& e : maker.Volumes()) paths.push_back(e.path);
      EXPECT_GE(paths.size(), 2u);  // a record place in a later volume is covered
      KwManifest scanned;
      ASSERT_EQ(KwScanVolumes(paths, &scanned, &why), 0) << why;
      EXPECT_EQ(KwManifestDifference(m, scanned), "");
      ASSERT_EQ(m.files.size(), 3u);
      EXPECT_EQ(m.files[1].name, "/big/blob");
      if (mode == KwPieceMode::kFixed) EXPECT_EQ(m.files[1].pieces.size(), 3u);
      KwRelease release;
      ASSERT_EQ(KwLoadRelease(out, &release, &why), 0) << why;
      ASSERT_TRUE(release.hasManifest);
      EXPECT_EQ(release.manifest.length, static_cast<int64_t>(bytes.size()));
      EXPECT_EQ(release.manifest.sha256, KwSha256Hex(bytes.data(), bytes.size()));
      // The signed message changes with the manifest.
      EXPECT_NE(KwReleaseMessage("v", "b", 1, release.volumes, &release.manifest),
                KwReleaseMessage("v", "b", 1, release.volumes));
      std::string all;
      for (const std::string& path : paths) all += kwtest::ReadFile(path);
      all += bytes;
      if (first.empty()) {
        first = all;
      } else {
        EXPECT_TRUE(all == first) << "threads change the bytes";
      }
      kwtest::TempDir dest;
      std::string stream;
      for (const std::string& path : paths) stream += kwtest::ReadFile(path).substr(24);
      const pkgtest::Unpacked u = pkgtest::Unpack(stream, dest.path(), 71);
      EXPECT_FALSE(u.failed);
      EXPECT_EQ(pkgtest::ReadTree(dest.path()), pkgtest::ReadTree(t / "src"));
    }
  }
  // "list" describes .tmp volumes the same way; a damaged volume gets none.
  const std::string out = t / "out1f";
  for (int k = 0; std::filesystem::exists(kwpkg::VolumePath(out, "P", k)); ++k)
    std::filesystem::rename(kwpkg::VolumePath(out, "P", k), kwpkg::VolumePath(out, "P", k, "tmp"));
  const std::string made = kwtest::ReadFile(out + "/manifest.kwm");
  std::filesystem::remove(out + "/manifest.kwm");
  ASSERT_GT(KwMakeVolumeListJson(out, "P"), 0);
  EXPECT_TRUE(kwtest::ReadFile(out + "/manifest.kwm") == made);
  std::string v = kwtest::ReadFile(kwpkg::VolumePath(out, "P", 0, "tmp"));
  v.resize(v.size() - 3);
  kwtest::WriteFile(kwpkg::VolumePath(out, "P", 0, "tmp"), v);
  ASSERT_GT(KwMakeVolumeListJson(out, "P"), 0);
  EXPECT_FALSE(std::filesystem::exists(out + "/manifest.kwm"));
  KwRelease release;
  std::string why;
  ASSERT_EQ(KwLoadRelease(out, &release, &why), 0);
  EXPECT_FALSE(release.hasManifest);
}
