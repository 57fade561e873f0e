// The maker end to end: golden volume bytes, the walk rules, volume splits,
// identical output for any thread count, cancel, and the round trip through
// the unpacker with times.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "main/kwglobals.h"
#include "pkgtestutil.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace fs = std::filesystem;
using pkgtest::Bytes;

namespace {

struct MakeRun : IKWMakeCompletion {
  std::vector<std::string> events;
  std::vector<int32_t> commands;
  IKWMakePkg* maker = nullptr;
  std::string cancelAt;  // Cancel when this file begins.
  bool useStopFlag = false;
  int32_t restartDuringRun = 0;
  void OnMakeCommand(int32_t command) override { commands.push_back(command); }
};

int OnMakeEvent(void* ctx, int32_t code, const char* text, int64_t total) {
  MakeRun* r = static_cast<MakeRun*>(ctx);
  r->events.push_back(std::to_string(code) + ":" + text + ":" + std::to_string(total));
  if (code == IKWMakePkg::kCodeStart) r->restartDuringRun = r->maker->Start();
  if (code == IKWMakePkg::kCodeFileBegin && r->cancelAt == text) {
    if (r->useStopFlag) {
      g_makeStopFlag = 1;
    } else {
      r->maker->Cancel();
    }
  }
  return 0;
}

// Runs a maker on its own thread and waits for it, as the window does.
int32_t Make(const std::string& src, const std::string& out, int threads, int64_t threshold,
             MakeRun* run = nullptr, std::vector<KwVolumeEntry>* volumes = nullptr) {
  MakeRun local;
  if (run == nullptr) run = &local;
  IKWMakePkg maker(threads, threshold);
  run->maker = &maker;
  maker.SetSourceFolder(src.c_str());
  maker.SetOutputFolder(out.c_str());
  maker.SetPackageName("P");
  maker.SetCallback(&OnMakeEvent, run);
  maker.SetCompletion(run);
  EXPECT_EQ(maker.Start(), 0);
  maker.WaitDone();
  EXPECT_EQ(run->restartDuringRun, -1);  // Only one run at a time.
  g_makeStopFlag = 0;
  if (volumes != nullptr) *volumes = maker.Volumes();
  return maker.Result();
}

// Every volume of package P in `out`, in order, after its header.
std::string StreamOf(const std::string& out, std::vector<std::string>* files = nullptr) {
  std::string s;
  for (int k = 0;; ++k) {
    const std::string path = kwpkg::VolumePath(out, "P", k);
    if (!fs::exists(path)) break;
    const std::string v = kwtest::ReadFile(path);
    EXPECT_TRUE(kwpkg::HasVolumeMagic(reinterpret_cast<const uint8_t*>(v.data()), v.size()));
    EXPECT_EQ(kwpkg::GetU32(reinterpret_cast<const uint8_t*>(v.data()) + 8), uint32_t(k));
    if (files != nullptr) files->push_back(v);
    s += v.substr(kwpkg::kVolumeHeaderSize);
  }
  return s;
}

// (type, length) of every record of one volume.
std::vector<std::pair<int32_t, int32_t>> Records(const std::string& volume) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (size_t at = kwpkg::kVolumeHeaderSize; at + 8 <= volume.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(volume.data() + at);
    const auto len = static_cast<int32_t>(kwpkg::GetU32(p + 4));
    out.emplace_back(static_cast<int32_t>(kwpkg::GetU32(p)), len);
    at += 8 + static_cast<size_t>(len);
  }
  return out;
}

void SetMtime(const std::string& path, int64_t sec, long nsec) {
  struct timespec ts[2] = {{sec, nsec}, {sec, nsec}};
  ::utimensat(AT_FDCWD, path.c_str(), ts, AT_SYMLINK_NOFOLLOW);
}

// The tree of the round trip: nested folders, empty files, an empty folder,
// hidden names, chunk-boundary sizes.
void BuildTree(const std::string& src) {
  kwtest::WriteFile(src + "/readme.txt", "read me\r\n");
  kwtest::WriteFile(src + "/empty1", "");
  kwtest::WriteFile(src + "/bin/empty2", "");
  kwtest::WriteFile(src + "/bin/lib/deep/app.dll", Bytes(100000, 5, 256));
  kwtest::WriteFile(src + "/bin/exact", pkgtest::Blocks(kwpkg::kChunkSize, 6));
  kwtest::WriteFile(src + "/data/three", pkgtest::Blocks(2 * kwpkg::kChunkSize + 1, 7));
  kwtest::WriteFile(src + "/.profile", "hidden");
  kwtest::WriteFile(src + "/.cache/inside", "hidden too");
  kwtest::WriteFile(src + "/data/.git/config", "hidden");
  fs::create_directories(src + "/emptyfolder");
  SetMtime(src + "/readme.txt", 1600000000, 123456789);
  SetMtime(src + "/empty1", 86400, 0);
  SetMtime(src + "/data/three", 1700000000, 999999999);
}

