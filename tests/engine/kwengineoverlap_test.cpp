// Installing while downloading: the install phase unpacks each volume as
// soon as it has verified, while later volumes still arrive.  A volume
// reaches the unpacker only once verified, a volume that fails its check is
// fetched again while earlier ones are unpacked, a pause holds both kinds of
// work, and a run killed in the middle is continued by the next without a
// half version or a volume fetched twice.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineowner.h"
#include "kwenginetestkit.h"
#include "kwtest/roomydisk.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwregistry.h"
#include "tool/http/kwserverconfig.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kwenginetest;
using Clock = std::chrono::steady_clock;

using kwtest::RoomyDisk;

class Quiet : public IKWInstallEngineOwner {
 public:
  void EngineRepaint() override {
    if (onRepaint) onRepaint();
  }
  void EnginePostCommand(int) override {}
  void EngineMessage(const char*) override {}
  std::function<void()> onRepaint;
};

// Polls `done` every few milliseconds for up to `seconds`.
bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

constexpr int64_t kBigFile = 26000000;  // the same package as the other engine tests

class Overlap : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { KwCurlBindForExecutable(BinDir().c_str()); }

  void SetUp() override {
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    g_versionText[0] = '\0';
    tree_ = MakeProductTree(kBigFile);
    cached_ = CachedPackage(tree_, kBigFile, 13000000);
    ASSERT_FALSE(cached_.empty());
    ASSERT_TRUE(fs::exists(cached_ + "/V2.0.0_002.kwk"));
    install_ = dir_ / "install";
    package_ = dir_ / "package";
    fs::copy(cached_, package_);
  }

  std::string Staged(const std::string& rel) const { return install_ + "/.V2.0.0.staging/" + rel; }
  std::string Volume(int k) const { return cached_ + "/V2.0.0_00" + std::to_string(k) + ".kwk"; }
  static std::string Name(int k) { return "V2.0.0_00" + std::to_string(k) + ".tmp"; }
  int CheckpointedVolumes() const {
    const std::string text = kwtest::ReadFile(Staged(".kwcheckpoint"));
    int n = 0;
    for (size_t at = 0; (at = text.find("\ndone ", at)) != std::string::npos; ++at) ++n;
    return n;
  }
  void ExpectInstalled() {
    ProductTree installed = tree_;
    installed.files.erase("ikwdriver/uninstall.exe");
    EXPECT_EQ(CompareTree(installed, install_ + "/V2.0.0"), "");
    EXPECT_FALSE(fs::exists(install_ + "/.V2.0.0.staging"));
    for (int k = 0; k < 3; ++k) EXPECT_FALSE(fs::exists(install_ + "/" + Name(k))) << k;
  }

  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  RoomyDisk disk_;
  ProductTree tree_;
  std::string cached_;
  std::string package_;
  std::string install_;
};

// Swaps two bytes eight apart in the middle of a volume's data: the lane
// checksum still matches, the SHA-256 does not, and the chunk no longer
// inflates.
std::string Spoil(std::string bytes) {
  for (size_t at = bytes.size() / 2; at + 8 < bytes.size(); ++at) {
    if (bytes[at] != bytes[at + 8]) {
      std::swap(bytes[at], bytes[at + 8]);
      break;
    }
  }
  return bytes;
}

