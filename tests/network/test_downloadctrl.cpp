// Volume download control (planning, skip, completion) and the volume lists
// built from files on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "kwtestvolumes.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/http/kwvolumejournal.h"

namespace {

struct Segment {
  int64_t offset;
  int32_t length;
  int64_t volumeLength;
};

class RecordingQueue : public IKwSegmentQueue {
 public:
  void DiscardWaiting() override {
    ++discards;
    segments.clear();
  }
  void QueueSegment(const PackageEntry& entry, int64_t offset, int32_t length,
                    int64_t volumeLength) override {
    EXPECT_STREQ(expectName.c_str(), entry.name);
    segments.push_back({offset, length, volumeLength});
  }
  std::vector<Segment> segments;
  int discards = 0;
  std::string expectName;
};

class DownloadCtrl : public ::testing::Test {
 protected:
  PackageEntry Entry(const char* name, int64_t length, const std::string& checksum) {
    PackageEntry e;
    std::snprintf(e.name, sizeof(e.name), "%s", name);
    std::snprintf(e.checksum, sizeof(e.checksum), "%s", checksum.c_str());
    e.length = length;
    ctrl.SetVolume(name, length);
    queue.expectName = name;
    return e;
  }
  kwtest::TempDir dir;
  CKWFileDownloadCtrl ctrl;
  RecordingQueue queue;
  void SetUp() override { ctrl.SetFolder((dir / "sub/folder").c_str()); }
};

TEST_F(DownloadCtrl, PlansWholeSegmentsIntoAPreSizedSparseFile) {
  queue.segments.push_back({99, 1, 1});  // A stale task from an earlier volume.
  PackageEntry one = Entry("v_000.tmp", 12800000, "X");
  ASSERT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(one, queue));
  ASSERT_EQ(1u, queue.segments.size());
  EXPECT_EQ(0, queue.segments[0].offset);
  EXPECT_EQ(12800000, queue.segments[0].length);

  PackageEntry two = Entry("v_001.tmp", 12800001, "X");
  ASSERT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(two, queue));
  ASSERT_EQ(2u, queue.segments.size());
  EXPECT_EQ(12800000, queue.segments[0].length);
  EXPECT_EQ(12800000, queue.segments[1].offset);
  EXPECT_EQ(1, queue.segments[1].length);
  EXPECT_EQ(12800001, queue.segments[1].volumeLength);

  struct stat st;
  ASSERT_EQ(0, stat((dir / "sub/folder/v_001.tmp").c_str(), &st));
  EXPECT_EQ(12800001, st.st_size);
  // Sized without writing: almost no blocks are allocated.
  EXPECT_LT(static_cast<int64_t>(st.st_blocks) * 512, 1000000);

  PackageEntry empty = Entry("v_002.tmp", 0, "0000000000000000");
  queue.expectName = "v_002.tmp";
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(empty, queue));
  EXPECT_TRUE(queue.segments.empty());
}

TEST_F(DownloadCtrl, CompleteVolumeIsKeptAndAChangedOneIsFetchedAgain) {
  std::string bytes = kwtest::VolumeBytes(5000, 0, 3);
  std::string sum = kwtest::ChecksumOf(bytes);
  std::string lower = sum;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(sum, lower);
  std::string path = dir / "sub/folder/v_000.tmp";
  kwtest::WriteFile(path, bytes);

  PackageEntry e = Entry("v_000.tmp", 5000, lower);
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanComplete, ctrl.PlanSegments(e, queue));
  EXPECT_TRUE(queue.segments.empty());
  EXPECT_EQ(bytes, kwtest::ReadFile(path));

  // Same length, one byte changed: the file is re-created empty at full
  // length and every segment is fetched.
  std::string changed = bytes;
  changed[4000] = static_cast<char>(changed[4000] ^ 1);
  kwtest::WriteFile(path, changed);
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(e, queue));
  ASSERT_EQ(1u, queue.segments.size());
  EXPECT_EQ(5000, queue.segments[0].length);
  EXPECT_EQ(std::string(5000, '\0'), kwtest::ReadFile(path));

  // A file of another length is fetched again without summing it.
  kwtest::WriteFile(path, bytes + "x");
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(e, queue));
  EXPECT_EQ(5000u, kwtest::ReadFile(path).size());
}

