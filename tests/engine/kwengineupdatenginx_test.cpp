// Updates end to end with kwinstall: a release installed from kwserve, the
// next release updated through nginx with signed links (only the pieces the
// installed version lacks are sent, as nginx's log shows), a damaged kept
// manifest that falls back to the full download, a killed update started
// again, and verify and repair of the result.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kwenginetestkit.h"
#include "kwtest/tempdir.h"
#include "kwupdatetestkit.h"
#include "network/kwserveprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace kwenginetest;
using namespace kwupdatetest;

constexpr int64_t kLarge = 8 * 1000 * 1000;
const char kSecret[] = "tarnwick-update-secret";

// Bytes nginx sent for package files (volumes and the manifest).
int64_t BytesSent(const std::string& log, int* requests) {
  std::istringstream in(log);
  std::string line;
  int64_t sum = 0;
  *requests = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    double end = 0, took = 0;
    int status = 0;
    std::string uri;
    int64_t bytes = 0;
    fields >> end >> took >> status >> uri >> bytes;
    if (uri.find(".kwk") == std::string::npos && uri.find(".kwm") == std::string::npos) continue;
    ++*requests;
    sum += bytes;
  }
  return sum;
}

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

class UpdateEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    oldTree_ = OldRelease(kLarge);
    newTree_ = NewRelease(oldTree_);
    WriteTree(oldTree_, dir_ / "src1");
    WriteTree(newTree_, dir_ / "src2");
    ASSERT_TRUE(PackRelease(dir_ / "src1", dir_ / "pack1", "V1"));
    ASSERT_TRUE(PackRelease(dir_ / "src2", www_.path(), "V2"));
    chmod(www_.path().c_str(), 0755);
    ASSERT_TRUE(UnpackRelease(www_.path(), "V2", dir_ / "ref2"));
    ASSERT_TRUE(UnpackRelease(dir_ / "pack1", "V1", dir_ / "ref1"));
    install_ = dir_ / "install";
    ini_ = dir_ / "itarnwick.ini";
    kwtest::WriteFile(ini_, "[INSTALL]\nREQUIREDSPACE=1048576\n");
  }

  // kwinstall with `args`; its exit status and output.
  int Kwinstall(const std::vector<std::string>& args, std::string* out, pid_t* started = nullptr,
                const std::function<void(pid_t)>& whileRunning = nullptr) {
    std::string outPath = dir_ / "kwinstall.out";
    int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = kwtest::SpawnChild(BinDir() + "/kwinstall", args, fd, outPath + ".err");
    close(fd);
    if (started != nullptr) *started = pid;
    if (whileRunning) whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    *out = kwtest::ReadFile(outPath) + kwtest::ReadFile(outPath + ".err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  int Install(const std::string& api, std::string* out) {
    return Kwinstall({"--server", api, "--dir", install_, "--agree", "--ini", ini_, "--plain",
                      "--timing", "--stall-timeout", "60"},
                     out);
  }
  // The old release installed from kwserve alone.
  void InstallOld() {
    ServerProcess api(dir_ / "pack1", {}, dir_ / "kwserve1.log");
    ASSERT_TRUE(api.ok());
    std::string out;
    ASSERT_EQ(Install(api.url(), &out), 0) << out;
    EXPECT_NE(out.find("full download: no installed version"), std::string::npos) << out;
    ASSERT_TRUE(fs::exists(install_ + "/V1.kwm"));
  }
  // The tree as installed: the uninstaller moved beside the versions.
  static Tree Installed(Tree t) {
    t.erase("ikwdriver/uninstall.exe");
    return t;
  }

  kwtest::TempDir www_;
  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  Tree oldTree_, newTree_;
  std::string install_, ini_;
};

}  // namespace

