// Updates without the network: planning against an installed version, the
// update building the exact new tree from installed files and fetched
// ranges, damaged pieces that never reach the folder, a stopped update
// started again, and checking an installed version against its manifest.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "MsgBox/engine/kwengineupdate.h"
#include "MsgBox/engine/kwinstallcheck.h"
#include "MsgBox/engine/kwupdateplan.h"
#include "kwtest/tempdir.h"
#include "kwupdatetestkit.h"

namespace fs = std::filesystem;
using namespace kwupdatetest;

namespace {

constexpr int64_t kLarge = 6 * 1000 * 1000;

// Two releases packed once per test program.
struct Releases {
  kwtest::TempDir dir;
  Tree oldTree, newTree;
  KwManifest oldManifest, newManifest;
  std::string oldPack, newPack, oldUnpacked, newUnpacked;
};
Releases* g_r = nullptr;

class Update : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    g_r = new Releases;
    g_r->oldTree = OldRelease(kLarge);
    g_r->newTree = NewRelease(g_r->oldTree);
    WriteTree(g_r->oldTree, g_r->dir / "src1");
    WriteTree(g_r->newTree, g_r->dir / "src2");
    g_r->oldPack = g_r->dir / "pack1";
    g_r->newPack = g_r->dir / "pack2";
    g_r->oldUnpacked = g_r->dir / "ref1";
    g_r->newUnpacked = g_r->dir / "ref2";
    ASSERT_TRUE(PackRelease(g_r->dir / "src1", g_r->oldPack, "V1"));
    ASSERT_TRUE(PackRelease(g_r->dir / "src2", g_r->newPack, "V2"));
    ASSERT_TRUE(LoadManifest(g_r->oldPack, &g_r->oldManifest));
    ASSERT_TRUE(LoadManifest(g_r->newPack, &g_r->newManifest));
    ASSERT_TRUE(UnpackRelease(g_r->oldPack, "V1", g_r->oldUnpacked));
    ASSERT_TRUE(UnpackRelease(g_r->newPack, "V2", g_r->newUnpacked));
  }
  static void TearDownTestSuite() {
    delete g_r;
    g_r = nullptr;
  }

  // Builds `output` for the new release from `installed` (null: none).
  int RunNew(const std::string& output, const KwManifest* installed, FileRanges* ranges,
             KwUpdateProgress* progress, std::string* why,
             const std::atomic<bool>* active = nullptr) {
    KwUpdateInput in;
    in.next = &g_r->newManifest;
    in.installed = installed;
    in.installedFolder = g_r->oldUnpacked;
    in.outputFolder = output;
    in.active = active;
    in.retryPauseMs = 10;
    return KwRunUpdate(in, ranges, progress, why);
  }

  kwtest::TempDir dir_;
};

std::string Snapshot(const std::string& folder) {
  std::string s;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    struct stat st;
    ::lstat(e.path().c_str(), &st);
    s += e.path().string() + " " + std::to_string(st.st_mode) + " " +
         std::to_string(st.st_mtim.tv_sec) + " " +
         (e.is_regular_file() ? kwtest::ReadFile(e.path().string()) : "") + "\n";
  }
  return s;
}

}  // namespace

TEST_F(Update, PlanCopiesHeldPiecesAndMergesAdjacentRecords) {
  const KwUpdatePlan none = KwPlanUpdate(g_r->newManifest, nullptr);
  EXPECT_EQ(none.localBytes, 0);
  // Everything is fetched; the identical files share their records, and
  // records back to back become one range per volume.
  int64_t records = 0;
  for (const KwManifestFile& f : g_r->newManifest.files) records += f.pieces.size();
  EXPECT_LT(none.records.size(), static_cast<size_t>(records));
  // One range per volume but for the gap where the copy's records lie.
  EXPECT_EQ(none.ranges.size(), g_r->newManifest.volumeLengths.size() + 1);
  int64_t rangeBytes = 0;
  for (const KwFetchRange& r : none.ranges) rangeBytes += r.length;
  EXPECT_EQ(rangeBytes, none.fetchBytes);
  EXPECT_LT(none.fetchBytes, g_r->newManifest.PackageBytes());

  const KwUpdatePlan plan = KwPlanUpdate(g_r->newManifest, &g_r->oldManifest);
  EXPECT_GT(plan.localBytes, 2 * kLarge - 2 * 600000);
  // The changes need only a few pieces: 420,000 new bytes (mostly
  // incompressible) and a few pieces around the two edits.
  EXPECT_LT(plan.fetchBytes, 420000 + 4 * 262144);
  EXPECT_LT(plan.fetchBytes, g_r->newManifest.PackageBytes() / 6);
  for (const KwFetchRange& r : plan.ranges) EXPECT_LE(r.length, kKwMaxFetchRange);
}

