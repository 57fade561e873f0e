// Whole installations: from local volumes, from a package appended to the
// installer, from the reference server (downloaded or streamed), with
// injected faults, with volumes already on disk, paused, stopped, and
// killed and started again; then the uninstaller removes the product.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "MsgBox/desktop/kwuninstall.h"
#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwenginedisk.h"
#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineowner.h"
#include "MsgBox/engine/kwengineresume.h"
#include "kwenginetestkit.h"
#include "kwtest/noisebytes.h"
#include "kwtest/tempdir.h"
#include "main/kwglobals.h"
#include "network/http/kwcurlbinding.h"
#include "platform/kwregistry.h"
#include "tool/http/kwbyteranges.h"
#include "tool/http/kwfiledownloadctrl.h"
#include "tool/http/kwpackageentry.h"
#include "tool/http/kwreleasecheck.h"
#include "tool/http/kwserverconfig.h"
#include "tool/http/kwvolumejournal.h"
#include "tool/http/kwvolumename.h"
#include "tool/makepackage/kwpkgchecksum.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kwenginetest;

class FakeDisk : public IKWEngineDisk {
 public:
  bool Measure(const char*, int64_t* total, int64_t* free) override {
    *total = 1LL << 40;
    *free = free_;
    return true;
  }
  std::atomic<int64_t> free_{1LL << 40};
};

// Records what the engine tells its page.
class RecordingOwner : public IKWInstallEngineOwner {
 public:
  void EngineRepaint() override {
    if (onRepaint) onRepaint();
  }
  void EnginePostCommand(int command) override {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.push_back(command);
  }
  void EngineMessage(const char* key) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(key);
  }
  std::vector<int> commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  std::vector<std::string> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::function<void()> onRepaint;

 private:
  std::mutex mutex_;
  std::vector<int> commands_;
  std::vector<std::string> messages_;
};

// One product tree and its package for the whole suite: three volumes, the
// first two larger than a download segment.
constexpr int64_t kBigFile = 26000000;

struct Suite {
  ProductTree tree;
  std::string package;
  int volumes = 0;
};
Suite* g_suite = nullptr;

int CountThreads() {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc/self/task")) {
    (void)e;
    ++n;
  }
  return n;
}

class EngineInstall : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    KwCurlBindForExecutable(BinDir().c_str());
    g_suite = new Suite;
    g_suite->tree = MakeProductTree(kBigFile);
    g_suite->package = CachedPackage(g_suite->tree, kBigFile, 13000000);
    int volumes = 0;
    while (fs::exists(g_suite->package + "/V2.0.0_" + std::string(volumes < 10 ? "00" : "0") +
                      std::to_string(volumes) + ".kwk")) {
      ++volumes;
    }
    g_suite->volumes = volumes;
  }
  static void TearDownTestSuite() {
    delete g_suite;
    g_suite = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(g_suite->volumes, 3);
    g_installStage = 0;
    g_pauseState = 0;
    g_installPath[0] = '\0';
    g_versionText[0] = '\0';
    g_targetDir[0] = '\0';
    install_ = dir_ / "install";
  }

  std::string Volume(int k) const {
    char name[64];
    std::snprintf(name, sizeof(name), "/V2.0.0_%03d.kwk", k);
    return g_suite->package + name;
  }
  std::string Downloaded(int k) const {
    char name[64];
    std::snprintf(name, sizeof(name), "/V2.0.0_%03d.tmp", k);
    return install_ + name;
  }

  // Sets the run mode and the package source as the pages do, runs a whole
  // installation into install_ and returns its result; a run that does not
  // start fails the test.
  int RunFrom(CKWInstallEngine& engine, int runMode, const std::string& source) {
    engine.SetRunMode(runMode);
    engine.SetPackageSource(source.c_str());
    const char* key = nullptr;
    const int start = engine.StartRun(true, install_.c_str(), &key);
    EXPECT_EQ(start, kKwStartOk) << (key != nullptr ? key : "");
    if (start != kKwStartOk) return -100;
    engine.WaitUntilFinished();
    return engine.LastResult();
  }

  // Runs a whole installation in run mode 0 from `server`.
  int RunOnline(ServerProcess& server, RecordingOwner& owner) {
    KwSetServerBaseUrl(server.url().c_str());
    CKWInstallEngine engine(&owner, &disk_);
    return RunFrom(engine, 0, "");
  }

  void ExpectInstalledOnline() {
    EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
    EXPECT_EQ(kwtest::ReadFile(install_ + "/uninstall.exe"),
              g_suite->tree.files.at("ikwdriver/uninstall.exe"));
    EXPECT_FALSE(fs::exists(install_ + "/unzip.ins"));
    for (int k = 0; k < 3; ++k) EXPECT_FALSE(fs::exists(Downloaded(k)));
    EXPECT_TRUE(fs::exists(home_.desktop() + "/Tarnwick.desktop"));
    EXPECT_EQ(g_installStage.load(), 0);
    EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "UninstallString"),
              install_ + "/uninstall.exe");
    EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), install_);
  }

  // Requests for volume k in a run without faults: a volume of one round of
  // segments is fetched in one piece per worker (at least a megabyte each).
  int CleanPieces(int k) const {
    int64_t size = static_cast<int64_t>(fs::file_size(Volume(k)));
    return static_cast<int>(std::min<int64_t>(4, std::max<int64_t>(1, size >> 20)));
  }

  // The tree as installed: the uninstaller has moved out of the version folder.
  static ProductTree Installed() {
    ProductTree t = g_suite->tree;
    t.files.erase("ikwdriver/uninstall.exe");
    return t;
  }

  static std::string RegValue(KwHive hive, const char* key, const char* name) {
    KwRegKey k;
    if (KwRegKey::Open(hive, key, kKwRegRead, &k) != 0) return "<no key>";
    std::string v;
    if (k.GetString(name, &v) != 0) return "<no value>";
    return v;
  }

  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  FakeDisk disk_;
  std::string install_;
};

