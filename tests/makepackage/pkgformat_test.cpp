// The byte-level contract shared with the installer and the server: the
// volume checksum, list.json, descriptors, times and the stored-name rule.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include <string>
#include <vector>

#include "pkgtestutil.h"
#include "tool/makepackage/kwpkgchecksum.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"

namespace fs = std::filesystem;

using namespace kwpkg;

static std::string NaiveChecksum(const std::string& s) {
  uint8_t acc[8] = {};
  for (size_t i = 0; i < s.size(); ++i) acc[i % 8] += static_cast<uint8_t>(s[i]);
  char out[17];
  for (int i = 0; i < 8; ++i) std::snprintf(out + 2 * i, 3, "%02X", acc[i]);
  return out;
}

TEST(PkgChecksum, GoldenValues) {
  KwVolumeChecksum abc;
  abc.Update("abc", 3);
  EXPECT_EQ(abc.Hex(), "6162630000000000");
  EXPECT_EQ(KwVolumeChecksum().Hex(), "0000000000000000");
  // 0xFF in lane 0 twice wraps to 0xFE; lanes are independent.
  KwVolumeChecksum wrap;
  const std::string ff("\xFF\x01\x00\x00\x00\x00\x00\x00\xFF", 9);
  wrap.Update(ff.data(), ff.size());
  EXPECT_EQ(wrap.Hex(), "FE01000000000000");
}

TEST(PkgChecksum, VectorPathMatchesLaneRuleForAnySplit) {
  const std::string data = pkgtest::Bytes(100003, 7);
  const std::string want = NaiveChecksum(data);
  for (size_t step : {1u, 3u, 7u, 13u, 64u, 65u, 4096u, 100003u}) {
    KwVolumeChecksum sum;
    for (size_t at = 0; at < data.size(); at += step)
      sum.Update(data.data() + at, std::min(step, data.size() - at));
    EXPECT_EQ(sum.Hex(), want) << "step " << step;
    EXPECT_EQ(sum.offset(), data.size());
  }
  // Unaligned starts inside a buffer must not shift the lanes.
  KwVolumeChecksum sum;
  sum.Update(data.data(), 5);
  sum.Update(data.data() + 5, data.size() - 5);
  EXPECT_EQ(sum.Hex(), want);
}

TEST(PkgChecksum, OfFile) {
  kwtest::TempDir dir;
  const std::string data = pkgtest::Bytes(700001, 3);
  kwtest::WriteFile(dir / "v", data);
  EXPECT_EQ(KwVolumeChecksumOfFile((dir / "v").c_str()), NaiveChecksum(data));
  EXPECT_EQ(KwVolumeChecksumOfFile((dir / "missing").c_str()), "");
  EXPECT_EQ(KwVolumeChecksumOfFile(dir.path().c_str()), "");  // A folder is not a volume.
}

TEST(PkgList, ExactBytes) {
  EXPECT_EQ(KwBuildListJson({}), "[\r\n]\r\n");
  KwVolumeEntry a{"/x/P_000.kwk", "P_000.kwk", "6162630000000000", 1096, ""};
  KwVolumeEntry b{"/x/P_001.kwk", "P_001.kwk", "00FF000000000001", 3000000000LL, ""};
  EXPECT_EQ(KwBuildListJson({a}),
            "[\r\n{ \"name\":\"P_000.kwk\", \"length\":\"1096\", "
            "\"checksum\":\"6162630000000000\" }]\r\n");
  EXPECT_EQ(KwBuildListJson({a, b}),
            "[\r\n{ \"name\":\"P_000.kwk\", \"length\":\"1096\", "
            "\"checksum\":\"6162630000000000\" },\r\n"
            "{ \"name\":\"P_001.kwk\", \"length\":\"3000000000\", "
            "\"checksum\":\"00FF000000000001\" }]\r\n");
}

