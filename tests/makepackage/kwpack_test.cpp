// kwpack as release engineers use it: exit status and one-line reasons.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "pkgtestutil.h"

namespace {

struct Out {
  int status;
  std::string text;  // stdout and stderr.
};

Out Kwpack(const std::string& args) {
  const std::string cmd = std::string(KW_BUILD_DIR) + "/bin/kwpack " + args + " 2>&1";
  Out o{-1, {}};
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return o;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof(buf), p)) > 0) o.text.append(buf, n);
  const int st = ::pclose(p);
  o.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return o;
}

}  // namespace

TEST(Kwpack, MakeVerifyUnpackAndReportDamage) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a/b.txt", "bee");
  kwtest::WriteFile(t / "src/c", pkgtest::Bytes(20000, 4));
  const std::string out = t / "out", vol = t / "out/P_000.kwk";
  EXPECT_EQ(Kwpack("make " + (t / "src") + " " + out + " P --volume-size 100").status, 0);
  EXPECT_EQ(Kwpack("verify " + out).status, 0);
  EXPECT_EQ(Kwpack("unpack " + vol + " " + (t / "dst")).status, 0);
  EXPECT_EQ(pkgtest::ReadTree(t / "dst"), pkgtest::ReadTree(t / "src"));
  EXPECT_EQ(Kwpack("unpack " + vol + " " + (t / "dstz") + " --inflater zlib").status, 0);
  EXPECT_EQ(pkgtest::ReadTree(t / "dstz"), pkgtest::ReadTree(t / "src"));
  EXPECT_EQ(Kwpack("unpack " + vol + " " + (t / "dstx") + " --inflater gzip").status, 1);

  // A flipped byte is caught by verify; a missing last volume by unpack.
  std::string v = kwtest::ReadFile(vol);
  v[v.size() - 1] ^= 1;
  kwtest::WriteFile(vol, v);
  Out o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("P_000.kwk: checksum"), std::string::npos) << o.text;
  std::remove((t / "out/P_001.kwk").c_str());
  o = Kwpack("unpack " + vol + " " + (t / "dst2"));
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("kwpack: unpack:"), std::string::npos) << o.text;

  EXPECT_EQ(Kwpack("make " + (t / "missing") + " " + out + " P").status, 1);
  EXPECT_EQ(Kwpack("unpack " + (t / "src/c") + " " + (t / "dst3")).status, 1);
  EXPECT_EQ(Kwpack("bundle " + (t / "src/c") + " " + vol + " " + (t / "b") + " 123456789").status,
            1);
  EXPECT_EQ(Kwpack("frobnicate").status, 2);
  EXPECT_EQ(Kwpack("unpack --help").status, 0);
}

TEST(Kwpack, BundlePutsTheMarkerBetweenInstallerAndVolume) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/x", "x");
  ASSERT_EQ(Kwpack("make " + (t / "src") + " " + (t / "out") + " v201").status, 0);
  kwtest::WriteFile(t / "inst", "#!installer");
  ASSERT_EQ(
      Kwpack("bundle " + (t / "inst") + " " + (t / "out/v201_000.kwk") + " " + (t / "b") + " v201")
          .status,
      0);
  const std::string want = "#!installer" + std::string(8, '\x01') + std::string(8, '\x02') +
                           std::string(8, '\x03') + std::string("v201\0\0\0\0", 8) +
                           kwtest::ReadFile(t / "out/v201_000.kwk");
  EXPECT_EQ(kwtest::ReadFile(t / "b"), want);
}

TEST(Kwpack, BundleRefusesTheFirstOfSeveralVolumes) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a", pkgtest::Bytes(300000, 5));
  kwtest::WriteFile(t / "src/b", pkgtest::Bytes(300000, 6));
  ASSERT_EQ(Kwpack("make " + (t / "src") + " " + (t / "out") + " P --volume-size 100000").status,
            0);
  kwtest::WriteFile(t / "inst", "#!installer");
  const Out o =
      Kwpack("bundle " + (t / "inst") + " " + (t / "out/P_000.kwk") + " " + (t / "b") + " P");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("first of several volumes"), std::string::npos) << o.text;
  EXPECT_FALSE(std::filesystem::exists(t / "b"));
}

