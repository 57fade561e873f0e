// The unpacker as a push parser: split invariance, file times, bounded
// failure on malformed records, and refusal of names that leave the target.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "pkgtestutil.h"

using pkgtest::Bytes;
using pkgtest::Descriptor;
using pkgtest::FileRecords;
using pkgtest::Record;
using pkgtest::Unpack;

namespace {

// A stream touching every record kind: nested and empty files, a file of
// several chunks, an unknown record type that is skipped by its length.
std::string MixedStream() {
  return FileRecords("/a.txt", "hello", 1500000000000) + FileRecords("/empty", "") +
         Record(7, "ignored payload") + FileRecords("/d/e/f.bin", Bytes(200000, 1, 16)) +
         FileRecords("/d/big", pkgtest::Blocks(kwpkg::kChunkSize + 5, 2), -86400000);
}

}  // namespace

TEST(UnzipPackage, SameResultForAnySplit) {
  const std::string stream = MixedStream();
  kwtest::TempDir ref;
  const pkgtest::Unpacked whole = Unpack(stream, ref.path(), 0);
  ASSERT_FALSE(whole.failed) << whole.error;
  EXPECT_EQ(whole.badFiles, 0);
  EXPECT_EQ(whole.pending, 0);
  EXPECT_EQ(whole.total, 5 + 200000 + kwpkg::kChunkSize + 5);
  const auto tree = pkgtest::ReadTree(ref.path());
  EXPECT_EQ(tree.at("/a.txt"), "hello");
  EXPECT_EQ(tree.at("/empty"), "");
  EXPECT_EQ(tree.at("/d/e/f.bin"), Bytes(200000, 1, 16));
  EXPECT_EQ(tree.at("/d/big"), pkgtest::Blocks(kwpkg::kChunkSize + 5, 2));
  EXPECT_EQ(pkgtest::MtimeMs(ref / "a.txt"), 1500000000000);
  EXPECT_EQ(pkgtest::MtimeMs(ref / "d/big"), -86400000);
  EXPECT_EQ(whole.events.front(), "101:/a.txt:0");
  EXPECT_EQ(whole.events.back(), "102:/d/big:" + std::to_string(whole.total));

  for (size_t step : {1u, 2u, 3u, 7u, 71u, 4096u, 0u}) {
    kwtest::TempDir dir;
    // Inflating on worker threads must not change order or results either.
    const int threads = step == 0 ? 3 : (step % 2 == 0 ? 2 : 1);
    const pkgtest::Unpacked u = Unpack(stream, dir.path(), step, threads);
    EXPECT_EQ(u.events, whole.events) << "step " << step;
    EXPECT_EQ(u.total, whole.total);
    EXPECT_EQ(u.pending, 0);
    EXPECT_EQ(pkgtest::ReadTree(dir.path()), tree) << "step " << step;
  }
}

TEST(UnzipPackage, PartialRecordsWaitForTheirRest) {
  const std::string stream = FileRecords("/x", "abc");
  kwtest::TempDir dir;
  CKWUnzipPackage unzip;
  unzip.SetTargetFolder(dir.path().c_str());
  EXPECT_EQ(unzip.PutBuffer(stream.data(), 5), 0);  // Inside the record header.
  EXPECT_EQ(unzip.Pending(), 5);
  EXPECT_EQ(unzip.PutBuffer(stream.data() + 5, 8 + 528 - 5), 0);  // Exactly one record.
  EXPECT_EQ(unzip.Pending(), 0);
  EXPECT_TRUE(unzip.InsideFile());
  EXPECT_EQ(unzip.PutBuffer(stream.data() + 536, static_cast<int32_t>(stream.size() - 536)), 0);
  EXPECT_FALSE(unzip.InsideFile());
  EXPECT_EQ(unzip.StreamOffset(), static_cast<int64_t>(stream.size()));
  EXPECT_EQ(kwtest::ReadFile(dir / "x"), "abc");
}