void ExpectRoundTrip(const std::string& src, const std::string& out, size_t step) {
  kwtest::TempDir dest;
  const pkgtest::Unpacked u = pkgtest::Unpack(StreamOf(out), dest.path(), step);
  ASSERT_FALSE(u.failed) << u.error;
  EXPECT_EQ(u.badFiles, 0);
  auto want = pkgtest::ReadTree(src);
  for (auto it = want.begin(); it != want.end();) {
    // Hidden names are not packed; folders come back only with files in them.
    const bool drop = it->first.find("/.") != std::string::npos || it->first == "/emptyfolder/";
    it = drop ? want.erase(it) : std::next(it);
  }
  EXPECT_EQ(pkgtest::ReadTree(dest.path()), want);
  for (const char* f : {"/readme.txt", "/empty1", "/bin/exact", "/data/three"})
    EXPECT_EQ(pkgtest::MtimeMs(dest.path() + f), pkgtest::MtimeMs(src + f)) << f;
}

}  // namespace

TEST(MakePkg, OneEmptyFileGivesTheGoldenVolume) {
  kwtest::TempDir src, out;
  kwtest::WriteFile(src / "e", "");
  SetMtime(src / "e", 1600000000, 0);
  ASSERT_EQ(Make(src.path(), out.path(), 1, kwpkg::kVolumeThreshold), 0);
  const std::string d = pkgtest::Descriptor("/e", 1600000000000, 0);
  const std::string want = std::string("KWPK\x01\0\0\0\0\0\0\0", 12) + std::string(12, '\0') +
                           std::string("\x01\0\0\0\x10\x02\0\0", 8) + d +
                           std::string("\x03\0\0\0\x10\x02\0\0", 8) + d;
  ASSERT_EQ(want.size(), 1096u);
  EXPECT_EQ(kwtest::ReadFile(out / "P_000.kwk"), want);
  EXPECT_EQ(kwtest::ReadFile(out / "list.json"),
            "[\r\n{ \"name\":\"P_000.kwk\", \"length\":\"1096\", "
            "\"checksum\":\"AD212C5909060000\" }]\r\n");
}

TEST(MakePkg, EmptyOrMissingSource) {
  kwtest::TempDir src, out;
  MakeRun run;
  EXPECT_EQ(Make(src.path(), out.path(), 2, kwpkg::kVolumeThreshold, &run), 0);
  EXPECT_EQ(kwtest::ReadFile(out / "list.json"), "[\r\n]\r\n");
  EXPECT_FALSE(fs::exists(out / "P_000.kwk"));
  EXPECT_EQ(run.events, (std::vector<std::string>{"0:start:0", "3:end:0"}));
  EXPECT_EQ(run.commands, std::vector<int32_t>{120});
  // A source that does not exist is not a successful empty package.
  EXPECT_EQ(Make(src / "nope", out.path(), 1, kwpkg::kVolumeThreshold), -1);
}

