// The self-contained installer file: only a volume that holds a whole
// package is carried, the result is installer + marker + volume with the
// run bits, and a refused bundle leaves nothing behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "pkgtestutil.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgbundle.h"

namespace fs = std::filesystem;

namespace {

std::string VolumeHeader(uint32_t number) {
  uint8_t head[kwpkg::kVolumeHeaderSize];
  kwpkg::EncodeVolumeHeader(head, number);
  return std::string(reinterpret_cast<char*>(head), sizeof(head));
}

std::string Reason(const std::string& volumeBytes) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "v", volumeBytes);
  std::string why;
  return KwIsWholePackageVolume((t / "v").c_str(), &why) ? "" : why;
}

std::string Marker(const std::string& version) {
  std::string m =
      std::string(8, '\x01') + std::string(8, '\x02') + std::string(8, '\x03') + version;
  m.resize(kwpkg::kBundleMarkerSize, '\0');
  return m;
}

}  // namespace

TEST(BundleVolumeCheck, OnlyAWholeFirstVolumeIsAccepted) {
  const std::string a = pkgtest::FileRecords("/a.txt", "alpha");
  const std::string b = pkgtest::FileRecords("/b/c.bin", pkgtest::Bytes(7000, 3));
  EXPECT_EQ(Reason(VolumeHeader(0) + a + b), "");
  EXPECT_EQ(Reason(VolumeHeader(0)), "");  // an empty package is whole too

  // The first volume of a longer package ends inside a file.
  const std::string begun = a + pkgtest::Record(1, pkgtest::Descriptor("/big", 0, 10)) +
                            pkgtest::Record(2, pkgtest::Deflate("0123456789"));
  EXPECT_NE(Reason(VolumeHeader(0) + begun).find("first of several volumes"), std::string::npos);
  // A later volume opens inside a file, or says so in its header.
  EXPECT_NE(Reason(VolumeHeader(0) + b.substr(kwpkg::kRecordHeaderSize + kwpkg::kDescriptorSize))
                .find("continues a file"),
            std::string::npos);
  EXPECT_NE(Reason(VolumeHeader(1) + a).find("volume 1"), std::string::npos);
  // Damage and other files.
  EXPECT_NE(Reason(VolumeHeader(0) + a.substr(0, a.size() - 3)).find("ends inside"),
            std::string::npos);
  EXPECT_NE(Reason(VolumeHeader(0) + pkgtest::Record(7, "xyz")).find("damaged"), std::string::npos);
  EXPECT_NE(Reason("#!/bin/sh\necho not a volume at all\n").find("not a package volume"),
            std::string::npos);
}

TEST(BundleVolumeCheck, PackageNameIsTheVolumePrefix) {
  EXPECT_EQ(KwVolumePackageName("/x/y/v201_000.kwk"), "v201");
  EXPECT_EQ(KwVolumePackageName("V2.0.0_000.kwk"), "V2.0.0");
  EXPECT_EQ(KwVolumePackageName("/a_b/plain"), "plain");
}

TEST(Bundle, WritesInstallerMarkerVolumeWithRunBits) {
  kwtest::TempDir t;
  const std::string installer = pkgtest::Bytes(20000, 9);  // not a multiple of a piece
  kwtest::WriteFile(t / "inst", installer);
  ::chmod((t / "inst").c_str(), 0644);  // copied from somewhere that dropped the bits
  const std::string volume = VolumeHeader(0) + pkgtest::FileRecords("/a", "a");
  kwtest::WriteFile(t / "V2.0.0_000.kwk", volume);
  std::string why;
  ASSERT_EQ(KwBundlePackage((t / "inst").c_str(), (t / "V2.0.0_000.kwk").c_str(),
                            (t / "out").c_str(), "V2.0.0", &why),
            kKwBundleOk)
      << why;
  EXPECT_EQ(kwtest::ReadFile(t / "out"), installer + Marker("V2.0.0") + volume);
  struct stat st;
  ASSERT_EQ(::stat((t / "out").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0100, 0100u);
  EXPECT_FALSE(fs::exists(t / "out.part"));
}

TEST(Bundle, RefusalsWriteNothing) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a.bin", pkgtest::Bytes(300000, 1));
  kwtest::WriteFile(t / "src/b.bin", pkgtest::Bytes(300000, 2));
  fs::create_directories(t / "pkg");
  {
    // A tiny volume size spreads the package over several volumes.
    IKWMakePkg maker(1, 100000);
    maker.SetSourceFolder((t / "src").c_str());
    maker.SetOutputFolder((t / "pkg").c_str());
    maker.SetPackageName("P");
    ASSERT_EQ(maker.Start(), 0);
    maker.WaitDone();
    ASSERT_EQ(maker.Result(), 0);
  }
  ASSERT_TRUE(fs::exists(t / "pkg/P_001.kwk"));
  kwtest::WriteFile(t / "inst", "#!installer");
  std::string why;
  EXPECT_EQ(KwBundlePackage((t / "inst").c_str(), (t / "pkg/P_000.kwk").c_str(),
                            (t / "out").c_str(), "P", &why),
            kKwBundleNotWhole);
  EXPECT_NE(why.find("larger volume size"), std::string::npos) << why;
  EXPECT_EQ(KwBundlePackage((t / "inst").c_str(), (t / "pkg/P_000.kwk").c_str(),
                            (t / "out").c_str(), "123456789", &why),
            kKwBundleBadVersion);
  EXPECT_EQ(KwBundlePackage((t / "missing").c_str(), (t / "pkg/P_000.kwk").c_str(),
                            (t / "out").c_str(), "P", &why),
            kKwBundleCannotOpen);
  EXPECT_FALSE(fs::exists(t / "out"));
  EXPECT_FALSE(fs::exists(t / "out.part"));

  // The output named as an input would lose that input.
  kwtest::WriteFile(t / "one_000.kwk", VolumeHeader(0));
  EXPECT_EQ(KwBundlePackage((t / "inst").c_str(), (t / "one_000.kwk").c_str(), (t / "inst").c_str(),
                            "one", &why),
            kKwBundleCannotCreate);
  EXPECT_EQ(kwtest::ReadFile(t / "inst"), "#!installer");
  EXPECT_EQ(KwBundlePackage((t / "inst").c_str(), (t / "one_000.kwk").c_str(),
                            (t / "no/such/folder/out").c_str(), "one", &why),
            kKwBundleCannotCreate);
}

// A link planted at the name a bundle used to be written under turns the
// bundle into a write of the link's target; the bundle goes elsewhere and
// the result stays within the umask.
TEST(Bundle, NeverWritesThroughALinkAtItsTemporaryName) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "inst", "#!installer");
  kwtest::WriteFile(t / "V2.0.0_000.kwk", VolumeHeader(0) + pkgtest::FileRecords("/a", "a"));
  kwtest::WriteFile(t / "victim", "private");
  ::chmod((t / "victim").c_str(), 0600);
  fs::create_symlink(t / "victim", t / "out.part");
  const mode_t saved = ::umask(077);
  std::string why;
  const int r = KwBundlePackage((t / "inst").c_str(), (t / "V2.0.0_000.kwk").c_str(),
                                (t / "out").c_str(), "V2.0.0", &why);
  ::umask(saved);
  ASSERT_EQ(r, kKwBundleOk) << why;
  EXPECT_EQ(kwtest::ReadFile(t / "victim"), "private");
  struct stat st;
  ASSERT_EQ(::stat((t / "victim").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(::lstat((t / "out").c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(kwtest::ReadFile(t / "out").substr(0, 11), "#!installer");
}