TEST_F(DownloadCtrl, ALinkAtTheVolumesNameIsReplacedNotFollowed) {
  std::string bytes = kwtest::VolumeBytes(5000, 0, 3);
  std::string target = dir / "precious.bin";
  kwtest::WriteFile(target, bytes);
  kwtest::WriteFile(dir / "sub/folder/keep", "");
  std::string path = dir / "sub/folder/v201_000.kwk";
  ASSERT_EQ(0, symlink(target.c_str(), path.c_str()));
  // Even a link to a file with the listed checksum is no complete volume.
  PackageEntry e = Entry("v201_000.kwk", 5000, kwtest::ChecksumOf(bytes));
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(e, queue));
  EXPECT_EQ(bytes, kwtest::ReadFile(target));
  struct stat st;
  ASSERT_EQ(0, lstat(path.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(5000, st.st_size);
}

TEST_F(DownloadCtrl, PlanningFailsWithoutQueueingWhenTheFileCannotBeMade) {
  kwtest::WriteFile(dir / "blocker", "file, not folder");
  ctrl.SetFolder((dir / "blocker").c_str());
  PackageEntry e = Entry("v_000.tmp", 100, "X");
  EXPECT_EQ(CKWFileDownloadCtrl::kPlanFailed, ctrl.PlanSegments(e, queue));
  EXPECT_TRUE(queue.segments.empty());
}

// A journal is read back only for the volume it was written for, and only
// as far as its lines are whole and inside the volume.
TEST_F(DownloadCtrl, JournalRoundTripAndWhatItRefuses) {
  std::string volume = dir / "v_000.tmp";
  PackageEntry e = Entry("v_000.tmp", 40000000, "00AA");
  std::snprintf(e.sha256, sizeof(e.sha256), "%s", std::string(64, 'b').c_str());
  KwByteRanges got;
  EXPECT_FALSE(KwVolumeJournal::Load(volume, e, &got));
  {
    KwVolumeJournal j;
    ASSERT_TRUE(j.Begin(volume, e));
    ASSERT_TRUE(j.Record({{12800000, 25600000}, {0, 12800000}}));
    ASSERT_TRUE(j.Record({{38400000, 40000000}}));
  }
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got));
  EXPECT_EQ(got.Missing(e.length), (std::vector<KwByteRanges::Range>{{25600000, 38400000}}));
  // Another listing of the volume (length, checksum or digest) drops it.
  for (int change = 0; change < 3; ++change) {
    PackageEntry other = e;
    if (change == 0) other.length += 1;
    if (change == 1) other.checksum[0] = '1';
    if (change == 2) other.sha256[0] = 'c';
    EXPECT_FALSE(KwVolumeJournal::Load(volume, other, &got)) << change;
  }
  PackageEntry cased = e;
  std::snprintf(cased.checksum, sizeof(cased.checksum), "00aa");
  EXPECT_TRUE(KwVolumeJournal::Load(volume, cased, &got));
  // A torn last line, a range past the end and a bad line end the reading.
  std::string text = kwtest::ReadFile(KwVolumeJournal::PathFor(volume));
  for (const char* tail : {"25600000 128", "25600000 14400001\n", "x 5\n0 40000000\n"}) {
    kwtest::WriteFile(KwVolumeJournal::PathFor(volume), text + tail);
    ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got)) << tail;
    EXPECT_EQ(got.Covered(), 40000000 - 12800000) << tail;
  }
  KwVolumeJournal::Remove(volume);
  EXPECT_FALSE(KwVolumeJournal::Load(volume, e, &got));
}

