// Malformed volumes never crash, hang or write outside the target: the
// fixtures kept beside this file, and a bounded mutation loop over golden
// volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <random>

#include "pkgtestutil.h"
#include "tool/makepackage/ikwmakepkg.h"

namespace fs = std::filesystem;

namespace {

std::string Fixture(const char* name) {
  const std::string v =
      kwtest::ReadFile(std::string(KW_SOURCE_DIR) + "/tests/makepackage/fixtures/" + name);
  EXPECT_GT(v.size(), 24u) << name;
  return v.size() > 24 ? v.substr(24) : std::string();
}

struct Verdict {
  pkgtest::Unpacked u;
  std::map<std::string, std::string> tree;
};

// Unpacks into root/t and checks that root holds nothing else afterwards.
Verdict UnpackContained(const std::string& stream, size_t step, int threads = 1,
                        KwInflaterKind kind = KwInflaterKind::kLibdeflate) {
  kwtest::TempDir root;
  fs::create_directories(root / "t/sub");
  fs::create_directory_symlink(root / "elsewhere", root / "t/sub/link");
  fs::create_directories(root / "elsewhere");
  Verdict v{pkgtest::Unpack(stream, root / "t", step, threads, kind), {}};
  size_t outside = 0;
  for (auto& e : fs::directory_iterator(root.path())) outside += e.path().filename() != "t";
  EXPECT_EQ(outside, 1u);  // Only "elsewhere", left empty.
  EXPECT_TRUE(fs::is_empty(root / "elsewhere"));
  v.tree = pkgtest::ReadTree(root / "t");
  return v;
}

// The fast inflater must judge every stream as zlib does: same files, same
// reports, same failure with the same reason at the same offset.
void ExpectSameAsZlib(const std::string& stream, size_t step, int threads, const char* what) {
  const Verdict fast = UnpackContained(stream, step, threads, KwInflaterKind::kLibdeflate);
  const Verdict ref = UnpackContained(stream, step, threads, KwInflaterKind::kZlib);
  EXPECT_EQ(fast.u.failed, ref.u.failed) << what;
  EXPECT_EQ(fast.u.error, ref.u.error) << what;
  EXPECT_EQ(fast.u.errorOffset, ref.u.errorOffset) << what;
  EXPECT_EQ(fast.u.badFiles, ref.u.badFiles) << what;
  EXPECT_EQ(fast.u.total, ref.u.total) << what;
  EXPECT_EQ(fast.u.events, ref.u.events) << what;
  EXPECT_EQ(fast.tree, ref.tree) << what;
}

}  // namespace

TEST(PkgFixtures, GoodVolumeUnpacksInAnySplit) {
  const std::string s = Fixture("good.kwk");
  for (size_t step : {1u, 2u, 3u, 7u, 71u, 4096u, 0u}) {
    kwtest::TempDir dir;
    const pkgtest::Unpacked u = pkgtest::Unpack(s, dir.path(), step);
    EXPECT_FALSE(u.failed);
    EXPECT_EQ(u.badFiles, 0);
    EXPECT_EQ(u.total, 10 + kwpkg::kChunkSize + 1 + 34);
    EXPECT_EQ(kwtest::ReadFile(dir / "readme.txt"), "Tarnwick\r\n");
    EXPECT_EQ(kwtest::ReadFile(dir / "bin/lib/two-chunks.bin"),
              pkgtest::Blocks(kwpkg::kChunkSize + 1, 3));
    EXPECT_EQ(pkgtest::MtimeMs(dir / "empty"), 1600000000123);
    EXPECT_TRUE(fs::exists(dir / ".hidden/kept"));
  }
}

TEST(PkgFixtures, MalformedVolumesFailOrSkipSafely) {
  struct Expect {
    const char* file;
    bool failed;
    int64_t offset;  // Of the bad record, when failed; -1: not checked.
    int32_t badFiles;
  } table[] = {
      {"oversized.kwk", true, 536, 1},  {"negative.kwk", true, 536, 1},
      {"zerolength.kwk", true, 536, 1}, {"bomb.kwk", true, 536, 1},
      {"hostile.kwk", false, -1, 8},    {"unknown.kwk", false, -1, 0},
      {"truncated.kwk", false, -1, 0},  {"garbage.kwk", true, -1, 0},
  };
  for (const Expect& e : table) {
    for (size_t step : {1u, 7u, 0u}) {
      for (KwInflaterKind kind : {KwInflaterKind::kLibdeflate, KwInflaterKind::kZlib}) {
        const pkgtest::Unpacked u =
            UnpackContained(Fixture(e.file), step, step == 0 ? 2 : 1, kind).u;
        EXPECT_EQ(u.failed, e.failed) << e.file << " " << u.error;
        if (e.offset >= 0) {
          EXPECT_EQ(u.errorOffset, e.offset) << e.file;
        }
        EXPECT_EQ(u.badFiles, e.badFiles) << e.file;
      }
    }
    ExpectSameAsZlib(Fixture(e.file), 0, 1, e.file);
  }
}

TEST(PkgFixtures, BoundedMutationLoop) {
  // Golden volumes: the fixture and one written by the maker now.
  kwtest::TempDir src, out;
  kwtest::WriteFile(src / "a/b.txt", std::string(5000, 'b'));
  kwtest::WriteFile(src / "e", "");
  kwtest::WriteFile(src / "c", pkgtest::Bytes(3000, 9));
  IKWMakePkg maker(1);
  maker.SetSourceFolder(src.path().c_str());
  maker.SetOutputFolder(out.path().c_str());
  maker.SetPackageName("P");
  maker.SetRunning();
  maker.Run();
  ASSERT_EQ(maker.Result(), 0);
  const std::vector<std::string> bases = {kwtest::ReadFile(out / "P_000.kwk").substr(24),
                                          Fixture("good.kwk")};
  std::mt19937 rng(20261208);
  const size_t steps[] = {1, 3, 71, 4096, 0};
  for (int iter = 0; iter < 300; ++iter) {
    std::string s = bases[iter % bases.size()];
    switch (rng() % 5) {
      case 0:  // Flip a few bytes anywhere.
        for (int k = 1 + rng() % 8; k > 0; --k) s[rng() % s.size()] ^= char(1 + rng() % 255);
        break;
      case 1:  // Truncate.
        s.resize(rng() % s.size());
        break;
      case 2: {  // Overwrite a 4-byte field with a hostile integer.
        static const uint32_t kValues[] = {0, 0xFFFFFFFF, 0x80000000, 0x7FFFFFFF, 528, 4200001, 3};
        const size_t at = rng() % (s.size() - 4);
        kwpkg::PutU32(reinterpret_cast<uint8_t*>(&s[at]), kValues[rng() % 7]);
        break;
      }
      case 3:  // Repeat or drop a slice.
      {
        const size_t a = rng() % s.size(), n = rng() % 700;
        if (rng() % 2) {
          s.insert(a, s.substr(a, n));
        } else {
          s.erase(a, n);
        }
        break;
      }
      default:  // Garbage in the name area of the first record.
        for (int k = 0; k < 16; ++k) s[8 + rng() % 40] = char(rng() % 256);
        break;
    }
    const size_t step = steps[rng() % 5];
    if (iter % 3 == 0) {
      ExpectSameAsZlib(s, step, 1 + iter % 2, ("mutant " + std::to_string(iter)).c_str());
    } else {
      UnpackContained(s, step, 1 + iter % 2);
    }
  }
}
