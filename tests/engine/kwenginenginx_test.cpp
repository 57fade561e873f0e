// Volumes on nginx, the API on kwserve: the repository's nginx configuration
// serves a copy of the package folder behind expiring links that
// `kwserve --files-url` hands out, and `kwinstall` installs from the pair.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kwenginetestkit.h"
#include "kwtest/tempdir.h"
#include "network/kwserveprocess.h"

namespace {

namespace fs = std::filesystem;
using namespace kwenginetest;

constexpr int64_t kBigFile = 26000000;
const char kSecret[] = "tarnwick-test-secret";

// One request of nginx's access log.
struct Served {
  double start = 0;  // seconds since 1970
  int status = 0;
  std::string uri;
  int64_t expires = 0;  // the link's expiry
};

std::vector<Served> VolumeRequests(const std::string& log) {
  std::vector<Served> out;
  std::istringstream in(log);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    double end = 0, took = 0;
    Served s;
    int64_t bytes = 0;
    fields >> end >> took >> s.status >> s.uri >> bytes;
    if (s.uri.find(".kwk") == std::string::npos) continue;
    s.start = end - took;
    size_t at = s.uri.find("expires=");
    if (at != std::string::npos) s.expires = std::atoll(s.uri.c_str() + at + 8);
    out.push_back(s);
  }
  return out;
}

class FilesOnNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kwtest::KwNginxProcess::Available()) GTEST_SKIP() << "nginx is not installed";
    tree_ = MakeProductTree(kBigFile);
    std::string package = CachedPackage(tree_, kBigFile, 13000000);
    ASSERT_FALSE(package.empty());
    package_ = package;
    // Published as a release engineer would: the folder copied to where the
    // file server reads it (nginx's workers, unprivileged, must enter it).
    for (const auto& e : fs::directory_iterator(package)) {
      fs::copy_file(e.path(), www_ / e.path().filename().string());
    }
    chmod(www_.path().c_str(), 0755);
    install_ = dir_ / "install";
    ini_ = dir_ / "itarnwick.ini";
    kwtest::WriteFile(ini_, "[INSTALL]\nREQUIREDSPACE=1048576\n");
  }

  // nginx from the repository's configuration, with `extra` settings for
  // the whole http block.
  std::unique_ptr<kwtest::KwNginxProcess> StartNginx(const std::string& extra) {
    return StartNginxOn(www_.path(), extra);
  }
  static std::unique_ptr<kwtest::KwNginxProcess> StartNginxOn(const std::string& root,
                                                              const std::string& extra = "") {
    if (kwtest::RenderDeployNginx(80, root, kSecret).empty()) return nullptr;
    return std::make_unique<kwtest::KwNginxProcess>([&](int port) {
      std::string server = kwtest::RenderDeployNginx(port, root, kSecret);
      return server.empty() ? server : extra + server;
    });
  }

  // kwinstall against `api`; its exit status, its output in `out`.
  int Install(const std::string& api, std::string* out, const char* stallSeconds = "60") {
    return InstallWith(api, out, {"--stall-timeout", stallSeconds});
  }
  int InstallWith(const std::string& api, std::string* out, const std::vector<std::string>& more) {
    std::string outPath = dir_ / "kwinstall.out";
    int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args = {"--server", api,     "--dir", install_,
                                     "--agree",  "--ini", ini_,    "--plain"};
    args.insert(args.end(), more.begin(), more.end());
    pid_t pid = kwtest::SpawnChild(BinDir() + "/kwinstall", args, fd, outPath + ".err");
    close(fd);
    int status = 0;
    waitpid(pid, &status, 0);
    *out = kwtest::ReadFile(outPath) + kwtest::ReadFile(outPath + ".err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string CompareInstalled() const {
    ProductTree installed = tree_;
    installed.files.erase("ikwdriver/uninstall.exe");  // moved beside the versions
    return CompareTree(installed, install_ + "/V2.0.0");
  }

  kwtest::TempDir www_;   // made before the home moves TMPDIR into it
  kwtest::TempDir www2_;  // a second file server's folder, when a test needs one
  kwtest::TempDir dir_;
  ScopedHome home_{dir_ / "home"};
  ProductTree tree_;
  std::string package_;
  std::string install_;
  std::string ini_;
};

TEST_F(FilesOnNginx, InstallsByteForByteAndKwserveServesNoVolumeBytes) {
  auto nginx = StartNginx("");
  ASSERT_TRUE(nginx) << "the deploy configuration lost a line the test renders";
  ASSERT_TRUE(nginx->ready()) << nginx->ErrorLog();
  ServerProcess api(package_, {"--files-url", nginx->url(), "--link-secret", kSecret},
                    dir_ / "kwserve.log");
  ASSERT_TRUE(api.ok());
  std::string out;
  ASSERT_EQ(Install(api.url(), &out), 0) << out;
  EXPECT_EQ(CompareInstalled(), "");
  EXPECT_EQ(api.CountRequests("/files/"), 0);
  EXPECT_GE(api.CountRequests("/app/file/download-url"), 3);
  std::vector<Served> served = VolumeRequests(nginx->AccessLog());
  ASSERT_GE(served.size(), 3u) << nginx->AccessLog();
  for (const Served& s : served) EXPECT_EQ(s.status, 206) << s.uri;
}