// Runs desktop-file-validate on `path`; its exit status, its report in
// `report` (warnings included).
int ValidateDesktopEntry(const std::string& path, std::string* report) {
  std::string command = "desktop-file-validate '" + path + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) report->append(buffer, n);
  int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(EngineInstall, OnlineInstallIsExactThenTheUninstallerRemovesIt) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  RecordingOwner owner;
  ASSERT_EQ(RunOnline(server, owner), 0);
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallDone});
  EXPECT_TRUE(owner.messages().empty());
  ExpectInstalledOnline();
  EXPECT_STREQ(g_versionText, "V2.0.0");
  // No byte came twice.
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(server.CountRequests("/files/" + fs::path(Downloaded(k)).filename().string()),
              CleanPieces(k))
        << k;
  }

  // The menu entry and the desktop entry start the product and show the
  // icon placed in the data folder; both are valid desktop entries.
  const std::string menu = home_.dataHome() + "/applications/kws-tarnwick.desktop";
  const std::string icon = home_.dataHome() + "/tarnwick/tarnwick.png";
  const std::string exe = install_ + "/V2.0.0/Windows/Tarnwick.exe";
  for (const std::string& entry : {menu, home_.desktop() + "/Tarnwick.desktop"}) {
    std::string text = kwtest::ReadFile(entry);
    EXPECT_NE(text.find("\nExec=" + exe + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=" + icon + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nName=Tarnwick\n"), std::string::npos) << text;
    std::string report;
    EXPECT_EQ(ValidateDesktopEntry(entry, &report), 0) << entry << "\n" << report;
    EXPECT_EQ(report.find("error"), std::string::npos) << report;
  }
  EXPECT_EQ(kwtest::ReadFile(icon).compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);

  std::string self = install_ + "/uninstall.exe";
  UninstallFrom(self.c_str(), home_.dataHome().c_str(), home_.desktop().c_str());
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
  EXPECT_FALSE(fs::exists(self));
  EXPECT_FALSE(fs::exists(home_.desktop() + "/Tarnwick.desktop"));
  EXPECT_FALSE(fs::exists(menu));
  EXPECT_FALSE(fs::exists(icon));
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
  EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), "<no key>");
}

