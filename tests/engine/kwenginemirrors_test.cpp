// Choosing among file servers and capping the run's bandwidth, on a clock
// the test moves: unmeasured servers are tried, the faster is preferred, a
// failing one rests and comes back, a slow transfer moves only when another
// server is much faster, and the cap holds over any stretch of time.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "MsgBox/engine/kwenginemirrors.h"
#include "MsgBox/engine/kwenginerate.h"

namespace {

const std::string kA = "http://a.example:80";
const std::string kB = "http://b.example:80";
const std::vector<std::string> kBoth = {kA + "/V_000.kwk?md5=x", kB + "/V_000.kwk?md5=y"};
constexpr int64_t kSeg = 12800000;

TEST(EngineMirrors, UnmeasuredServersAreTriedThenTheFasterIsPreferred) {
  KwMirrorSet m;
  // Each unmeasured server gets one transfer first.
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 0), 0);
  m.Begin(kA);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 0), 1);
  m.Begin(kB);
  m.Succeeded(kA, kSeg, 1000);   // 12.8 MB/s
  m.Succeeded(kB, kSeg, 12800);  // 1 MB/s
  EXPECT_EQ(m.Speed(kA), kSeg);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 0), 0) << i;
    m.Begin(kA);
  }
  // Avoiding the fast one (its last attempt failed) sends the segment to
  // the other; "only" overrides speed.
  EXPECT_EQ(m.Choose(kBoth, kSeg, kA, "", 0), 1);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", kB, 0), 1);
  EXPECT_EQ(m.Fastest({kB, kA}), kA);
}

TEST(EngineMirrors, AFailingServerRestsThenComesBackAndDroppedOnesNever) {
  KwMirrorSet m;
  m.Succeeded(kA, kSeg, 1000);
  m.Succeeded(kB, kSeg, 12800);
  // One failure may be a dropped connection: still chosen.
  m.Begin(kA);
  m.Failed(kA, 1000);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 1000), 0);
  // A second one in a row: it rests, and then longer each time.
  m.Begin(kA);
  m.Failed(kA, 2000);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 2000), 1);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 2000 + KwMirrorSet::kFirstRestMs), 0);
  m.Begin(kA);
  m.Failed(kA, 10000);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 10000 + KwMirrorSet::kFirstRestMs), 1);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 10000 + 2 * KwMirrorSet::kFirstRestMs), 0);
  // A success ends the run of failures.
  m.Begin(kA);
  m.Succeeded(kA, kSeg, 1000);
  m.Begin(kA);
  m.Failed(kA, 30000);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 30000), 0);
  // With every server resting, the one whose rest ends first is tried.
  m.Begin(kA);
  m.Failed(kA, 30000);
  m.Begin(kB);
  m.Failed(kB, 31000);
  m.Begin(kB);
  m.Failed(kB, 31000);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 31000), 0);
  // Dropped is dropped for the run; the last one left is still chosen.
  m.Drop(kA);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 100000), 1);
  EXPECT_EQ(m.OthersLeft(kBoth, kB), 0);
  m.Drop(kB);
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 100000), -1);
}

TEST(EngineMirrors, WholeFileServersComeLastAndSlowTransfersMoveOnlyForMuchFaster) {
  KwMirrorSet m;
  EXPECT_TRUE(m.MarkWholeFile(kA));
  EXPECT_FALSE(m.MarkWholeFile(kA));
  EXPECT_EQ(m.Choose(kBoth, kSeg, "", "", 0), 1);

  KwMirrorSet s;
  s.Succeeded(kA, kSeg, 1000);  // 12.8 MB/s
  // Too early to judge, then: 1 MB of 12.8 after 2 s on B would take about
  // 23 s more, against 1 s from A.
  EXPECT_FALSE(s.ShouldMove(kBoth, kB, 100000, kSeg, KwMirrorSet::kMoveAfterMs - 1, 0));
  EXPECT_TRUE(s.ShouldMove(kBoth, kB, 1000000, kSeg, 2000, 0));
  // Nearly done, or about as fast: it stays.
  EXPECT_FALSE(s.ShouldMove(kBoth, kB, kSeg - 100000, kSeg, 20000, 0));
  EXPECT_FALSE(s.ShouldMove(kBoth, kB, 8000000, kSeg, 2000, 0));
  // Nowhere faster to go: a resting or unmeasured other never takes it.
  s.Begin(kA);
  s.Failed(kA, 0);
  s.Begin(kA);
  s.Failed(kA, 0);
  EXPECT_FALSE(s.ShouldMove(kBoth, kB, 1000000, kSeg, 2000, 0));
  KwMirrorSet fresh;
  EXPECT_FALSE(fresh.ShouldMove(kBoth, kB, 1000, kSeg, 5000, 0));
}

TEST(EngineRateCap, BytesStayWithinTheCapOverAnyStretch) {
  KwRateCap cap;
  EXPECT_EQ(cap.Take(1 << 20, 0), 0);  // no cap
  const int64_t rate = 2 << 20;
  cap.Set(rate);
  // Four receivers take 16 KiB pieces as fast as the cap lets them, each
  // waiting what it is told; the clock is the latest moment any may go on.
  int64_t now = 1000000;
  int64_t taken = 0;
  int64_t ready[4] = {now, now, now, now};
  for (int i = 0; i < 4000; ++i) {
    int k = i % 4;
    now = std::max(now, ready[k]);
    ready[k] = now + cap.Take(16384, now);
    taken += 16384;
  }
  const int64_t end = *std::max_element(ready, ready + 4);
  const double seconds = (end - 1000000) / 1e6;
  // Above the cap by at most a burst at each end, and not held back far
  // below it.
  EXPECT_LE(taken, rate * seconds + 2 * rate * KwRateCap::kBurstUs / 1e6 + 4 * 16384);
  EXPECT_GE(taken, rate * seconds * 0.95);
  // Time not used is not saved up beyond one burst.
  EXPECT_EQ(cap.Take(16384, end + 60000000), 0);
  EXPECT_GT(cap.Take(rate, end + 60000000), 0);
}

}  // namespace