TEST(PkgList, VolumesStopAtFirstMissingOrEmptyAndNoneWritesNothing) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "P_000.tmp", "abc");
  kwtest::WriteFile(dir / "P_001.tmp", "abcdefghi");
  kwtest::WriteFile(dir / "P_002.tmp", "");
  kwtest::WriteFile(dir / "P_003.tmp", "zzz");
  EXPECT_EQ(KwMakeVolumeListJson(dir.path(), "P"), 2);
  EXPECT_EQ(kwtest::ReadFile(dir / "list.json"),
            "[\r\n{ \"name\":\"P_000.tmp\", \"length\":\"3\", "
            "\"checksum\":\"6162630000000000\" },\r\n"
            "{ \"name\":\"P_001.tmp\", \"length\":\"9\", "
            "\"checksum\":\"CA62636465666768\" }]\r\n");
  const std::string listed = kwtest::ReadFile(dir / "list.json");
  // No volume of Q: the list of P stays as it was.
  EXPECT_EQ(KwMakeVolumeListJson(dir.path(), "Q"), 0);
  EXPECT_EQ(kwtest::ReadFile(dir / "list.json"), listed);
  // The maker's own volumes come first; ".tmp" ones only stand in for them.
  kwtest::WriteFile(dir / "P_000.kwk", "kwk");
  EXPECT_EQ(KwMakeVolumeListJson(dir.path(), "P"), 1);
  EXPECT_NE(kwtest::ReadFile(dir / "list.json").find("P_000.kwk"), std::string::npos);
  kwtest::WriteFile(dir / "nowhere/P_000.kwk", "kwk");
  fs::permissions(dir / "nowhere", fs::perms::owner_read | fs::perms::owner_exec);
  if (::geteuid() != 0) {
    EXPECT_EQ(KwMakeVolumeListJson(dir / "nowhere", "P"), -1);
  }
  fs::permissions(dir / "nowhere", fs::perms::owner_all);
}

// release.json rides beside an unchanged list.json with each volume's
// SHA-256 from the same read as its checksum; a signature added later
// survives a round trip through the file.
TEST(PkgRelease, DigestsBesideTheListAndRoundTrip) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "P_000.tmp", "abc");
  kwtest::WriteFile(dir / "P_001.tmp", "");
  ASSERT_EQ(KwMakeVolumeListJson(dir.path(), "P"), 1);
  KwRelease release;
  std::string error;
  ASSERT_EQ(KwLoadRelease(dir.path(), &release, &error), 0) << error;
  EXPECT_EQ(release.version, "P");
  EXPECT_FALSE(release.buildtime.empty());
  ASSERT_EQ(release.volumes.size(), 1u);
  EXPECT_EQ(release.volumes[0].name, "P_000.tmp");
  EXPECT_EQ(release.volumes[0].length, 3);
  EXPECT_EQ(release.volumes[0].checksum, "6162630000000000");
  EXPECT_EQ(release.volumes[0].sha256,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(release.isSigned);

  release.isSigned = true;
  release.signature = {1900000000, "0123456789abcdef", std::string(128, 'a')};
  ASSERT_EQ(KwSaveRelease(dir.path(), release), 0);
  KwRelease back;
  ASSERT_EQ(KwLoadRelease(dir.path(), &back, &error), 0);
  EXPECT_TRUE(back.isSigned);
  EXPECT_EQ(back.signature.expires, 1900000000);
  EXPECT_EQ(back.signature.signature, std::string(128, 'a'));
  EXPECT_EQ(KwReleaseMessage(back.version, back.buildtime, 5, back.volumes),
            KwReleaseMessage(release.version, release.buildtime, 5, release.volumes));

  kwtest::WriteFile(dir / "release.json", "[]");
  EXPECT_EQ(KwLoadRelease(dir.path(), &back, &error), -1);
  EXPECT_EQ(KwLoadRelease(dir / "none", &back, &error), 1);
}