// What kwpack could not pack is named on stderr, one line each, and fails the
// run unless links to folders and special files are asked to be skipped.
TEST(Kwpack, MakeNamesWhatItCannotPack) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/bin/run", "#!/bin/sh\n");
  std::filesystem::create_directory_symlink(t / "src/bin", t / "src/lib");
  Out o = Kwpack("make " + (t / "src") + " " + (t / "out") + " P");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("kwpack: make: not packed: /lib: link to a folder"), std::string::npos)
      << o.text;
  o = Kwpack("make " + (t / "src") + " " + (t / "out2") + " P --skip-special");
  EXPECT_EQ(o.status, 0) << o.text;
  EXPECT_NE(o.text.find("kwpack: make: skipped: /lib: link to a folder"), std::string::npos)
      << o.text;
  std::filesystem::create_symlink(t / "nowhere", t / "src/bin/dangling");
  o = Kwpack("make " + (t / "src") + " " + (t / "out3") + " P --skip-special");
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("kwpack: make: not packed: /bin/dangling: link to a missing file"),
            std::string::npos)
      << o.text;
  EXPECT_NE(o.text.find("1 file(s) failed: /bin/dangling"), std::string::npos) << o.text;
}

TEST(Kwpack, VerifyChecksTheManifestAgainstReleaseAndVolumes) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/a.txt", "alpha");
  kwtest::WriteFile(t / "src/b", pkgtest::Bytes(700000, 4, 30));
  const std::string out = t / "out";
  EXPECT_EQ(Kwpack("make " + (t / "src") + " " + out + " P --pieces sideways").status, 1);
  ASSERT_EQ(Kwpack("make " + (t / "src") + " " + out + " P --pieces content").status, 0);
  Out o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 0) << o.text;
  EXPECT_NE(o.text.find("manifest of 2 file(s)"), std::string::npos) << o.text;
  // Another manifest than the one release.json names.
  const std::string good = kwtest::ReadFile(out + "/manifest.kwm");
  std::string bad = good;
  bad[bad.size() - 1] ^= 1;
  kwtest::WriteFile(out + "/manifest.kwm", bad);
  o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("manifest"), std::string::npos) << o.text;
  std::remove((out + "/manifest.kwm").c_str());
  o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.text.find("missing"), std::string::npos) << o.text;
}

// Damaged package files end a command with a reason, never an abort
// (status 134), and leave them as they were.
TEST(Kwpack, DamagedListAndReleaseFilesAreRefusedWithAReason) {
  kwtest::TempDir t;
  kwtest::WriteFile(t / "src/x", "x");
  const std::string out = t / "out";
  ASSERT_EQ(Kwpack("make " + (t / "src") + " " + out + " P").status, 0);
  ASSERT_EQ(Kwpack("keygen " + (t / "release.key")).status, 0);
  const std::string deep = "[" + std::string(5000, '[') + std::string(5000, ']') + "]";

  kwtest::WriteFile(out + "/list.json", deep);
  Out o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 1) << o.text;
  EXPECT_NE(o.text.find("deeper than 64"), std::string::npos) << o.text;
  // Entries of every wrong kind are bad entries, not a crash.
  kwtest::WriteFile(out + "/list.json", R"([1,"x",[2],{"name":[1],"length":{"a":1},"checksum":2},)"
                                        R"({"name":"P_000.kwk","length":"99999999999999999999"}])");
  o = Kwpack("verify " + out);
  EXPECT_EQ(o.status, 1) << o.text;
  EXPECT_NE(o.text.find("bad entry name"), std::string::npos) << o.text;

  const std::string signFolder = "sign " + out + " --key " + (t / "release.key");
  for (const std::string& damaged :
       {"{\"version\":\"P\",\"volumes\":" + deep + "}",
        std::string(
            R"({"version":["P"],"buildtime":{},"volumes":[{"name":[1],"length":1e300,)"
            R"("checksum":{"a":1},"sha256":[]},7],"signature":{"expires":1e300,"key":[]}})"),
        std::string(R"({"volumes":[{"length":18446744073709551615}]})"),
        // Not UTF-8: signing what was read and writing it back changed would
        // give a release no installer accepts.
        std::string("{\"version\":\"V2\xE1"
                    "dd\",\"volumes\":[]}")}) {
    kwtest::WriteFile(out + "/release.json", damaged);
    o = Kwpack(signFolder);
    EXPECT_EQ(o.status, 1) << damaged.substr(0, 200) << "\n" << o.text;
    EXPECT_NE(o.text.find("kwpack: sign:"), std::string::npos) << o.text;
    EXPECT_EQ(kwtest::ReadFile(out + "/release.json"), damaged);
  }
}