TEST_F(EngineInstall, InjectedFaultsStillGiveTheExactTree) {
  ServerProcess server(
      g_suite->package,
      {"--seed", "11", "--fail-rate", "0.15", "--drop-rate", "0.15", "--corrupt-rate", "0.1",
       "--short-rate", "0.1", "--max-faults", "8", "--url-ttl", "2"},
      dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  RecordingOwner owner;
  ASSERT_EQ(RunOnline(server, owner), 0);
  ExpectInstalledOnline();
  // The faults did happen: error answers, and more volume reads than a
  // clean run makes.
  EXPECT_GT(server.CountLines(" 500"), 0);
  int clean = 0;
  for (int k = 0; k < 3; ++k) clean += CleanPieces(k);
  EXPECT_GT(server.CountRequests("/files/"), clean);
}

// What the page reads during the download phase of a run: snapshots from a
// thread polling Progress() and from every repaint (one follows each segment
// written, so the last shows the finished download).  A snapshot counts only
// when the download stage held before and after it was taken.
struct DownloadWatch {
  std::mutex mutex;
  std::vector<int64_t> polled;     // in the polling thread's order
  std::vector<int64_t> repainted;  // from the engine's threads
  int64_t total = 0;
  bool pastTotal = false;
  bool totalChanged = false;
  bool barBackwards = false;
  int64_t lastShown = 0;

  void Take(const CKWInstallEngine& engine, std::vector<int64_t> DownloadWatch::*into) {
    int32_t before = g_installStage.load();
    KwEngineProgress p = engine.Progress();
    if (before != 1 || g_installStage.load() != 1 || p.downloadTotal == 0) return;
    std::lock_guard<std::mutex> lock(mutex);
    if (total != 0 && p.downloadTotal != total) totalChanged = true;
    total = p.downloadTotal;
    if (p.downloadDone > p.downloadTotal || p.downloadDone < 0) pastTotal = true;
    // The bar counts download and unpacking together and never steps back.
    if (p.doneBytes < lastShown || p.doneBytes > p.totalBytes) barBackwards = true;
    lastShown = p.doneBytes;
    (this->*into).push_back(p.downloadDone);
  }
  int64_t MaxRepainted() {
    std::lock_guard<std::mutex> lock(mutex);
    return repainted.empty() ? -1 : *std::max_element(repainted.begin(), repainted.end());
  }
};

class EngineProgress : public EngineInstall {
 protected:
  // Runs a whole online installation while `watch` looks on; returns the
  // run's result.
  int WatchRun(ServerProcess& server, DownloadWatch& watch) {
    KwSetServerBaseUrl(server.url().c_str());
    RecordingOwner owner;
    CKWInstallEngine engine(&owner, &disk_);
    engine.SetRunMode(0);
    owner.onRepaint = [&] { watch.Take(engine, &DownloadWatch::repainted); };
    const char* key = nullptr;
    if (engine.StartRun(true, install_.c_str(), &key) != kKwStartOk) return -100;
    while (!engine.RunFinished()) {
      watch.Take(engine, &DownloadWatch::polled);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    engine.WaitUntilFinished();
    owner.onRepaint = nullptr;
    return engine.LastResult();
  }

  static int64_t PackageBytes() {
    int64_t sum = 0;
    for (int k = 0; k < 3; ++k)
      sum += static_cast<int64_t>(
          fs::file_size(g_suite->package + "/V2.0.0_00" + std::to_string(k) + ".kwk"));
    return sum;
  }
};

TEST_F(EngineProgress, RateLimitedDownloadMovesWhileSegmentsArrive) {
  // 2 MB/s per connection: every planned piece is at least 1 MiB, so for
  // about half a second nothing can have landed in a volume file yet.
  ServerProcess server(g_suite->package, {"--rate-limit", "2000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  DownloadWatch watch;
  ASSERT_EQ(WatchRun(server, watch), 0);
  ExpectInstalledOnline();

  EXPECT_EQ(watch.total, PackageBytes());
  EXPECT_FALSE(watch.totalChanged);
  EXPECT_FALSE(watch.pastTotal);
  EXPECT_FALSE(watch.barBackwards);
  // Several different figures below the smallest piece: the bar moved
  // before the first segment was written.
  std::set<int64_t> early;
  for (int64_t d : watch.polled) {
    if (d > 0 && d < (1 << 20)) early.insert(d);
  }
  EXPECT_GE(early.size(), 2u);
  // Without faults nothing is taken back, so the figure never steps back.
  EXPECT_TRUE(std::is_sorted(watch.polled.begin(), watch.polled.end()));
  // The last segment written leaves the download exactly complete.
  EXPECT_EQ(watch.MaxRepainted(), watch.total);
}

TEST_F(EngineProgress, RetriedSegmentsAreNotCountedTwice) {
  // Dropped connections and short answers deliver part of a segment before
  // failing; a corrupted byte makes a whole volume come again.
  ServerProcess server(g_suite->package,
                       {"--seed", "5", "--drop-rate", "0.3", "--short-rate", "0.2",
                        "--corrupt-rate", "0.1", "--max-faults", "8", "--rate-limit", "20000000"},
                       dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  DownloadWatch watch;
  ASSERT_EQ(WatchRun(server, watch), 0);
  ExpectInstalledOnline();
  int clean = 0;
  for (int k = 0; k < 3; ++k) clean += CleanPieces(k);
  EXPECT_GT(server.CountRequests("/files/"), clean);

  EXPECT_EQ(watch.total, PackageBytes());
  EXPECT_FALSE(watch.pastTotal);
  EXPECT_FALSE(watch.barBackwards);
  EXPECT_EQ(watch.MaxRepainted(), watch.total);
}

TEST_F(EngineProgress, ServerWithoutRangesGivesOneStreamPerVolumeCountingOnlyWrittenBytes) {
  // Every volume read is answered with 200 and the whole file.  The ranged
  // attempts of the first volume bring nothing that is kept, so the bar
  // must never show them; from then on each volume is one request.
  ServerProcess server(g_suite->package, {"--ignore-range", "--rate-limit", "30000000"},
                       dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  DownloadWatch watch;
  ASSERT_EQ(WatchRun(server, watch), 0);
  ExpectInstalledOnline();
  EXPECT_EQ(watch.total, PackageBytes());
  EXPECT_FALSE(watch.pastTotal);
  EXPECT_TRUE(std::is_sorted(watch.polled.begin(), watch.polled.end()));
  EXPECT_EQ(watch.MaxRepainted(), watch.total);
  const int first = server.CountRequests("/files/V2.0.0_000");
  EXPECT_GE(first, 2);
  EXPECT_LE(first, 1 + 4 * 2);  // the workers' attempts, then one stream
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_001"), 1);
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_002"), 1);
}

TEST_F(EngineProgress, BandwidthCapHoldsAndTheSpeedShownStaysWithinIt) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  const int64_t cap = 8000000;
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetMaxSpeed(cap);
  engine.SetRunMode(0);
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  int64_t fastest = 0;
  int64_t shownCap = 0;
  std::chrono::steady_clock::time_point first{}, last{};
  while (!engine.RunFinished()) {
    KwEngineProgress p = engine.Progress();
    if (g_installStage.load() == 1 && p.totalBytes > 0) {
      if (first == std::chrono::steady_clock::time_point{})
        first = std::chrono::steady_clock::now();
      last = std::chrono::steady_clock::now();
      fastest = std::max(fastest, p.speed);
      shownCap = p.speedCap;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine.WaitUntilFinished();
  ASSERT_EQ(engine.LastResult(), 0);
  ExpectInstalledOnline();
  EXPECT_EQ(shownCap, cap);
  // Only slower than the cap allows, never faster; a busy machine can only
  // make it slower still.  The speed shown may read a burst at each end of
  // its second above the cap (a tenth) and never more than a fifth.
  const double seconds = std::chrono::duration<double>(last - first).count();
  EXPECT_GE(seconds, 0.9 * static_cast<double>(PackageBytes()) / cap);
  EXPECT_GT(fastest, 0);
  EXPECT_LE(fastest, cap * 12 / 10);
}

TEST_F(EngineInstall, WholeFileOfAnotherLengthThanListedEndsTheRunWithTheReason) {
  // Every answer is whole and one byte short, complete as far as HTTP goes:
  // asking again cannot help, so the run ends instead of looping.
  ServerProcess server(g_suite->package, {"--ignore-range", "--short-rate", "1"},
                       dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  EXPECT_NE(RunFrom(engine, 0, ""), 0);
  const std::string failure = engine.Progress().failure;
  EXPECT_NE(failure.find("sends"), std::string::npos) << failure;
  EXPECT_NE(failure.find("lists " + std::to_string(fs::file_size(Volume(0)))), std::string::npos)
      << failure;
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
  EXPECT_LE(server.CountRequests("/files/"), 1 + 4 * 2);
}

TEST_F(EngineInstall, CompleteVolumeIsSkippedWrongChecksumFetchedAgainLeftoverIgnored) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  fs::create_directories(install_);
  fs::copy_file(Volume(0), Downloaded(0));
  std::string bad = kwtest::ReadFile(Volume(1));
  bad[bad.size() / 2] ^= 0x20;
  kwtest::WriteFile(Downloaded(1), bad);
  // A leftover volume of an older, longer package is not part of this one.
  kwtest::WriteFile(Downloaded(3), kwtest::ReadFile(Volume(2)));

  RecordingOwner owner;
  std::atomic<bool> sawFirstCounted{false};
  int64_t firstLength = static_cast<int64_t>(fs::file_size(Volume(0)));
  CKWInstallEngine* current = nullptr;
  std::mutex m;
  owner.onRepaint = [&] {
    std::lock_guard<std::mutex> lock(m);
    if (current == nullptr || g_installStage.load() != 1) return;
    KwEngineProgress p = current->Progress();
    if (p.volumeIndex == 0 && p.downloadDone == firstLength) sawFirstCounted = true;
  };
  KwSetServerBaseUrl(server.url().c_str());
  {
    CKWInstallEngine engine(&owner, &disk_);
    {
      std::lock_guard<std::mutex> lock(m);
      current = &engine;
    }
    const char* key = nullptr;
    ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
    engine.WaitUntilFinished();
    EXPECT_EQ(engine.LastResult(), 0);
    std::lock_guard<std::mutex> lock(m);
    current = nullptr;
  }
  EXPECT_TRUE(sawFirstCounted);
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_000.tmp"), 0);
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_001.tmp"), 4);
  ExpectInstalledOnline();
}

// Swaps two different bytes eight apart: the lane sum cannot see it, the
// SHA-256 can.
std::string SwapSameLane(std::string bytes) {
  for (size_t at = bytes.size() / 2; at + 8 < bytes.size(); ++at) {
    if (bytes[at] != bytes[at + 8]) {
      std::swap(bytes[at], bytes[at + 8]);
      return bytes;
    }
  }
  return bytes;
}

TEST_F(EngineInstall, Sha256RefusesVolumesTheChecksumWouldPass) {
  // The server's second volume is changed in a way its listed checksum still
  // matches; so is a first volume left on disk by an earlier run.
  std::string package = dir_ / "package";
  fs::copy(g_suite->package, package);
  kwtest::WriteFile(package + "/V2.0.0_001.kwk", SwapSameLane(kwtest::ReadFile(Volume(1))));
  ASSERT_EQ(Checksum(package + "/V2.0.0_001.kwk"), Checksum(Volume(1)));
  fs::create_directories(install_);
  kwtest::WriteFile(Downloaded(0), SwapSameLane(kwtest::ReadFile(Volume(0))));
  ServerProcess server(package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());

  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  // Refused like a checksum mismatch: fetched again from scratch, and after
  // the third failed check the run ends by itself with its message instead
  // of asking the server for ever.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  const std::string checkpoint = install_ + "/.V2.0.0.staging/.kwcheckpoint";
  while (!engine.RunFinished() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(engine.RunFinished()) << "still fetching after 60 s";
  engine.Stop();
  engine.WaitUntilFinished();
  EXPECT_NE(engine.LastResult(), 0);
  EXPECT_EQ(owner.messages(), std::vector<std::string>{"volumebad"});
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_001.tmp"), 3 * CleanPieces(1));
  EXPECT_FALSE(fs::exists(Downloaded(1)));
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "<no key>");
  // The first volume on disk was not taken for complete: it came again and
  // verified.  Whether it was also unpacked before the second gave up
  // depends on how busy the machine is; either way it is kept, in the
  // staging folder with its checkpoint or as the verified volume itself.
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_000.tmp"), CleanPieces(0));
  if (fs::exists(Downloaded(0))) {
    EXPECT_EQ(kwtest::ReadFile(Downloaded(0)), kwtest::ReadFile(Volume(0)));
  } else {
    EXPECT_TRUE(fs::exists(checkpoint));
  }
  // Fixed, the server's second volume installs and the first is not fetched
  // again.
  fs::copy_file(Volume(1), package + "/V2.0.0_001.kwk", fs::copy_options::overwrite_existing);
  ServerProcess fixed(package, {}, dir_ / "fixed.log");
  ASSERT_TRUE(fixed.ok());
  KwSetServerBaseUrl(fixed.url().c_str());
  CKWInstallEngine again(&owner, &disk_);
  ASSERT_EQ(again.StartRun(true, install_.c_str(), &key), kKwStartOk);
  again.WaitUntilFinished();
  EXPECT_EQ(again.LastResult(), 0) << again.Progress().failure;
  EXPECT_EQ(fixed.CountRequests("/files/V2.0.0_000.tmp"), 0);
  ExpectInstalledOnline();
}

TEST_F(EngineInstall, StreamingFromTheServerInAnotherRunMode) {
  ServerProcess server(g_suite->package, {"--url-ttl", "1"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  ASSERT_EQ(RunFrom(engine, static_cast<int32_t>(RunMode::BesidePackage), ""), 0)
      << engine.Progress().failure;
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallDone});
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
  // Nothing was downloaded to disk, and only run mode 0 makes a shortcut.
  EXPECT_FALSE(fs::exists(Downloaded(0)));
  EXPECT_FALSE(fs::exists(home_.desktop() + "/Tarnwick.desktop"));
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "Tarnwick");
}

// A release key refuses the unsigned release in the streaming run modes too,
// with the message the user sees, before any volume is read.
TEST_F(EngineInstall, StreamingRefusesAnUnsignedReleaseWithItsMessage) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  KwSetReleaseKey(std::string(64, 'a'));
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  const int result = RunFrom(engine, static_cast<int32_t>(RunMode::BesidePackage), "");
  KwSetReleaseKey("");
  EXPECT_NE(result, 0);
  EXPECT_EQ(owner.messages(), std::vector<std::string>{"releaseunsigned"});
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_EQ(server.CountRequests("/files/"), 0);
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
}

TEST_F(EngineInstall, ResumeTableSkipsAnInstalledVolumeOfTheServer) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  std::vector<KwResumeEntry> table(kKwResumeEntries);
  std::memset(table.data(), 0, table.size() * sizeof(KwResumeEntry));
  std::snprintf(table[0].name, sizeof(table[0].name), "V2.0.0_001.tmp");
  table[0].status = kKwResumeInstalled;
  std::snprintf(table[1].name, sizeof(table[1].name), "V2.0.0_002.tmp");
  table[1].offset = 0;  // an offset before the header's end still starts after it

  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetRunMode(static_cast<int32_t>(RunMode::LocalPackage));
  engine.SetResumeTable(table.data());
  const char* key = nullptr;
  ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
  engine.WaitUntilFinished();
  // Volume 1 is never read beyond its header, so neither the files it
  // carries nor its bytes can be vouched for: the run stops there and
  // leaves no version and no half of one.
  EXPECT_NE(engine.LastResult(), 0);
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_001.tmp"), 1);
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_002.tmp"), 1);
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
  EXPECT_FALSE(fs::exists(install_ + "/.V2.0.0.staging"));
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
}

TEST_F(EngineInstall, LocalVolumesInstallAndKeepTheirFiles) {
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  ASSERT_EQ(RunFrom(engine, static_cast<int32_t>(RunMode::LocalPackage), Volume(0)), 0)
      << engine.Progress().failure;
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallDone});
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
  EXPECT_TRUE(fs::exists(Volume(2)));
  EXPECT_EQ(engine.Progress().doneBytes, engine.Progress().totalBytes);
  EXPECT_EQ(g_installStage.load(), 0);
}

TEST_F(EngineInstall, OnlineInstallerGivenPackageFilesDoesNotDownload) {
  KwSetServerBaseUrl("http://127.0.0.1:9");  // nothing listens there
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  ASSERT_EQ(RunFrom(engine, 0, Volume(0)), 0) << engine.Progress().failure;
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
  EXPECT_TRUE(fs::exists(home_.desktop() + "/Tarnwick.desktop"));
  EXPECT_TRUE(fs::exists(Volume(0)));
  EXPECT_EQ(g_installStage.load(), 0);
}

TEST_F(EngineInstall, PackageAppendedToTheInstaller) {
  std::string installer = dir_ / "installer.bin";
  // The marker's lone 0x01 bytes before it must not confuse the search.
  std::string bytes(5000, 'E');
  bytes += std::string(7, '\x01');
  bytes += std::string(8, '\x01') + std::string(8, '\x02') + std::string(8, '\x03');
  bytes += std::string("V2.0.0\0\0", 8);
  // One volume holds the whole package when the threshold is never reached.
  std::string single = CachedPackage(g_suite->tree, kBigFile, 1LL << 40);
  ASSERT_TRUE(fs::exists(single + "/V2.0.0_000.kwk"));
  ASSERT_FALSE(fs::exists(single + "/V2.0.0_001.kwk"));
  bytes += kwtest::ReadFile(single + "/V2.0.0_000.kwk");
  kwtest::WriteFile(installer, bytes);

  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetInstallerFile(installer.c_str());
  ASSERT_EQ(RunFrom(engine, static_cast<int32_t>(RunMode::LocalPackage), "^"), 0)
      << engine.Progress().failure;
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");

  // Without the marker the run ends at once with 832 and stage 0.
  kwtest::WriteFile(installer, "no package here");
  RecordingOwner owner2;
  CKWInstallEngine engine2(&owner2, &disk_);
  engine2.SetRunMode(static_cast<int32_t>(RunMode::LocalPackage));
  engine2.SetInstallerFile(installer.c_str());
  engine2.SetPackageSource("^");
  const char* key = nullptr;
  ASSERT_EQ(engine2.StartRun(true, (dir_ / "other").c_str(), &key), kKwStartOk);
  engine2.WaitUntilFinished();
  EXPECT_NE(engine2.LastResult(), 0);
  EXPECT_EQ(owner2.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_EQ(g_installStage.load(), 0);
}

TEST_F(EngineInstall, UnreadableOrDamagedVolumeEndsWith832AndRegistersNothing) {
  std::string copy = dir_ / "copy";
  fs::create_directories(copy);
  for (int k = 0; k < 3; ++k) {
    fs::copy_file(Volume(k), copy + "/" + fs::path(Volume(k)).filename().string());
  }
  // A chunk of the second volume is damaged in the middle of its data.
  std::string second = copy + "/V2.0.0_001.kwk";
  std::string bytes = kwtest::ReadFile(second);
  for (size_t i = 2000; i < 2100; ++i) bytes[i] = 0;
  kwtest::WriteFile(second, bytes);

  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  EXPECT_NE(RunFrom(engine, static_cast<int32_t>(RunMode::LocalPackage), copy + "/V2.0.0_000.kwk"),
            0);
  EXPECT_FALSE(engine.Progress().failure.empty());
  EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
  EXPECT_FALSE(fs::exists(install_ + "/uninstall.exe"));
  EXPECT_EQ(g_installStage.load(), 0);
}

TEST_F(EngineInstall, PauseHoldsTransfersAndStopJoinsEveryThread) {
  // About 4 MB/s per connection: a segment takes seconds, so a pause is seen.
  ServerProcess server(g_suite->package, {"--rate-limit", "4000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  // A sanitizer starts its own helper thread with the first thread of the
  // process; start and end one first so the count below is only the run's.
  std::thread([] {}).join();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  int threadsBefore = CountThreads();
  RecordingOwner owner;
  {
    CKWInstallEngine engine(&owner, &disk_);
    const char* key = nullptr;
    ASSERT_EQ(engine.StartRun(true, install_.c_str(), &key), kKwStartOk);
    EXPECT_GE(CountThreads(), threadsBefore + 6);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine.Progress().totalBytes == 0 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    g_pauseState = 2;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // Kernel buffers may still take what the server sends, but nothing
    // reaches the volume while paused.
    int64_t held = engine.Progress().doneBytes;
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(engine.Progress().doneBytes, held);
    EXPECT_EQ(engine.Progress().speed, 0);
    g_pauseState = 0;
    deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (engine.Progress().doneBytes == held && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_GT(engine.Progress().doneBytes, held);

    // Stopping in the middle of transfers returns promptly with every
    // thread of the run ended, and tells the page nothing.
    auto before = std::chrono::steady_clock::now();
    engine.Stop();
    // Far below the engine's own waits (its queues wait up to 100 s), with
    // room for a busy machine.
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
    EXPECT_EQ(CountThreads(), threadsBefore);
    EXPECT_TRUE(owner.commands().empty());
    EXPECT_EQ(g_installStage.load(), 1);
  }
  EXPECT_EQ(CountThreads(), threadsBefore);
}

TEST_F(EngineInstall, FullDiskStopsTheRunWithAMessage) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  // A real full disk: a small memory file system, where root may mount one.
  // 20 MB fills up while downloading; 35 MB holds the volumes, but never
  // the unpacked product beside any of them, however the unpacking keeps
  // pace with the download.
  for (const char* size : {"size=20m", "size=35m"}) {
    SCOPED_TRACE(size);
    std::string small = dir_ / (std::string("small-") + size);
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, size) != 0) {
      GTEST_SKIP() << "no permission to mount a small file system";
    }
    struct Unmount {
      std::string path;
      ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{small};
    g_installStage = 0;
    RecordingOwner owner;
    CKWInstallEngine engine(&owner);  // the real disk figures
    engine.SetRequiredSpace(0);
    const char* key = nullptr;
    std::string target = small + "/install";
    ASSERT_EQ(engine.StartRun(true, target.c_str(), &key), kKwStartOk);
    auto before = std::chrono::steady_clock::now();
    engine.WaitUntilFinished();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
    EXPECT_NE(engine.LastResult(), 0);
    EXPECT_EQ(owner.messages(), std::vector<std::string>{"diskfull"});
    EXPECT_EQ(owner.commands(), std::vector<int>{kKwCmdInstallFailed});
    EXPECT_EQ(engine.Progress().failure, "the disk is full");
    // What verified stays for a later run; nothing was registered and no
    // half version is left under its name.
    EXPECT_EQ(g_installStage.load(), 1);
    EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayName"), "<no key>");
    EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue) == target,
              true);  // remembered so the page can continue the first download
    EXPECT_FALSE(fs::exists(target + "/V2.0.0"));
    if (std::string(size) != "size=35m") continue;
    // Every verified volume is on disk, or unpacked and recorded in the
    // staging folder's checkpoint.
    const std::string checkpoint = kwtest::ReadFile(target + "/.V2.0.0.staging/.kwcheckpoint");
    int unpacked = 0;
    for (size_t at = 0; (at = checkpoint.find("\ndone ", at)) != std::string::npos; ++at) {
      ++unpacked;
    }
    std::vector<std::string> kept;
    for (int k = 0; k < 3; ++k) {
      const std::string name = fs::path(Downloaded(k)).filename();
      if (k < unpacked) {
        kept.push_back(name);
      } else if (Checksum(target + "/" + name) == Checksum(Volume(k))) {
        kept.push_back(name);
      }
    }
    EXPECT_FALSE(kept.empty());
    std::vector<int> fetched;
    for (const auto& name : kept) fetched.push_back(server.CountRequests("/files/" + name));
    // With room made, the same run completes without fetching any of them
    // again.
    ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", MS_REMOUNT, "size=120m"), 0);
    RecordingOwner again;
    CKWInstallEngine second(&again);
    second.SetRequiredSpace(0);
    ASSERT_EQ(second.StartRun(true, target.c_str(), &key), kKwStartOk);
    second.WaitUntilFinished();
    EXPECT_EQ(second.LastResult(), 0) << second.Progress().failure;
    for (size_t i = 0; i < kept.size(); ++i) {
      EXPECT_EQ(server.CountRequests("/files/" + kept[i]), fetched[i]) << kept[i];
    }
    EXPECT_EQ(CompareTree(Installed(), target + "/V2.0.0"), "");
    EXPECT_FALSE(fs::exists(target + "/.V2.0.0.staging"));
    EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "V2.0.0");
  }
}

// A product of one program of `bytes` beside its uninstaller, packed from
// `dir`/source into one volume in `dir`/package; its tree, or an empty one
// when it could not be packed so.
ProductTree PackOneProgram(const std::string& dir, const std::string& bytes) {
  ProductTree tree;
  tree.files["Windows/Tarnwick.exe"] = bytes;
  tree.files["ikwdriver/uninstall.exe"] = "uninstall";
  for (const auto& file : tree.files) tree.mtimes[file.first] = 1700000000;
  WriteProductTree(tree, dir + "/source");
  if (PackTree(dir + "/source", dir + "/package", 1LL << 40) != 1) return ProductTree();
  return tree;
}

// The command line of a kwinstall run into the test's install folder from
// `server`, with a settings file that asks for little free space.
std::vector<std::string> KwinstallArgs(const ServerProcess& server, const std::string& dir,
                                       const std::string& installDir) {
  const std::string ini = dir + "/itarnwick.ini";
  kwtest::WriteFile(ini, "[INSTALL]\nREQUIREDSPACE=1048576\n");
  return {"--server", server.url(), "--dir", installDir, "--agree", "--ini", ini};
}

// A slow but steady link needs longer than the stall limit for its one
// segment: the bytes arriving keep the unattended run going, where only
// whole segments on disk counted before and the run gave up.
TEST_F(EngineInstall, SlowSteadyLinkOutlastsTheStallLimit) {
  const std::string bytes = kwtest::NoiseBytes(80000, 0x9E3779B97F4A7C15ull);
  ASSERT_FALSE(PackOneProgram(dir_.path(), bytes).files.empty());
  // About 16 KB a second: one segment takes five seconds, the limit is three.
  ServerProcess server(dir_ / "package", {"--rate-limit", "16000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  std::vector<std::string> args = KwinstallArgs(server, dir_.path(), install_);
  args.insert(args.end(), {"--stall-timeout", "3"});
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = SpawnInstall(args, dir_ / "slow.out");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid), 0) << kwtest::ReadFile(dir_ / "slow.out");
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(kwtest::ReadFile(install_ + "/V2.0.0/Windows/Tarnwick.exe"), bytes);
}

TEST_F(EngineInstall, KilledRunStartsAgainWithoutFetchingVerifiedVolumes) {
  ServerProcess server(g_suite->package, {"--rate-limit", "6000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  const std::vector<std::string> args = KwinstallArgs(server, dir_.path(), install_);
  pid_t pid = SpawnInstall(args, dir_ / "first.out");
  ASSERT_GT(pid, 0);
  // The second volume is planned only after the first has verified.
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!fs::exists(Downloaded(1)) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fs::exists(Downloaded(1)));
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitExit(pid), 128 + SIGKILL);
  EXPECT_EQ(Checksum(Downloaded(0)), Checksum(Volume(0)));
  int firstFetches = server.CountRequests("/files/V2.0.0_000.tmp");

  pid = SpawnInstall(args, dir_ / "second.out");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid), 0) << kwtest::ReadFile(dir_ / "second.out");
  EXPECT_EQ(server.CountRequests("/files/V2.0.0_000.tmp"), firstFetches);
  ExpectInstalledOnline();
}