// Ranges are written down before the disk has them: this boot trusts every
// line, another boot (after a crash of the machine) only those above the
// last "synced" line, and continuing writes the journal afresh so lines
// another boot cannot vouch for never end up above a "synced" line.
TEST_F(DownloadCtrl, JournalTrustsUnflushedRangesOnlyInTheBootThatWroteThem) {
  std::string volume = dir / "v_000.tmp";
  PackageEntry e = Entry("v_000.tmp", 40000000, "00AA");
  const std::string boot = KwVolumeJournal::BootId();
  ASSERT_NE(boot, "-");
  EXPECT_EQ(KwVolumeJournal::BootId(), boot);
  {
    KwVolumeJournal j;
    ASSERT_TRUE(j.Begin(volume, e));
    ASSERT_TRUE(j.Record({{0, 10000000}}));
    ASSERT_TRUE(j.MarkFlushed());
    ASSERT_TRUE(j.Record({{10000000, 20000000}}));
  }
  KwByteRanges got, flushed;
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got, &flushed));
  EXPECT_EQ(got.Covered(), 20000000);
  EXPECT_EQ(flushed.Covered(), 10000000);

  // The same journal as another boot left it.
  std::string text = kwtest::ReadFile(KwVolumeJournal::PathFor(volume));
  const size_t at = text.find("boot " + boot + "\n");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, 5 + boot.size(), "boot 0123456789abcdef-other");
  kwtest::WriteFile(KwVolumeJournal::PathFor(volume), text);
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got, &flushed));
  EXPECT_EQ(got.Covered(), 10000000);
  EXPECT_EQ(flushed.Covered(), 10000000);
  {
    KwVolumeJournal j;
    ASSERT_TRUE(j.Continue(volume, e, got, flushed));
    ASSERT_TRUE(j.Record({{30000000, 35000000}}));
    ASSERT_TRUE(j.MarkFlushed());
  }
  // Flushed in this boot: the other boot's unflushed range is not among them.
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got, &flushed));
  EXPECT_EQ(flushed.Missing(e.length),
            (std::vector<KwByteRanges::Range>{{10000000, 30000000}, {35000000, 40000000}}));
  EXPECT_EQ(got.Covered(), flushed.Covered());
  // Nothing flushed and another boot: it vouches for nothing.
  kwtest::WriteFile(KwVolumeJournal::PathFor(volume),
                    text.substr(0, text.find("boot ")) + "boot -\n0 40000000\n");
  EXPECT_FALSE(KwVolumeJournal::Load(volume, e, &got));
  // A journal without a boot line was flushed before each line.
  kwtest::WriteFile(KwVolumeJournal::PathFor(volume),
                    text.substr(0, text.find("boot ")) + "0 40000000\n");
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &got, &flushed));
  EXPECT_EQ(flushed.Covered(), 40000000);
}

// Continuing from a journal keeps the file and queues only its gaps, cut
// into segments.
TEST_F(DownloadCtrl, ContinuingQueuesOnlyTheGaps) {
  PackageEntry e = Entry("v_000.tmp", 40000000, "X");
  kwtest::WriteFile(dir / "sub/folder/v_000.tmp", "kept");
  KwByteRanges onDisk;
  onDisk.Add(0, 12800000);
  onDisk.Add(30000000, 5000000);
  ASSERT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(e, queue, &onDisk));
  std::vector<std::pair<int64_t, int32_t>> got;
  for (const Segment& s : queue.segments) got.emplace_back(s.offset, s.length);
  EXPECT_EQ(got, (std::vector<std::pair<int64_t, int32_t>>{
                     {12800000, 12800000}, {25600000, 4400000}, {35000000, 5000000}}));
  EXPECT_EQ(kwtest::ReadFile(dir / "sub/folder/v_000.tmp"), "kept");
  onDisk.Add(0, 40000000);
  ASSERT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(e, queue, &onDisk));
  EXPECT_TRUE(queue.segments.empty());
}

TEST_F(DownloadCtrl, CompletionDeletesControlFileAndNeverReplacesTheVolume) {
  PackageEntry e = Entry("v_000.tmp", 25600001, "X");
  ASSERT_EQ(0, ctrl.PlanSegments(e, queue));
  std::string path = dir / "sub/folder/v_000.tmp";
  kwtest::WriteFile(path + ".tmp", "stale companion");
  kwtest::WriteFile(path + ".ctrl", "stale control");
  ctrl.CompleteSegment(12800000);
  ctrl.CompleteSegment(12800000);
  EXPECT_FALSE(ctrl.complete());
  EXPECT_EQ(25600000, ctrl.written());
  EXPECT_EQ("stale control", kwtest::ReadFile(path + ".ctrl"));
  ctrl.CompleteSegment(1);
  EXPECT_TRUE(ctrl.complete());
  struct stat st;
  EXPECT_NE(0, stat((path + ".ctrl").c_str(), &st));
  EXPECT_EQ("stale companion", kwtest::ReadFile(path + ".tmp"));
  ASSERT_EQ(0, stat(path.c_str(), &st));
  EXPECT_EQ(25600001, st.st_size);

  // Only when the volume file is missing does the companion take its name.
  std::remove(path.c_str());
  ctrl.SetVolume("v_000.tmp", 1);
  ctrl.CompleteSegment(1);
  EXPECT_EQ("stale companion", kwtest::ReadFile(path));
  EXPECT_NE(0, stat((path + ".tmp").c_str(), &st));
}