TEST_F(Update, BuildsTheExactNewTreeAndLeavesTheInstalledOneAlone) {
  const std::string before = Snapshot(g_r->oldUnpacked);
  FileRanges ranges(g_r->newPack, "V2");
  KwUpdateProgress progress;
  std::string why;
  ASSERT_EQ(RunNew(dir_ / "V2", &g_r->oldManifest, &ranges, &progress, &why), 0) << why;
  EXPECT_EQ(CompareWithUnpacked(g_r->newTree, dir_ / "V2", g_r->newUnpacked), "");
  EXPECT_EQ(Snapshot(g_r->oldUnpacked), before);
  EXPECT_EQ(ranges.bytes.load(), progress.planFetchBytes.load());
  EXPECT_EQ(progress.fetchedBytes.load(), ranges.bytes.load());
  EXPECT_LT(ranges.bytes.load(), g_r->newManifest.PackageBytes() / 6);
  EXPECT_GT(progress.copiedBytes.load(), 0);

  // Without an installed version every piece is fetched, same result.
  FileRanges all(g_r->newPack, "V2");
  KwUpdateProgress full;
  ASSERT_EQ(RunNew(dir_ / "full", nullptr, &all, &full, &why), 0) << why;
  EXPECT_EQ(CompareWithUnpacked(g_r->newTree, dir_ / "full", g_r->newUnpacked), "");
}

TEST_F(Update, ChangedInstalledFilesAreFetchedInsteadOfCopied) {
  const std::string installed = dir_ / "V1";
  fs::copy(g_r->oldUnpacked, installed, fs::copy_options::recursive);
  std::string manual = kwtest::ReadFile(installed + "/doc/manual.txt");
  manual[100] ^= 1;
  kwtest::WriteFile(installed + "/doc/manual.txt", manual);
  fs::remove(installed + "/doc/same.txt");
  FileRanges ranges(g_r->newPack, "V2");
  KwUpdateProgress progress;
  std::string why;
  KwUpdateInput in;
  in.next = &g_r->newManifest;
  in.installed = &g_r->oldManifest;
  in.installedFolder = installed;
  in.outputFolder = dir_ / "V2";
  ASSERT_EQ(KwRunUpdate(in, &ranges, &progress, &why), 0) << why;
  EXPECT_EQ(CompareWithUnpacked(g_r->newTree, dir_ / "V2", g_r->newUnpacked), "");
}

TEST_F(Update, APieceFailingItsSha256NeverReachesTheFolder) {
  // Damage one byte of one record's payload in every answer: the piece is
  // asked for three times and the update ends; its bytes are not written.
  const KwUpdatePlan plan = KwPlanUpdate(g_r->newManifest, &g_r->oldManifest);
  ASSERT_FALSE(plan.records.empty());
  const KwFetchRecord victim = plan.records.front();
  ASSERT_EQ(victim.targets.size(), 1u);
  const std::string name = g_r->newManifest.files[victim.targets[0].first].name;
  auto damage = [victim](uint32_t volume, int64_t offset, std::string* data) {
    const int64_t at = victim.offset + victim.length / 2 - offset;
    if (volume == victim.volume && at >= 0 && at < static_cast<int64_t>(data->size()))
      (*data)[static_cast<size_t>(at)] ^= 0x40;
  };
  FileRanges always(g_r->newPack, "V2");
  always.damage = damage;
  KwUpdateProgress progress;
  std::string why;
  EXPECT_NE(RunNew(dir_ / "V2", &g_r->oldManifest, &always, &progress, &why), 0);
  EXPECT_NE(why.find("SHA-256"), std::string::npos) << why;
  const std::string written = kwtest::ReadFile(dir_ / "V2" + name);
  const std::string want = g_r->newTree.at(name.substr(1));
  EXPECT_EQ(written.substr(victim.targets[0].second, victim.pieceLength),
            std::string(victim.pieceLength, '\0'));
  EXPECT_NE(written, want);

  // Damage in the first answer only: asked again, the update completes.
  FileRanges once(g_r->newPack, "V2");
  std::atomic<int> hits{0};
  once.damage = [&](uint32_t volume, int64_t offset, std::string* data) {
    if (hits++ == 0) damage(volume, offset, data);
  };
  KwUpdateProgress second;
  ASSERT_EQ(RunNew(dir_ / "V2b", &g_r->oldManifest, &once, &second, &why), 0) << why;
  EXPECT_EQ(CompareWithUnpacked(g_r->newTree, dir_ / "V2b", g_r->newUnpacked), "");
}