TEST_F(FilesOnNginx, ShortLivedLinksOnARateLimitedServerAreRefreshedAndTheRunCompletes) {
  // About 1.2 MB/s per connection: the download lasts several link
  // lifetimes of 2 seconds.
  auto nginx = StartNginx("  limit_rate 1200k;\n");
  ASSERT_TRUE(nginx) << "the deploy configuration lost a line the test renders";
  ASSERT_TRUE(nginx->ready()) << nginx->ErrorLog();
  ServerProcess api(package_,
                    {"--files-url", nginx->url(), "--link-secret", kSecret, "--link-ttl", "2"},
                    dir_ / "kwserve.log");
  ASSERT_TRUE(api.ok());
  std::string out;
  ASSERT_EQ(Install(api.url(), &out), 0) << out;
  EXPECT_EQ(CompareInstalled(), "");

  std::vector<Served> served = VolumeRequests(nginx->AccessLog());
  ASSERT_FALSE(served.empty());
  std::set<int64_t> expiries;
  double firstExpiry = 1e300;
  for (const Served& s : served) {
    expiries.insert(s.expires);
    firstExpiry = std::min(firstExpiry, static_cast<double>(s.expires));
  }
  // Data was served on requests made after the first link had expired:
  // they carried newer links.
  int servedLater = 0;
  for (const Served& s : served) servedLater += s.status == 206 && s.start > firstExpiry + 1;
  EXPECT_GT(servedLater, 0) << nginx->AccessLog();
  EXPECT_GE(expiries.size(), 2u);
}

TEST_F(FilesOnNginx, RefusedLinksNeverCountAsProgressSoAStuckRunIsNoticed) {
  // kwserve signs with another secret than nginx checks: every link is
  // refused.  The refusals' pages must not look like bytes arriving, or the
  // unattended run would show a speed and wait for ever.
  auto nginx = StartNginx("");
  ASSERT_TRUE(nginx) << "the deploy configuration lost a line the test renders";
  ASSERT_TRUE(nginx->ready()) << nginx->ErrorLog();
  ServerProcess api(package_, {"--files-url", nginx->url(), "--link-secret", "another-secret"},
                    dir_ / "kwserve.log");
  ASSERT_TRUE(api.ok());
  std::string out;
  EXPECT_EQ(Install(api.url(), &out, "3"), 1) << out;
  EXPECT_NE(out.find("nothing moved"), std::string::npos) << out;
  std::vector<Served> served = VolumeRequests(nginx->AccessLog());
  ASSERT_FALSE(served.empty());
  for (const Served& s : served) EXPECT_EQ(s.status, 403) << s.uri;
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
}

TEST_F(FilesOnNginx, AMirrorServingWrongBytesIsDroppedAndTheInstallIsExact) {
  // The same volumes on a second file server, with a byte changed in every
  // 256 KiB, so whichever pieces it serves are wrong; it is listed first, so
  // it certainly serves some.
  const kwtest::TempDir& bad = www2_;
  for (const auto& e : fs::directory_iterator(www_.path())) {
    std::string bytes = kwtest::ReadFile(e.path().string());
    if (e.path().extension() == ".kwk") {
      for (size_t at = 4096; at < bytes.size(); at += 256 * 1024) bytes[at] ^= 0x5a;
    }
    kwtest::WriteFile(bad / e.path().filename().string(), bytes);
  }
  chmod(bad.path().c_str(), 0755);
  // The good server is the slower one, so the bad one's transfers are never
  // moved over to it however busy the machine: its wrong bytes always land.
  auto good = StartNginx("limit_rate 2m;\n");
  auto wrong = StartNginxOn(bad.path());
  ASSERT_TRUE(good && wrong && good->ready() && wrong->ready());
  ServerProcess api(
      package_, {"--files-url", wrong->url(), "--files-url", good->url(), "--link-secret", kSecret},
      dir_ / "kwserve.log");
  ASSERT_TRUE(api.ok());
  std::string out;
  ASSERT_EQ(Install(api.url(), &out), 0) << out;
  EXPECT_EQ(CompareInstalled(), "");
  EXPECT_NE(out.find("the file server " + wrong->url() + " is dropped for this run"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find(good->url() + " is dropped"), std::string::npos) << out;
  // Once dropped, it is asked for nothing more: its last request came
  // before the good server's last.
  std::vector<Served> fromBad = VolumeRequests(wrong->AccessLog());
  std::vector<Served> fromGood = VolumeRequests(good->AccessLog());
  ASSERT_FALSE(fromBad.empty());
  ASSERT_FALSE(fromGood.empty());
  EXPECT_LT(fromBad.back().start, fromGood.back().start);
}

TEST_F(FilesOnNginx, TransfersBelowTheLowestSpeedAreEndedAndTriedAgain) {
  // 100 KB/s per connection against a floor of 1 MB/s: each transfer is
  // ended after its window and tried again, so no segment ever lands.
  auto nginx = StartNginx("limit_rate 100k;\n");
  ASSERT_TRUE(nginx && nginx->ready());
  ServerProcess api(package_, {"--files-url", nginx->url(), "--link-secret", kSecret},
                    dir_ / "kwserve.log");
  ASSERT_TRUE(api.ok());
  std::string outPath = dir_ / "kwinstall.out";
  int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = kwtest::SpawnChild(BinDir() + "/kwinstall",
                                 {"--server", api.url(), "--dir", install_, "--agree", "--ini",
                                  ini_, "--plain", "--lowest-speed", "1000000"},
                                 fd, outPath + ".err");
  close(fd);
  const std::string note = "stayed below the lowest speed; tried again";
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (kwtest::ReadFile(outPath + ".err").find(note) == std::string::npos &&
         std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  EXPECT_NE(kwtest::ReadFile(outPath + ".err").find(note), std::string::npos)
      << kwtest::ReadFile(outPath + ".err");
  // The ended transfers were cut short: none brought a whole segment.
  for (const Served& s : VolumeRequests(nginx->AccessLog())) EXPECT_EQ(s.status, 206) << s.uri;
  EXPECT_FALSE(fs::exists(install_ + "/V2.0.0"));
}

}  // namespace