// The signed bytes change with every field, and no text can pose as a
// line of another field; letter case of the digests does not matter.
TEST(PkgRelease, SignedMessageBindsEveryField) {
  std::vector<KwReleaseVolume> v = {{"P_000.kwk", 10, "00aa", "BB11"}};
  const std::string base = KwReleaseMessage("V1", "T", 100, v);
  EXPECT_EQ(base, KwReleaseMessage("V1", "T", 100, {{"other", 10, "00AA", "bb11"}}));
  EXPECT_NE(base, KwReleaseMessage("V2", "T", 100, v));
  EXPECT_NE(base, KwReleaseMessage("V1", "T2", 100, v));
  EXPECT_NE(base, KwReleaseMessage("V1", "T", 101, v));
  EXPECT_NE(base, KwReleaseMessage("V1", "T", 100, {{"P_000.kwk", 11, "00aa", "bb11"}}));
  EXPECT_NE(base, KwReleaseMessage("V1", "T", 100, {{"P_000.kwk", 10, "00ab", "bb11"}}));
  EXPECT_NE(base, KwReleaseMessage("V1", "T", 100, {{"P_000.kwk", 10, "00aa", "bb12"}}));
  EXPECT_NE(base, KwReleaseMessage("V1", "T", 100, {}));
  EXPECT_EQ(KwReleaseMessage("V1\nexpires 9", "T", 100, v).find("\nexpires 9\n"),
            std::string::npos);
}

TEST(PkgFormat, HeaderAndDescriptorBytes) {
  uint8_t h[kVolumeHeaderSize];
  EncodeVolumeHeader(h, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 24),
            std::string("KWPK\x01\0\0\0\x02\0\0\0", 12) + std::string(12, '\0'));
  EXPECT_TRUE(HasVolumeMagic(h, 24));

  FileDescriptor d;
  ASSERT_TRUE(MakeDescriptor(&d, "/bin/app.dll", -2, 0x0102030405LL));
  uint8_t raw[kDescriptorSize];
  EncodeDescriptor(raw, d);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 13), std::string("/bin/app.dll\0", 13));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(raw) + 512, 16),
            std::string("\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x05\x04\x03\x02\x01\0\0\0", 16));
  FileDescriptor back;
  bool terminated = false;
  DecodeDescriptor(raw, &back, &terminated);
  EXPECT_TRUE(terminated);
  EXPECT_STREQ(back.name, "/bin/app.dll");
  EXPECT_EQ(back.mtimeMs, -2);
  EXPECT_EQ(back.size, 0x0102030405LL);

  // 511 bytes fit; 512 are refused rather than cut.
  EXPECT_TRUE(MakeDescriptor(&d, ("/" + std::string(510, 'a')).c_str(), 0, 0));
  EXPECT_FALSE(MakeDescriptor(&d, ("/" + std::string(511, 'a')).c_str(), 0, 0));
}

TEST(PkgFormat, TimesConvertBothWays) {
  // 2020-09-13 12:26:40.123 UTC.
  const int64_t ft = UnixToFileTime(1600000000, 123456789);
  EXPECT_EQ(FileTimeToPkgMs(ft), 1600000000123LL);
  int64_t sec = 0, nsec = 0;
  FileTimeToUnix(PkgMsToFileTime(1600000000123LL), &sec, &nsec);
  EXPECT_EQ(sec, 1600000000);
  EXPECT_EQ(nsec, 123000000);
  // A time exactly on a millisecond keeps that millisecond both ways.
  EXPECT_EQ(FileTimeToPkgMs(UnixToFileTime(1600000000, 123000000)), 1600000000123LL);
  EXPECT_EQ(FileTimeToPkgMs(UnixToFileTime(-1, 999000000)), -1);
  FileTimeToUnix(PkgMsToFileTime(-5000), &sec, &nsec);  // Before 1970.
  EXPECT_EQ(sec, -5);
  // Hostile extremes saturate instead of overflowing.
  FileTimeToUnix(PkgMsToFileTime(INT64_MAX), &sec, &nsec);
  FileTimeToUnix(PkgMsToFileTime(INT64_MIN), &sec, &nsec);
}

TEST(PkgFormat, StoredNameRule) {
  for (const char* ok : {"/a", "/bin/app.dll", "/.hidden/x", "/a..b/c", "/...", "/中文/名"})
    EXPECT_TRUE(IsSafeStoredName(ok, nullptr)) << ok;
  for (const char* bad : {"", "a/b", "/", "/a/", "//a", "/a//b", "/..", "/a/../../b", "/./a",
                          "/a/.", "/a\\..\\b", "/a\tb", "/a\nb"})
    EXPECT_FALSE(IsSafeStoredName(bad, nullptr)) << bad;
  EXPECT_FALSE(IsSafeStoredName(("/" + std::string(511, 'a')).c_str(), nullptr));
}