TEST_F(Overlap, FirstFilesAreStagedWhileLaterVolumesStillDownload) {
  ServerProcess server(package_, {"--rate-limit", "4000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  Quiet owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetRunMode(0);
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  // The first volume carries the first files of the stream.
  bool stagedEarly = false;
  KwEngineProgress early;
  WaitFor(
      [&] {
        early = engine.Progress();
        stagedEarly = fs::exists(Staged("Windows/Tarnwick.exe")) &&
                      early.downloadDone < early.downloadTotal && early.volumeIndex >= 1;
        return stagedEarly || engine.RunFinished();
      },
      60);
  EXPECT_TRUE(stagedEarly) << "download " << early.downloadDone << " of " << early.downloadTotal;
  engine.WaitUntilFinished();
  ASSERT_EQ(engine.LastResult(), 0) << engine.Progress().failure;
  const KwEngineProgress end = engine.Progress();
  EXPECT_EQ(end.doneBytes, end.totalBytes);
  EXPECT_EQ(end.totalBytes, end.downloadTotal + end.unpackTotal);
  EXPECT_GT(end.overlapMs, 0);
  EXPECT_EQ(end.peakBytes, end.downloadTotal + static_cast<int64_t>(fs::file_size(Volume(0))));
  ExpectInstalled();
}

// A volume that keeps failing its check is fetched again and again while the
// volume before it is unpacked; it never reaches the unpacker (its spoilt
// chunk would end the run with files that cannot be unpacked).  Once the
// server has it right, the run completes byte for byte.
TEST_F(Overlap, AVolumeThatFailsItsCheckIsFetchedAgainAndNeverUnpackedBefore) {
  kwtest::WriteFile(package_ + "/V2.0.0_001.kwk", Spoil(kwtest::ReadFile(Volume(1))));
  ServerProcess server(package_, {"--rate-limit", "8000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  Quiet owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetRunMode(0);
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  // Volume 0 is unpacked and recorded while volume 1 is fetched once more.
  const int pieces = server.CountRequests("/files/" + Name(1));
  ASSERT_TRUE(WaitFor(
      [&] {
        return CheckpointedVolumes() == 1 &&
               server.CountRequests("/files/" + Name(1)) >= pieces + 4 &&
               server.CountLines("V2.0.0_001") > 0;
      },
      60));
  EXPECT_TRUE(engine.RunActive()) << engine.Progress().failure;
  EXPECT_EQ(engine.Progress().unpackDone, static_cast<int64_t>(fs::file_size(Volume(0))));
  const int firstVolume = server.CountRequests("/files/" + Name(0));
  fs::copy_file(Volume(1), package_ + "/V2.0.0_001.kwk", fs::copy_options::overwrite_existing);
  engine.WaitUntilFinished();
  ASSERT_EQ(engine.LastResult(), 0) << engine.Progress().failure;
  EXPECT_EQ(server.CountRequests("/files/" + Name(0)), firstVolume);
  ExpectInstalled();
}

TEST_F(Overlap, PauseHoldsTheDownloadAndTheUnpackingTogether) {
  ServerProcess server(package_, {"--rate-limit", "3000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  Quiet owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetRunMode(0);
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  ASSERT_TRUE(WaitFor(
      [&] {
        const KwEngineProgress p = engine.Progress();
        return p.unpackDone > 0 && p.downloadDone < p.downloadTotal;
      },
      60));
  g_pauseState = 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const KwEngineProgress held = engine.Progress();
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const KwEngineProgress still = engine.Progress();
  EXPECT_EQ(still.downloadDone, held.downloadDone);
  EXPECT_EQ(still.unpackDone, held.unpackDone);
  EXPECT_EQ(still.doneBytes, held.doneBytes);
  EXPECT_EQ(still.speed, 0);
  g_pauseState = 0;
  engine.WaitUntilFinished();
  ASSERT_EQ(engine.LastResult(), 0) << engine.Progress().failure;
  ExpectInstalled();
}

// Killed while the first volume is unpacked and recorded and the later ones
// still arrive: no half version, and the next run continues inside the file
// that spans the volumes without fetching the recorded volume again.
TEST_F(Overlap, KilledDuringTheOverlapTheNextRunContinuesTheStagedFiles) {
  ServerProcess server(package_, {"--rate-limit", "3000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  kwtest::WriteFile(dir_ / "itarnwick.ini", "[INSTALL]\nREQUIREDSPACE=1048576\n");
  const std::vector<std::string> args = {
      "--server", server.url(), "--dir", install_, "--agree", "--ini", dir_ / "itarnwick.ini"};
  pid_t pid = SpawnInstall(args, dir_ / "first.out");
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(WaitFor([&] { return CheckpointedVolumes() >= 1; }, 60));
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitExit(pid), 128 + SIGKILL);
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
  const int recorded = CheckpointedVolumes();
  ASSERT_GE(recorded, 1);
  EXPECT_NE(kwtest::ReadFile(Staged(".kwcheckpoint")).find("\nfile "), std::string::npos)
      << "the first volume should end inside a file";
  EXPECT_FALSE(fs::exists(install_ + "/" + Name(0)));
  const int fetched = server.CountRequests("/files/" + Name(0));

  pid = SpawnInstall(args, dir_ / "second.out");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid), 0) << kwtest::ReadFile(dir_ / "second.out");
  EXPECT_EQ(server.CountRequests("/files/" + Name(0)), fetched);
  ExpectInstalled();
}

}  // namespace