std::string Marker() {
  return std::string(8, '\x01') + std::string(8, '\x02') + std::string(8, '\x03');
}

TEST(FindEmbeddedPackage, FindsTheMarkerBehindPartialMarkerBytes) {
  kwtest::TempDir dir;
  std::string prefix = "MZ-installer-bytes" + std::string(7, '\x01') + std::string(8, '\x01') +
                       std::string(3, '\x02') + Marker().substr(0, 20) + Marker();
  std::string volume = kwtest::VolumeBytes(500, 0, 1);
  kwtest::WriteFile(dir / "setup", prefix + std::string("v201\0\0\0\0", 8) + volume);

  FILE* f = std::fopen((dir / "setup").c_str(), "rb");
  ASSERT_NE(nullptr, f);
  CKWDownloadUtilFor util;
  char version[9] = "zzzzzzzz";
  ASSERT_EQ(0, util.FindEmbeddedPackage(version, sizeof(version), f));
  EXPECT_STREQ("v201", version);
  EXPECT_EQ(static_cast<int64_t>(prefix.size() + 8), util.embeddedOffset());
  EXPECT_EQ(static_cast<long>(util.embeddedOffset()), std::ftell(f));
  ASSERT_EQ(1u, util.volumes().size());
  EXPECT_STREQ("mem", util.volumes()[0]->url);
  EXPECT_STREQ("", util.volumes()[0]->localPath);
  std::fclose(f);

  // No marker, or a marker with no version behind it: -1.
  kwtest::WriteFile(dir / "plain", std::string(100, '\x01') + Marker().substr(1));
  kwtest::WriteFile(dir / "cut", "abc" + Marker() + "v2");
  for (const char* name : {"plain", "cut"}) {
    f = std::fopen((dir / name).c_str(), "rb");
    EXPECT_EQ(-1, util.FindEmbeddedPackage(version, sizeof(version), f)) << name;
    std::fclose(f);
  }
}

TEST(FindLocalVolumes, StopsAtTheFirstMissingOrEmptyVolume) {
  kwtest::TempDir dir;
  kwtest::WriteFile(dir / "v201_000.tmp", "a");
  kwtest::WriteFile(dir / "v201_001.tmp", "bb");
  kwtest::WriteFile(dir / "v201_002.tmp", "");
  kwtest::WriteFile(dir / "v201_003.tmp", "dddd");
  CKWDownloadUtilFor util;
  char version[80] = {};
  ASSERT_EQ(0, util.FindLocalVolumes(version, sizeof(version), (dir / "v201_000.tmp").c_str()));
  EXPECT_STREQ("v201", version);
  ASSERT_EQ(2u, util.volumes().size());
  EXPECT_EQ(dir / "v201_001.tmp", util.volumes()[1]->localPath);
  EXPECT_EQ(2, util.volumes()[1]->length);

  EXPECT_EQ(-1, util.FindLocalVolumes(version, sizeof(version), (dir / "none_000.tmp").c_str()));
  EXPECT_TRUE(util.volumes().empty());
  EXPECT_STREQ("none", version);
}

TEST(FindLocalVolumes, RefusesAPathTooLongForItsFieldInsteadOfCuttingIt) {
  kwtest::TempDir dir;
  std::string folder = dir.path();
  while (folder.size() < sizeof(PackageEntry::localPath)) folder += "/" + std::string(60, 'f');
  kwtest::WriteFile(folder + "/v201_000.tmp", "a");
  CKWDownloadUtilFor util;
  char version[80] = {};
  EXPECT_EQ(-1,
            util.FindLocalVolumes(version, sizeof(version), (folder + "/v201_000.tmp").c_str()));
  EXPECT_TRUE(util.volumes().empty());

  // A name too long for its field is refused the same way.
  const std::string longName = std::string(80, 'n');
  kwtest::WriteFile(dir / (longName + "_000.tmp"), "a");
  EXPECT_EQ(
      -1, util.FindLocalVolumes(version, sizeof(version), (dir / (longName + "_000.tmp")).c_str()));
  EXPECT_TRUE(util.volumes().empty());
}

}  // namespace