TEST(MakePkg, RoundTripWithTimesAndChunkBoundaries) {
  kwtest::TempDir src, out;
  BuildTree(src.path());
  MakeRun run;
  std::vector<KwVolumeEntry> volumes;
  ASSERT_EQ(Make(src.path(), out.path(), 0, kwpkg::kVolumeThreshold, &run, &volumes), 0);
  ASSERT_EQ(volumes.size(), 1u);
  // Sorted walk, file by file, totals before and after.
  const int64_t c = kwpkg::kChunkSize;
  EXPECT_EQ(run.events,
            (std::vector<std::string>{"0:start:0", "1:/bin/empty2:0", "2:/bin/empty2:0",
                                      "1:/bin/exact:0", "2:/bin/exact:" + std::to_string(c),
                                      "1:/bin/lib/deep/app.dll:" + std::to_string(c),
                                      "2:/bin/lib/deep/app.dll:" + std::to_string(c + 100000),
                                      "1:/data/three:" + std::to_string(c + 100000),
                                      "2:/data/three:" + std::to_string(3 * c + 100001),
                                      "1:/empty1:" + std::to_string(3 * c + 100001),
                                      "2:/empty1:" + std::to_string(3 * c + 100001),
                                      "1:/readme.txt:" + std::to_string(3 * c + 100001),
                                      "2:/readme.txt:" + std::to_string(3 * c + 100010),
                                      "3:end:" + std::to_string(3 * c + 100010)}));
  // exact: one data record; three: three; empty files: none.
  std::vector<std::string> files;
  StreamOf(out.path(), &files);
  std::vector<int32_t> types;
  for (auto& r : Records(files[0])) types.push_back(r.first);
  EXPECT_EQ(types, (std::vector<int32_t>{1, 3, 1, 2, 3, 1, 2, 3, 1, 2, 2, 2, 3, 1, 3, 1, 2, 3}));
  EXPECT_EQ(kwtest::ReadFile(out / "list.json"), KwBuildListJson(volumes));
  EXPECT_EQ(volumes[0].checksum, KwVolumeChecksumOfFile((out / "P_000.kwk").c_str()));
  ExpectRoundTrip(src.path(), out.path(), 0);
  ExpectRoundTrip(src.path(), out.path(), 3200008);
}

TEST(MakePkg, VolumeSplitIsIdenticalForAnyThreadCount) {
  kwtest::TempDir src;
  BuildTree(src.path());
  // Every data record but the 1-byte tail of "three" and the readme reaches
  // this threshold, so "exact" ends in the second volume and "three" spans three.
  const int64_t threshold = 1000;
  std::vector<std::string> first;
  for (int threads : {1, 2, 3}) {
    kwtest::TempDir out;
    std::vector<KwVolumeEntry> volumes;
    ASSERT_EQ(Make(src.path(), out.path(), threads, threshold, nullptr, &volumes), 0);
    std::vector<std::string> files;
    StreamOf(out.path(), &files);
    ASSERT_EQ(files.size(), volumes.size());
    if (first.empty()) {
      first = files;
      EXPECT_EQ(files.size(), 5u);
      for (size_t k = 0; k + 1 < files.size(); ++k) {
        int64_t payload = 0;
        for (auto& r : Records(files[k])) payload += r.first == 2 ? r.second : 0;
        EXPECT_GE(payload, threshold);
      }
      EXPECT_EQ(Records(files[1]).front().first, 3);  // The end record of "exact".
      EXPECT_EQ(Records(files[3]).front().first, 2);  // The middle of "three".
      ExpectRoundTrip(src.path(), out.path(), 71);
    } else {
      EXPECT_TRUE(files == first) << threads << " threads";
    }
  }
}

TEST(MakePkg, ManyChunksBehindASlowOneStayInOrder) {
  // Hundreds of small chunks queue up behind large ones while the volumes
  // split every few records; the volumes and their listed sizes and
  // checksums must not depend on the thread count.
  kwtest::TempDir src;
  kwtest::WriteFile(src / "a/big", pkgtest::Blocks(2 * kwpkg::kChunkSize + 7, 9));
  for (int i = 0; i < 300; ++i)
    kwtest::WriteFile(src / ("b/" + std::to_string(1000 + i)), Bytes(1000 + 7 * i, i, 256));
  kwtest::WriteFile(src / "c/big", Bytes(kwpkg::kChunkSize / 2, 3, 16));
  std::vector<std::string> first;
  for (int threads : {1, 2, 4}) {
    kwtest::TempDir out;
    std::vector<KwVolumeEntry> volumes;
    ASSERT_EQ(Make(src.path(), out.path(), threads, 20000, nullptr, &volumes), 0);
    std::vector<std::string> files;
    StreamOf(out.path(), &files);
    ASSERT_EQ(files.size(), volumes.size());
    EXPECT_GT(files.size(), 20u);
    for (size_t k = 0; k < files.size(); ++k) {
      EXPECT_EQ(volumes[k].size, static_cast<int64_t>(files[k].size()));
      EXPECT_EQ(volumes[k].checksum, KwVolumeChecksumOfFile(volumes[k].path.c_str()));
    }
    if (first.empty()) {
      first = files;
      ExpectRoundTrip(src.path(), out.path(), 0);
    } else {
      EXPECT_TRUE(files == first) << threads << " threads";
    }
  }
}