TEST_F(UpdateEndToEnd, ThroughNginxOnlyTheMissingPiecesAreSentThenVerifyAndRepair) {
  if (!kwtest::KwNginxProcess::Available()) GTEST_SKIP() << "nginx is not installed";
  InstallOld();
  const std::string oldBefore = Snapshot(install_ + "/V1");
  EXPECT_EQ(CompareWithUnpacked(Installed(oldTree_), install_ + "/V1", dir_ / "ref1"), "");

  ASSERT_FALSE(kwtest::RenderDeployNginx(80, www_.path(), kSecret).empty());
  kwtest::KwNginxProcess nginx(
      [&](int port) { return kwtest::RenderDeployNginx(port, www_.path(), kSecret); });
  ASSERT_TRUE(nginx.ready()) << nginx.ErrorLog();
  ServerProcess api(www_.path(), {"--files-url", nginx.url(), "--link-secret", kSecret},
                    dir_ / "kwserve2.log");
  ASSERT_TRUE(api.ok());
  std::string out;
  ASSERT_EQ(Install(api.url(), &out), 0) << out;
  EXPECT_NE(out.find("(update from V1)"), std::string::npos) << out;
  EXPECT_EQ(CompareWithUnpacked(Installed(newTree_), install_ + "/V2", dir_ / "ref2"), "");
  EXPECT_EQ(kwtest::ReadFile(install_ + "/uninstall.exe"), newTree_.at("ikwdriver/uninstall.exe"));
  EXPECT_EQ(Snapshot(install_ + "/V1"), oldBefore);  // the installed version untouched
  EXPECT_TRUE(fs::exists(install_ + "/V2.kwm"));
  EXPECT_EQ(api.CountRequests("/files/"), 0);

  int64_t package = 0;
  for (const auto& e : fs::directory_iterator(www_.path()))
    if (e.path().extension() == ".kwk") package += static_cast<int64_t>(e.file_size());
  int requests = 0;
  const int64_t sent = BytesSent(nginx.AccessLog(), &requests);
  EXPECT_GT(requests, 1) << nginx.AccessLog();
  EXPECT_LT(sent, package / 5) << nginx.AccessLog();
  // What kwinstall reports fetched is what nginx sent.
  const size_t at = out.find("bytes fetched ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(std::atoll(out.c_str() + at + 14), sent) << out;

  // Verify, damage, verify, repair through nginx, verify.
  EXPECT_EQ(Kwinstall({"--verify", "--dir", install_}, &out), 0) << out;
  std::string huge = kwtest::ReadFile(install_ + "/V2/data/huge.bin");
  huge[12345] ^= 1;
  kwtest::WriteFile(install_ + "/V2/data/huge.bin", huge);
  fs::remove(install_ + "/V2/doc/same.txt");
  EXPECT_EQ(Kwinstall({"--verify", "--dir", install_}, &out), 1);
  EXPECT_NE(out.find("changed /data/huge.bin\nmissing /doc/same.txt\n"), std::string::npos) << out;
  const int64_t before = BytesSent(nginx.AccessLog(), &requests);
  ASSERT_EQ(Kwinstall({"--repair", "--dir", install_, "--server", api.url(), "--ini", ini_}, &out),
            0)
      << out;
  EXPECT_LT(BytesSent(nginx.AccessLog(), &requests) - before, 2 * 1000 * 1000);
  EXPECT_EQ(Kwinstall({"--verify", "--dir", install_}, &out), 0) << out;
  EXPECT_EQ(CompareWithUnpacked(Installed(newTree_), install_ + "/V2", dir_ / "ref2"), "");
}

TEST_F(UpdateEndToEnd, DamagedKeptManifestFallsBackAndAKilledUpdateCompletes) {
  InstallOld();
  // A damaged kept manifest: the designed full download, with the reason.
  std::string kept = kwtest::ReadFile(install_ + "/V1.kwm");
  kwtest::WriteFile(install_ + "/V1.kwm", kept.substr(0, kept.size() - 1) + "x");
  {
    ServerProcess api(www_.path(), {}, dir_ / "kwserve2.log");
    ASSERT_TRUE(api.ok());
    std::string out;
    ASSERT_EQ(Install(api.url(), &out), 0) << out;
    EXPECT_NE(out.find("full download: the kept manifest of V1 is unusable"), std::string::npos)
        << out;
    EXPECT_EQ(CompareWithUnpacked(Installed(newTree_), install_ + "/V2", dir_ / "ref2"), "");
  }
  // Again from a good V1, killed while the update fetches on a slow link,
  // then started again: it completes and fetches less than the first try.
  fs::remove_all(install_ + "/V2");
  fs::remove(install_ + "/V2.kwm");
  kwtest::WriteFile(install_ + "/V1.kwm", kept);
  ServerProcess slow(www_.path(), {"--rate-limit", "100000"}, dir_ / "kwserve3.log");
  ASSERT_TRUE(slow.ok());
  std::string out;
  const int killed = Kwinstall(
      {"--server", slow.url(), "--dir", install_, "--agree", "--ini", ini_, "--plain"}, &out,
      nullptr, [&](pid_t pid) {
        // Killed once some range has been asked for.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < until && slow.CountRequests(".tmp?") < 2)
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kill(pid, SIGKILL);
      });
  EXPECT_NE(killed, 0) << out;
  ServerProcess fast(www_.path(), {}, dir_ / "kwserve4.log");
  ASSERT_TRUE(fast.ok());
  ASSERT_EQ(Install(fast.url(), &out), 0) << out;
  EXPECT_NE(out.find("(update from V1)"), std::string::npos) << out;
  EXPECT_EQ(CompareWithUnpacked(Installed(newTree_), install_ + "/V2", dir_ / "ref2"), "");
}