TEST(UnzipPackage, MalformedRecordsFailWithOffset) {
  const std::string good = FileRecords("/ok", "fine");
  struct Case {
    const char* what;
    std::string tail;
  } cases[] = {
      {"negative", Record(2, "").substr(0, 4) + std::string("\xFF\xFF\xFF\xFF", 4)},
      {"oversized", std::string("\x02\0\0\0", 4) + std::string("\x41\x1C\x40\x00", 4)},
      {"empty record", Record(2, "")},
      {"short descriptor", Record(1, std::string(100, 'a'))},
      {"long descriptor", Record(3, std::string(600, 'a'))},
  };
  for (const Case& c : cases) {
    for (size_t step : {1u, 0u}) {
      kwtest::TempDir dir;
      const pkgtest::Unpacked u = Unpack(good + c.tail + good, dir.path(), step, step ? 1 : 2);
      EXPECT_TRUE(u.failed) << c.what;
      EXPECT_EQ(u.errorOffset, static_cast<int64_t>(good.size())) << c.what << " " << u.error;
      EXPECT_FALSE(u.error.empty());
      // What came before the bad record stays; nothing after it is acted on.
      EXPECT_EQ(kwtest::ReadFile(dir / "ok"), "fine");
      EXPECT_EQ(u.events.size(), 3u) << c.what;
    }
  }
}

TEST(UnzipPackage, ChunkInflatingBeyondTheLimitFails) {
  const std::string big(kwpkg::kChunkSize + 1, 'z');
  const std::string d = Descriptor("/f", 0, big.size());
  const std::string stream = Record(1, d) + Record(2, pkgtest::Deflate(big)) + Record(3, d);
  kwtest::TempDir dir;
  const pkgtest::Unpacked u = Unpack(stream, dir.path(), 0);
  EXPECT_TRUE(u.failed);
  EXPECT_EQ(u.errorOffset, 536);
  EXPECT_EQ(u.total, 0);
  // Later pushes are refused.
  CKWUnzipPackage unzip;
  unzip.SetTargetFolder(dir.path().c_str());
  EXPECT_EQ(unzip.PutBuffer(stream.data(), static_cast<int32_t>(stream.size())), -1);
  EXPECT_EQ(unzip.PutBuffer("x", 1), -1);
  EXPECT_EQ(unzip.PutBuffer("x", -1), -1);
}

TEST(UnzipPackage, DamageIsCountedNotHidden) {
  kwtest::TempDir dir;
  const std::string d = Descriptor("/c", 0, 10);
  // A corrupt chunk writes nothing and the file ends in error; so does a
  // file whose data is shorter than its descriptor, or one without an end.
  std::string corrupt = pkgtest::Deflate("0123456789");
  corrupt[4] ^= 0x55;
  const std::string stream =
      Record(1, d) + Record(2, corrupt) + Record(3, d) +
      FileRecords("/short", "abc").replace(8 + 520, 8, "\x09\0\0\0\0\0\0\0", 8) +
      Record(1, Descriptor("/open", 0, 1)) + FileRecords("/good", "g") +
      Record(3, Descriptor("/stray", 0, 0));
  const pkgtest::Unpacked u = Unpack(stream, dir.path(), 0);
  EXPECT_FALSE(u.failed);
  EXPECT_EQ(u.badFiles, 4);
  EXPECT_EQ(kwtest::ReadFile(dir / "good"), "g");
  EXPECT_FALSE(std::filesystem::exists(dir / "stray"));
}

