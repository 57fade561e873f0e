// A package made by the maker, published by kwserve, fetched segment by
// segment through the download control and found again on disk under the
// names the install engine expects.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <strings.h>
#include <unistd.h>

#include "kwserveprocess.h"
#include "network/http/kwcurlbinding.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwpkgchecksum.h"

namespace {

class CollectingQueue : public IKwSegmentQueue {
 public:
  void DiscardWaiting() override { tasks.clear(); }
  void QueueSegment(const PackageEntry& entry, int64_t offset, int32_t length, int64_t) override {
    tasks.push_back({entry, offset, length});
  }
  struct Task {
    PackageEntry entry;
    int64_t offset;
    int32_t length;
  };
  std::vector<Task> tasks;
};

TEST(DownloadEndToEnd, MakerPackageThroughKwserveIntoVerifiedVolumes) {
  ASSERT_EQ(0, KwCurlBindFile("libcurl.so.4"));
  kwtest::TempDir src, pkg, install;
  // Incompressible content so the package spans several volumes and the
  // first volume needs two segments.
  std::string noise(14000000, '\0');
  uint32_t x = 12345;
  for (char& c : noise) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 23);
  }
  kwtest::WriteFile(src / "bin/app.dat", noise);
  kwtest::WriteFile(src / "readme.txt", "Tarnwick\n");
  IKWMakePkg maker(1, 13000000);
  maker.SetSourceFolder(src.path().c_str());
  maker.SetOutputFolder(pkg.path().c_str());
  maker.SetPackageName("T");
  maker.SetRunning();
  maker.Run();

  kwtest::KwServeProcess server(pkg.path(), {"--version", "v9", "--drop-rate", "0.2",
                                             "--short-rate", "0.2", "--max-faults", "5"});
  ASSERT_FALSE(server.url().empty()) << server.Log();
  CKWDownloadUtilFor util;
  util.SetBaseUrl(server.url().c_str());
  char version[80];
  std::vector<PackageEntry> entries;
  int r = -1;
  for (int attempt = 0; attempt < 10 && r != 0; ++attempt)
    r = util.GetVersion(version, 80, entries);
  ASSERT_EQ(0, r);
  ASSERT_GE(entries.size(), 2u);

  CKWFileDownloadCtrl ctrl;
  ctrl.SetFolder(install.path().c_str());
  size_t twoSegmentVolumes = 0;
  for (PackageEntry& entry : entries) {
    ASSERT_EQ(0, util.GetDownloadUrl(entry));
    ctrl.SetVolume(entry.name, entry.length);
    CollectingQueue queue;
    ASSERT_EQ(CKWFileDownloadCtrl::kPlanQueued, ctrl.PlanSegments(entry, queue));
    twoSegmentVolumes += queue.tasks.size() > 1;
    std::string path = install / entry.name;
    for (const CollectingQueue::Task& task : queue.tasks) {
      std::string bytes(static_cast<size_t>(task.length), '\0');
      int32_t n = -2;
      for (int attempt = 0; attempt < 10 && n != task.length; ++attempt) {
        PackageEntry copy = task.entry;
        util.GetDownloadUrl(copy);
        n = util.ReadRange(copy.url, task.offset, task.length, &bytes[0], nullptr);
      }
      ASSERT_EQ(task.length, n);
      int fd = open(path.c_str(), O_WRONLY);
      ASSERT_EQ(n, pwrite(fd, bytes.data(), bytes.size(), task.offset));
      close(fd);
      ctrl.CompleteSegment(n);
    }
    EXPECT_TRUE(ctrl.complete());
    EXPECT_EQ(0, strcasecmp(entry.checksum, KwVolumeChecksumOfFile(path.c_str()).c_str()));
    // Planned again, the volume now counts as complete.
    CollectingQueue again;
    EXPECT_EQ(CKWFileDownloadCtrl::kPlanComplete, ctrl.PlanSegments(entry, again));
  }
  EXPECT_GE(twoSegmentVolumes, 1u);

  CKWDownloadUtilFor local;
  ASSERT_EQ(0, local.FindLocalVolumes(version, 80, (install / entries[0].name).c_str()));
  EXPECT_STREQ("v9", version);
  EXPECT_EQ(entries.size(), local.volumes().size());
}

}  // namespace