TEST_F(Update, StoppedUpdateStartedAgainFetchesOnlyWhatIsLeft) {
  std::atomic<bool> active{true};
  FileRanges first(g_r->newPack, "V2");
  first.damage = [&](uint32_t, int64_t, std::string*) {
    if (first.requests.load() >= 2) active = false;
  };
  KwUpdateProgress p1;
  std::string why;
  EXPECT_NE(RunNew(dir_ / "V2", nullptr, &first, &p1, &why, &active), 0);
  FileRanges second(g_r->newPack, "V2");
  KwUpdateProgress p2;
  ASSERT_EQ(RunNew(dir_ / "V2", nullptr, &second, &p2, &why), 0) << why;
  EXPECT_EQ(CompareWithUnpacked(g_r->newTree, dir_ / "V2", g_r->newUnpacked), "");
  EXPECT_GT(p2.keptBytes.load(), 0);
  EXPECT_LT(second.bytes.load(), KwPlanUpdate(g_r->newManifest, nullptr).fetchBytes);
}

TEST_F(Update, CheckListsMissingChangedAndUnexpectedFilesAndRepairFixesThem) {
  const std::string install = dir_ / "inst";
  fs::create_directories(install);
  fs::copy(g_r->newUnpacked, install + "/V2", fs::copy_options::recursive);
  // The finishing steps move the uninstaller out of the version folder.
  fs::rename(install + "/V2/ikwdriver/uninstall.exe", install + "/uninstall.exe");
  EXPECT_TRUE(KwCheckInstalled(install, "V2", g_r->newManifest).empty());
  fs::remove(install + "/V2/new/added.bin");
  std::string huge = kwtest::ReadFile(install + "/V2/data/huge.bin");
  huge[kLarge / 3] ^= 1;
  kwtest::WriteFile(install + "/V2/data/huge.bin", huge);
  kwtest::WriteFile(install + "/V2/conf/settings.ini", "[a]\n");
  kwtest::WriteFile(install + "/V2/stray/note.txt", "mine");
  const auto issues = KwCheckInstalled(install, "V2", g_r->newManifest);
  std::string listed;
  for (const KwInstallIssue& i : issues)
    listed += KwInstallIssueWord(i.kind) + (" " + i.name) + ";";
  EXPECT_EQ(listed,
            "changed /conf/settings.ini;changed /data/huge.bin;missing /new/added.bin;"
            "unexpected /stray;");

  // Repair fetches only the damaged pieces (done here from the volumes).
  FileRanges ranges(g_r->newPack, "V2");
  KwUpdateProgress progress;
  std::string why;
  KwUpdateInput in;
  in.next = &g_r->newManifest;
  in.outputFolder = install + "/V2";
  KwManifest withoutMoved = g_r->newManifest;
  for (size_t i = 0; i < withoutMoved.files.size(); ++i) {
    if (withoutMoved.files[i].name == kKwMovedUninstaller) {
      withoutMoved.files.erase(withoutMoved.files.begin() + static_cast<long>(i));
      break;
    }
  }
  in.next = &withoutMoved;
  ASSERT_EQ(KwRunUpdate(in, &ranges, &progress, &why), 0) << why;
  EXPECT_LT(ranges.bytes.load(), 1500000);
  const auto after = KwCheckInstalled(install, "V2", g_r->newManifest);
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].name, "/stray");  // the user's file is left alone
}