// A release signed with kwpack installs only where the ini names its key;
// an installer with another key, or a server without a signature, downloads
// nothing and says why.
TEST_F(EngineInstall, SignedReleaseInstallsOnlyWithItsKey) {
  std::string package = dir_ / "package";
  fs::copy(g_suite->package, package);
  std::string kwpack = BinDir() + "/kwpack";
  std::string key = dir_ / "release.key", other = dir_ / "other.key";
  ASSERT_EQ(std::system((kwpack + " keygen " + key + " > /dev/null").c_str()), 0);
  ASSERT_EQ(std::system((kwpack + " keygen " + other + " > /dev/null").c_str()), 0);
  EXPECT_NE(std::system((kwpack + " keygen " + key + " 2> /dev/null").c_str()), 0);
  ASSERT_EQ(std::system((kwpack + " sign " + package + " --key " + key + " > /dev/null").c_str()),
            0);
  ServerProcess signedServer(package, {}, dir_ / "signed.log");
  ServerProcess plainServer(g_suite->package, {}, dir_ / "plain.log");
  ASSERT_TRUE(signedServer.ok() && plainServer.ok());
  std::string ini = dir_ / "itarnwick.ini";
  std::string out = dir_ / "out";
  auto install = [&](const ServerProcess& server, const std::string& pubkey) {
    kwtest::WriteFile(ini, "[SERVER]\nPUBKEY=" + pubkey + "\n[INSTALL]\nREQUIREDSPACE=1048576\n");
    return WaitExit(
        SpawnInstall({"--server", server.url(), "--dir", install_, "--agree", "--ini", ini}, out));
  };
  EXPECT_EQ(install(signedServer, other + ".pub"), 1);
  EXPECT_NE(kwtest::ReadFile(out).find("signed with another key"), std::string::npos)
      << kwtest::ReadFile(out);
  EXPECT_EQ(install(plainServer, key + ".pub"), 1);
  EXPECT_NE(kwtest::ReadFile(out).find("not signed"), std::string::npos) << kwtest::ReadFile(out);
  EXPECT_EQ(signedServer.CountRequests("/files/") + plainServer.CountRequests("/files/"), 0);
  EXPECT_FALSE(fs::exists(Downloaded(0)));

  // The key's file name alone: it lies beside the ini.
  EXPECT_EQ(install(signedServer, "release.key.pub"), 0) << kwtest::ReadFile(out);
  ExpectInstalledOnline();
}