// Packages hold no links: a folder link or a pipe is never followed or read.
// Left out silently, the installed product would lack a folder, so by default
// the run fails and names each; asked to skip, it still names them.
TEST(MakePkg, WalkNeverFollowsFolderLinksAndNamesWhatItLeavesOut) {
  kwtest::TempDir src, elsewhere;
  kwtest::WriteFile(src / "b", "b");
  kwtest::WriteFile(src / "a/x", "x");
  kwtest::WriteFile(src / "C", "c");
  kwtest::WriteFile(elsewhere / "secret", "s");
  fs::create_directory_symlink(src.path(), src / "a/loop");
  fs::create_directory_symlink(elsewhere.path(), src / "out");
  fs::create_symlink(src / "b", src / "blink");  // A link to a file is packed as the file.
  ASSERT_EQ(::mkfifo((src / "fifo").c_str(), 0600), 0);
  for (bool skip : {false, true}) {
    kwtest::TempDir out;
    MakeRun run;
    IKWMakePkg maker(1);
    run.maker = &maker;
    maker.SetSourceFolder(src.path().c_str());
    maker.SetOutputFolder(out.path().c_str());
    maker.SetPackageName("P");
    maker.SetCallback(&OnMakeEvent, &run);
    maker.SetSkipUnpackable(skip);
    ASSERT_EQ(maker.Start(), 0);
    maker.WaitDone();
    std::vector<std::string> begun;
    for (auto& e : run.events)
      if (e.rfind("1:", 0) == 0) begun.push_back(e.substr(2, e.rfind(':') - 2));
    EXPECT_EQ(begun, (std::vector<std::string>{"/C", "/a/x", "/b", "/blink"}));
    EXPECT_EQ(maker.SkippedEntries(),
              (std::vector<std::string>{"/a/loop: link to a folder", "/fifo: special file",
                                        "/out: link to a folder"}));
    EXPECT_TRUE(maker.FailedFiles().empty());
    EXPECT_EQ(maker.Result(), skip ? 0 : -1) << maker.ErrorText();
    if (!skip) {
      EXPECT_EQ(maker.ErrorText(),
                "3 link(s) or special file(s) not packed: /a/loop: link to a folder, /fifo: "
                "special file, /out: link to a folder");
    }
    EXPECT_EQ(pkgtest::ReadTree(elsewhere.path()).size(), 1u);
  }
}

// Every file that could not be packed is named, not only counted.
TEST(MakePkg, NamesEveryFileItCouldNotPack) {
  kwtest::TempDir src, out;
  kwtest::WriteFile(src / "good", "g");
  for (int i = 0; i < 7; ++i) {
    fs::create_symlink(src / ("gone" + std::to_string(i)), src / ("dangling" + std::to_string(i)));
  }
  IKWMakePkg maker(1);
  maker.SetSourceFolder(src.path().c_str());
  maker.SetOutputFolder(out.path().c_str());
  maker.SetPackageName("P");
  ASSERT_EQ(maker.Start(), 0);
  maker.WaitDone();
  EXPECT_EQ(maker.Result(), -1);
  ASSERT_EQ(maker.FailedFiles().size(), 7u);
  EXPECT_EQ(maker.FailedFiles()[0], "/dangling0: link to a missing file");
  EXPECT_EQ(maker.FailedFiles()[6], "/dangling6: link to a missing file");
  // The summary names the first five and counts the rest.
  EXPECT_EQ(maker.ErrorText().rfind("7 file(s) failed: /dangling0: link to a missing file, ", 0),
            0u)
      << maker.ErrorText();
  EXPECT_NE(maker.ErrorText().find("/dangling4: link to a missing file and 2 more"),
            std::string::npos)
      << maker.ErrorText();
}