TEST(UnzipPackage, HostileNamesWriteNothingOutside) {
  kwtest::TempDir root;
  const std::string target = root / "target";
  std::filesystem::create_directories(target + "/inner");
  std::filesystem::create_directories(root / "outside");
  // Links planted in the target tree: to a folder and to a file outside.
  std::filesystem::create_directory_symlink(root / "outside", target + "/link");
  kwtest::WriteFile(root / "outside/victim", "keep");
  std::filesystem::create_symlink(root / "outside/victim", target + "/inner/victim");

  std::string nulName = "/inner/a";
  nulName += '\0';
  nulName += "b";
  const std::string unterminated = "/" + std::string(600, 'n');
  std::string stream;
  for (const std::string& name :
       {std::string("/../escape"), std::string("/inner/../../escape"), std::string("//escape"),
        std::string("escape"), std::string(""), std::string("/inner\\..\\..\\escape"),
        std::string("/link/escape"), std::string("/inner/victim"), std::string("/link/deep/x"),
        unterminated})
    stream += FileRecords(name, "evil");
  stream += FileRecords(nulName, "nul");  // Stops at the NUL: a plain /inner/a.
  stream += FileRecords("/inner/fine", "ok");
  for (size_t step : {0u, 3u}) {
    const pkgtest::Unpacked u = Unpack(stream, target, step);
    EXPECT_FALSE(u.failed);
    EXPECT_EQ(u.badFiles, 10);
    EXPECT_EQ(kwtest::ReadFile(target + "/inner/fine"), "ok");
    EXPECT_EQ(kwtest::ReadFile(target + "/inner/a"), "nul");
    EXPECT_EQ(kwtest::ReadFile(root / "outside/victim"), "keep");
    EXPECT_EQ(pkgtest::ReadTree(root / "outside").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(root / "escape"));
    EXPECT_FALSE(std::filesystem::exists(root.path() + "/../escape"));
    // Refused names are never announced as created.
    int created = 0;
    for (const std::string& e : u.events) created += e.rfind("101:", 0) == 0 ? 1 : 0;
    EXPECT_EQ(created, 2);
  }
}

TEST(UnzipPackage, MissingTargetIsCreatedEmptyTargetRefused) {
  kwtest::TempDir dir;
  const std::string stream = FileRecords("/x/y", "1");
  EXPECT_EQ(Unpack(stream, dir / "new/deeper", 0).badFiles, 0);
  EXPECT_EQ(kwtest::ReadFile(dir / "new/deeper/x/y"), "1");
  EXPECT_EQ(Unpack(stream, "", 0).badFiles, 1);
}

// The format carries no modes: programs and scripts are recognised by their
// first bytes, even when those arrive in separate chunks, and everything else
// (including a file that replaces a program) is plain data.
TEST(UnzipPackage, ContentDecidesTheRunBits) {
  const std::string elf = std::string(
                              "\x7f"
                              "ELF",
                              4) +
                          Bytes(3000, 5);
  const std::string d = Descriptor("/split", 1600000000123, 3);
  const std::string stream = FileRecords("/bin/app", elf) +
                             FileRecords("/run.sh", "#!/bin/sh\nexit 0\n") + Record(1, d) +
                             Record(2, pkgtest::Deflate("#")) + Record(2, pkgtest::Deflate("!x")) +
                             Record(3, d) + FileRecords("/text.txt", "hello") +
                             FileRecords("/short",
                                         "\x7f"
                                         "EL") +
                             FileRecords("/hash", "#") + FileRecords("/empty", "");
  const mode_t before = ::umask(027);
  for (int threads : {1, 2}) {
    kwtest::TempDir dir;
    kwtest::WriteFile(dir / "text.txt", "old program");
    ::chmod((dir / "text.txt").c_str(), 0755);
    const pkgtest::Unpacked u = Unpack(stream, dir.path(), 0, threads);
    ASSERT_FALSE(u.failed) << u.error;
    EXPECT_EQ(u.badFiles, 0);
    auto mode = [&](const char* name) {
      struct stat st {};
      ::stat((dir / name).c_str(), &st);
      return st.st_mode & 07777;
    };
    EXPECT_EQ(mode("bin/app"), 0750u);
    EXPECT_EQ(mode("run.sh"), 0750u);
    EXPECT_EQ(mode("split"), 0750u);
    for (const char* data : {"text.txt", "short", "hash", "empty"}) {
      EXPECT_EQ(mode(data), 0640u) << data << " with " << threads << " threads";
    }
  }
  ::umask(before);
}