// Byte ranges asked for `name` in a kwserve request log, from line `from` on.
std::vector<KwByteRanges::Range> RangesAsked(const std::string& log, const std::string& name,
                                             size_t from = 0) {
  std::vector<KwByteRanges::Range> out;
  std::istringstream in(kwtest::ReadFile(log));
  std::string line;
  for (size_t n = 0; std::getline(in, line); ++n) {
    size_t at = line.find(" bytes=");
    if (n < from || line.find("/files/" + name) == std::string::npos || at == std::string::npos)
      continue;
    long long first = 0, last = 0;
    if (std::sscanf(line.c_str() + at, " bytes=%lld-%lld", &first, &last) == 2)
      out.emplace_back(first, last + 1);
  }
  return out;
}

size_t LineCount(const std::string& path) {
  std::string text = kwtest::ReadFile(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A journal that vouches for a segment whose bytes are wrong: only the rest
// is fetched, the whole volume fails its check, and the designed full fetch
// gives the exact install.
TEST_F(EngineInstall, JournalWithWrongBytesEndsInAFullFetch) {
  const int64_t length = static_cast<int64_t>(fs::file_size(Volume(0)));
  ASSERT_GT(length, CKWFileDownloadCtrl::kSegmentSize);
  fs::create_directories(install_);
  std::string bytes = kwtest::ReadFile(Volume(0));
  bytes[1000] ^= 0x40;
  kwtest::WriteFile(Downloaded(0), bytes);
  PackageEntry e;
  e.length = length;
  std::snprintf(e.checksum, sizeof(e.checksum), "%s", Checksum(Volume(0)).c_str());
  std::string sum, sha;
  ASSERT_TRUE(KwVolumeDigestsOfFile(Volume(0).c_str(), &sum, &sha));
  std::snprintf(e.sha256, sizeof(e.sha256), "%s", sha.c_str());
  {
    KwVolumeJournal journal;
    ASSERT_TRUE(journal.Begin(Downloaded(0), e));
    ASSERT_TRUE(journal.Record({{0, CKWFileDownloadCtrl::kSegmentSize}}));
  }
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  RecordingOwner owner;
  ASSERT_EQ(RunOnline(server, owner), 0);
  ExpectInstalledOnline();
  EXPECT_FALSE(fs::exists(KwVolumeJournal::PathFor(Downloaded(0))));

  // First only what the journal lacked, then the whole volume once more.
  std::vector<KwByteRanges::Range> asked = RangesAsked(dir_ / "server.log", "V2.0.0_000.tmp");
  KwByteRanges firstRound, secondRound;
  size_t i = 0;
  for (; i < asked.size() && firstRound.Covered() < length - CKWFileDownloadCtrl::kSegmentSize;
       ++i) {
    EXPECT_GE(asked[i].first, CKWFileDownloadCtrl::kSegmentSize);
    firstRound.Add(asked[i].first, asked[i].second - asked[i].first);
  }
  for (; i < asked.size(); ++i) secondRound.Add(asked[i].first, asked[i].second - asked[i].first);
  EXPECT_EQ(firstRound.Covered(), length - CKWFileDownloadCtrl::kSegmentSize);
  EXPECT_EQ(secondRound.Covered(), length);
}

// kwinstall killed in the middle of a volume of several segments: the next
// run asks only for what its journal does not hold, and the install is exact.
TEST_F(EngineInstall, KilledInsideAVolumeFetchesOnlyTheMissingSegments) {
  // One volume of six segments of incompressible bytes.
  const std::string big = kwtest::NoiseBytes(70000000, 88172645463325252ull);
  const ProductTree tree = PackOneProgram(dir_.path(), big);
  ASSERT_FALSE(tree.files.empty());
  const std::string volume = install_ + "/V2.0.0_000.tmp";
  const int64_t length = static_cast<int64_t>(fs::file_size(dir_ / "package/V2.0.0_000.kwk"));
  ASSERT_GT(length, 5 * CKWFileDownloadCtrl::kSegmentSize);

  ServerProcess server(dir_ / "package", {"--rate-limit", "8000000"}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  const std::vector<std::string> args = KwinstallArgs(server, dir_.path(), install_);
  pid_t pid = SpawnInstall(args, dir_ / "first.out");
  ASSERT_GT(pid, 0);
  // Killed as soon as the journal holds a segment, with the next ones on
  // their way.
  std::string journalPath = KwVolumeJournal::PathFor(volume);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (LineCount(journalPath) < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  EXPECT_EQ(WaitExit(pid), 128 + SIGKILL);
  PackageEntry e;
  e.length = length;
  std::snprintf(e.checksum, sizeof(e.checksum), "%s",
                Checksum(dir_ / "package/V2.0.0_000.kwk").c_str());
  std::string sum, sha;
  ASSERT_TRUE(KwVolumeDigestsOfFile((dir_ / "package/V2.0.0_000.kwk").c_str(), &sum, &sha));
  std::snprintf(e.sha256, sizeof(e.sha256), "%s", sha.c_str());
  KwByteRanges journaled;
  ASSERT_TRUE(KwVolumeJournal::Load(volume, e, &journaled));
  ASSERT_GE(journaled.Covered(), CKWFileDownloadCtrl::kSegmentSize);
  ASSERT_LT(journaled.Covered(), length);

  size_t before = LineCount(dir_ / "server.log");
  pid = SpawnInstall(args, dir_ / "second.out");
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitExit(pid), 0) << kwtest::ReadFile(dir_ / "second.out");
  KwByteRanges second;
  int64_t askedBytes = 0;
  for (const KwByteRanges::Range& r : RangesAsked(dir_ / "server.log", "V2.0.0_000.tmp", before)) {
    EXPECT_FALSE(journaled.Contains(r.first, 1)) << r.first;
    second.Add(r.first, r.second - r.first);
    askedBytes += r.second - r.first;
  }
  // The missing segments, in-flight ones included, and nothing more.
  EXPECT_EQ(askedBytes, length - journaled.Covered());
  EXPECT_EQ(second.Missing(length), journaled.ranges());
  EXPECT_EQ(CompareTree(tree, install_ + "/V2.0.0").find("content differs"), std::string::npos);
  EXPECT_EQ(kwtest::ReadFile(install_ + "/V2.0.0/Windows/Tarnwick.exe"), big);
  EXPECT_FALSE(fs::exists(journalPath));
}

TEST_F(EngineInstall, CommandLineReportsRefusalsAndFailures) {
  std::string out = dir_ / "out";
  EXPECT_EQ(WaitExit(SpawnInstall({"--help"}, out)), 0);
  EXPECT_NE(kwtest::ReadFile(out).find("--server URL"), std::string::npos);
  EXPECT_EQ(WaitExit(SpawnInstall({"--dir", install_}, out)), 2);
  EXPECT_EQ(WaitExit(SpawnInstall({"--volume", Volume(0), "--dir", install_}, out)), 3);
  EXPECT_NE(kwtest::ReadFile(out).find("agree"), std::string::npos);
  EXPECT_EQ(WaitExit(SpawnInstall({"--volume", dir_ / "none_000.kwk", "--dir", install_, "--agree"},
                                  out)),
            1);
  EXPECT_NE(kwtest::ReadFile(out).find("failed"), std::string::npos);
  // An install server that never answers ends an unattended run.
  std::string ini = dir_ / "itarnwick.ini";
  kwtest::WriteFile(ini, "[INSTALL]\nREQUIREDSPACE=0\n");
  EXPECT_EQ(WaitExit(SpawnInstall({"--server", "http://127.0.0.1:9", "--dir", dir_ / "other",
                                   "--agree", "--ini", ini, "--stall-timeout", "2"},
                                  out)),
            1);
  EXPECT_NE(kwtest::ReadFile(out).find("nothing moved"), std::string::npos);
  EXPECT_EQ(WaitExit(SpawnInstall({"--volume", Volume(0), "--dir", install_, "--agree"}, out)), 0)
      << kwtest::ReadFile(out);
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
}

// The entry names the version this run installed, not the one an earlier
// query left for the page to show.
TEST_F(EngineInstall, RegistersTheVersionItInstalled) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwCopyText(g_versionText, kVersionTextSize, "V9.9.9");
  RecordingOwner owner;
  ASSERT_EQ(RunOnline(server, owner), 0);
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayVersion"), "V2.0.0");
  EXPECT_EQ(RegValue(KwHive::LocalMachine, kKwUninstallKey, "DisplayIcon"),
            install_ + "/V2.0.0/Windows/Tarnwick.exe");
  EXPECT_FALSE(fs::exists(install_ + "/V9.9.9"));
}

// A folder too long for the volume paths is refused at the start, before
// the folder is made, the key store is written or the server is asked.
TEST_F(EngineInstall, InstallFolderTooLongForTheVolumePathsIsRefusedAtOnce) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  KwSetServerBaseUrl(server.url().c_str());
  // Folders of 100 letters each (a name longer than 255 bytes is refused by
  // the file system itself), filled up to the longest allowed.
  std::string longest = dir_.path() + "/x";
  while (kKwInstallFolderMax - longest.size() > 101) longest += "/" + std::string(100, 'x');
  const size_t left = kKwInstallFolderMax - longest.size();
  longest += left > 1 ? "/" + std::string(left - 1, 'x') : std::string(left, 'x');
  ASSERT_EQ(longest.size(), kKwInstallFolderMax);
  const std::string tooLong = longest + "y";
  RecordingOwner owner;
  CKWInstallEngine engine(&owner, &disk_);
  engine.SetRunMode(0);
  const char* key = nullptr;
  EXPECT_EQ(engine.StartRun(true, tooLong.c_str(), &key), kKwStartPathTooLong);
  EXPECT_STREQ(key, "pathtoolong");
  EXPECT_FALSE(fs::exists(tooLong));
  EXPECT_EQ(RegValue(KwHive::CurrentUser, kKwProductKey, kKwInstallPathValue), "<no key>");
  EXPECT_EQ(server.CountRequests("/app/"), 0);
  EXPECT_EQ(g_installStage.load(), 0);
  // The longest folder allowed installs.
  install_ = longest;
  ASSERT_EQ(RunFrom(engine, 0, ""), 0) << engine.Progress().failure;
  EXPECT_EQ(CompareTree(Installed(), install_ + "/V2.0.0"), "");
}

// Links planted at the names the installer writes under are never written
// through: the marker, a volume and a journal go around them, and what the
// links point at keeps its bytes.
TEST_F(EngineInstall, LinksPlantedAtTheInstallersNamesAreNeverWrittenThrough) {
  ServerProcess server(g_suite->package, {}, dir_ / "server.log");
  ASSERT_TRUE(server.ok());
  const std::string victim = dir_ / "victim";
  kwtest::WriteFile(victim, "private");
  fs::create_directories(install_);
  fs::create_symlink(victim, install_ + "/" + kKwUnzipMarker);
  fs::create_symlink(victim, Downloaded(1));
  fs::create_symlink(victim, Downloaded(0) + ".journal");
  RecordingOwner owner;
  ASSERT_EQ(RunOnline(server, owner), 0);
  EXPECT_EQ(kwtest::ReadFile(victim), "private");
  ExpectInstalledOnline();
}

}  // namespace