TEST(MakePkg, RefusesUnsafeNamesAndItsOwnVolumes) {
  kwtest::TempDir src;
  const std::string deep = src.path() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
  kwtest::WriteFile(deep + "/" + std::string(108, 'f'), "fits: 511 bytes");
  kwtest::WriteFile(deep + "/" + std::string(109, 'g'), "512 bytes: refused");
  kwtest::WriteFile(src / "z", "z");
  kwtest::WriteFile(src / "back\\slash", "would be refused when unpacked");
  // The output folder inside the source: the volumes must not pack themselves.
  const std::string out = src / "out";
  fs::create_directories(out);
  MakeRun run;
  std::vector<KwVolumeEntry> volumes;
  EXPECT_EQ(Make(src.path(), out, 1, kwpkg::kVolumeThreshold, &run, &volumes), -1);
  kwtest::TempDir dest;
  const pkgtest::Unpacked u = pkgtest::Unpack(StreamOf(out), dest.path(), 0);
  EXPECT_EQ(u.badFiles, 0);
  const auto tree = pkgtest::ReadTree(dest.path());
  EXPECT_EQ(tree.size(), 4u);  // Two folders, the 511-byte name and "z".
  EXPECT_EQ(tree.count("/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                       std::string(108, 'f')),
            1u);
}

TEST(MakePkg, CancelKeepsConsistentVolumesButNoList) {
  kwtest::TempDir src;
  BuildTree(src.path());
  for (bool stopFlag : {false, true}) {
    kwtest::TempDir out;
    // The lists of an earlier package in the folder go as well: a cancelled
    // run must leave nothing that passes for a complete package.
    kwtest::WriteFile(out / "list.json", "[\r\n]\r\n");
    kwtest::WriteFile(out / "release.json", "{}");
    MakeRun run;
    run.cancelAt = "/bin/lib/deep/app.dll";
    run.useStopFlag = stopFlag;
    std::vector<KwVolumeEntry> volumes;
    EXPECT_EQ(Make(src.path(), out.path(), 2, kwpkg::kVolumeThreshold, &run, &volumes), -1);
    EXPECT_EQ(run.commands, std::vector<int32_t>{120});
    EXPECT_EQ(run.events.back().substr(0, 6), "3:end:");
    EXPECT_FALSE(fs::exists(out / "list.json"));
    EXPECT_FALSE(fs::exists(out / "release.json"));
    EXPECT_FALSE(volumes.empty());
    // The cancelled file is closed with its end record, holding no chunk.
    kwtest::TempDir dest;
    const pkgtest::Unpacked u = pkgtest::Unpack(StreamOf(out.path()), dest.path(), 0);
    EXPECT_FALSE(u.failed);
    EXPECT_EQ(u.badFiles, 1);
    EXPECT_EQ(kwtest::ReadFile(dest / "bin/exact").size(), size_t(kwpkg::kChunkSize));
    EXPECT_FALSE(fs::exists(dest / "data/three"));
  }
  // A stop request left over from an earlier run does not stop the next one.
  g_makeStopFlag = 1;
  kwtest::TempDir out;
  EXPECT_EQ(Make(src.path(), out.path(), 1, kwpkg::kVolumeThreshold), 0);
}

TEST(MakePkg, NoMoreThan256VolumesAndUnwritableOutput) {
  kwtest::TempDir src, out;
  for (int i = 0; i < 258; ++i) kwtest::WriteFile(src / ("f" + std::to_string(1000 + i)), "x");
  std::vector<KwVolumeEntry> volumes;
  EXPECT_EQ(Make(src.path(), out.path(), 1, 1, nullptr, &volumes), -1);
  EXPECT_EQ(volumes.size(), 256u);
  EXPECT_FALSE(fs::exists(out / "P_256.kwk"));

  MakeRun run;
  EXPECT_EQ(Make(src.path(), out / "missing", 1, 1, &run, &volumes), -1);
  EXPECT_TRUE(volumes.empty());
  EXPECT_EQ(run.events.size(), 2u + 2 * 258);  // Every file is still reported.
  EXPECT_EQ(run.commands, std::vector<int32_t>{120});
}

TEST(MakePkg, DestroyingARunningMakerCancelsAndWaits) {
  kwtest::TempDir src, out;
  BuildTree(src.path());
  {
    IKWMakePkg maker(2);
    maker.SetSourceFolder(src.path().c_str());
    maker.SetOutputFolder(out.path().c_str());
    maker.SetPackageName("P");
    ASSERT_EQ(maker.Start(), 0);
  }
  // Whatever was written unpacks; it is listed only when the run got to
  // its end before the destructor stopped it.
  std::vector<KwVolumeEntry> listed = KwFindVolumes(out.path(), "P", "kwk");
  if (fs::exists(out / "list.json")) {
    EXPECT_EQ(kwtest::ReadFile(out / "list.json"), KwBuildListJson(listed));
  }
  kwtest::TempDir dest;
  EXPECT_FALSE(pkgtest::Unpack(StreamOf(out.path()), dest.path(), 0).failed);
}
