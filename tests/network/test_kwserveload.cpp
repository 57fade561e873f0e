// kwserve under load, as a process: answers on a kept-alive connection
// leave at once, idle and slow clients do not keep others waiting, a
// request too slow to arrive is cut at its deadline, and many clients at
// once are all answered.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "baseutil/kwjsonread.h"
#include "kwserveprocess.h"
#include "kwtestvolumes.h"
#include "tool/http/kwhttpdatacheck.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/kwrelease.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int PortOf(const std::string& url) {
  return std::atoi(url.substr(url.rfind(':') + 1).c_str());
}

// A blocking connection with a receive limit, so a test never hangs.
int Connect(int port, int timeoutSeconds = 10) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  timeval tv{timeoutSeconds, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv));
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& text) {
  size_t at = 0;
  while (at < text.size()) {
    ssize_t n = send(fd, text.data() + at, text.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<size_t>(n);
  }
  return true;
}

// Reads one answer: its status, or -1 when none came whole.
int ReadAnswer(int fd, std::string* body = nullptr) {
  std::string in;
  char buf[4096];
  size_t headEnd = std::string::npos;
  while ((headEnd = in.find("\r\n\r\n")) == std::string::npos) {
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) return -1;
    in.append(buf, static_cast<size_t>(n));
  }
  const size_t at = in.find("Content-Length: ");
  if (at == std::string::npos || at > headEnd) return -1;
  const size_t length = std::strtoul(in.c_str() + at + 16, nullptr, 10);
  while (in.size() < headEnd + 4 + length) {
    ssize_t n = recv(fd, buf, sizeof(buf), 0);
    if (n <= 0) return -1;
    in.append(buf, static_cast<size_t>(n));
  }
  if (body != nullptr) *body = in.substr(headEnd + 4, length);
  return std::atoi(in.c_str() + 9);
}

// The signed version request, as the installer asks it.
std::string VersionRequest(bool http10 = false, bool keepAlive = true,
                           const std::string& host = "127.0.0.1") {
  const std::string stamp = std::to_string(std::time(nullptr));
  const std::string sign = CKwHttpDataCheck::SignOf({{"timestamp", stamp}});
  std::string text = "GET /app/install/info?timestamp=" + stamp + "&sign=" + sign +
                     (http10 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n") + "Host: " + host + "\r\n";
  if (http10 && keepAlive) text += "Connection: keep-alive\r\n";
  if (!http10 && !keepAlive) text += "Connection: close\r\n";
  return text + "\r\n";
}

class KwServeLoad : public ::testing::Test {
 protected:
  void SetUp() override { kwtest::WritePackage(pkg.path(), "R", {5000, 300}); }
  kwtest::TempDir pkg;
};

// The manifest's address is made for each request from its Host header,
// which the client chooses: any bytes there still give valid JSON naming
// that host, and another host on the same connection gets its own address.
TEST_F(KwServeLoad, ManifestAddressFollowsEachRequestsHostAndStaysValidJson) {
  kwtest::WriteFile(pkg.path() + "/manifest.kwm", std::string(700, 'm'));
  const KwReleaseManifest described = KwDescribeManifestBytes(std::string(700, 'm'));
  ASSERT_EQ(0,
            KwWriteReleaseJson(pkg.path(), "R", KwFindVolumes(pkg.path(), "R", "kwk"), &described));
  kwtest::KwServeProcess server(pkg.path(), {});
  ASSERT_FALSE(server.url().empty());
  int fd = Connect(PortOf(server.url()));
  ASSERT_GE(fd, 0);
  const std::string hosts[] = {"mirror.example:8080", "a\"b\\c\xff:1", "127.0.0.1"};
  for (const std::string& host : hosts) {
    std::string body;
    ASSERT_TRUE(SendAll(fd, VersionRequest(false, true, host)));
    ASSERT_EQ(ReadAnswer(fd, &body), 200);
    Json::Value root;
    std::string error;
    ASSERT_EQ(kKwJsonOk, KwReadJson(body, &root, &error)) << error << "\n" << body;
    const std::string url = root["data"]["manifest"]["url"].asString();
    EXPECT_EQ(0u, url.find("http://")) << url;
    EXPECT_NE(std::string::npos, url.find("/files/")) << url;
    EXPECT_EQ(root["data"]["manifest"]["sha256"].asString(), described.sha256);
    EXPECT_EQ(2u, root["data"]["packages"].size());
    if (host.find('"') == std::string::npos) {
      EXPECT_EQ(0u, url.find("http://" + host + "/files/")) << url;
    } else {
      EXPECT_NE(std::string::npos, url.find("a\"b\\c")) << url;
    }
  }
  close(fd);
}

TEST_F(KwServeLoad, KeptAliveConnectionGetsItsAnswersWithoutDelay) {
  kwtest::KwServeProcess server(pkg.path(), {});
  ASSERT_FALSE(server.url().empty());
  const int port = PortOf(server.url());
  // A held-back answer costs tens of milliseconds each; fifty of them
  // would take over a second.  The best of three tries rules out a busy
  // moment of the machine.
  double best = 1e9;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    // The client side sends small writes at once too, as libcurl does.
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    const auto start = Clock::now();
    for (int i = 0; i < 50; ++i) {
      std::string body;
      ASSERT_TRUE(SendAll(fd, VersionRequest()));
      ASSERT_EQ(ReadAnswer(fd, &body), 200);
      ASSERT_NE(body.find("\"code\":0"), std::string::npos) << body;
    }
    best = std::min(best, SecondsSince(start));
    close(fd);
  }
  EXPECT_LT(best, 1.0);
  // HTTP/1.0 closes unless asked to keep the connection.
  int fd = Connect(port);
  ASSERT_TRUE(SendAll(fd, VersionRequest(true, false)));
  EXPECT_EQ(ReadAnswer(fd), 200);
  char c;
  EXPECT_EQ(recv(fd, &c, 1, 0), 0);
  close(fd);
}

TEST_F(KwServeLoad, IdleAndDrippingClientsDoNotHoldUpOthersAndSlowHeadsAreCut) {
  kwtest::KwServeProcess server(pkg.path(), {"--request-timeout", "3", "--threads", "1"});
  ASSERT_FALSE(server.url().empty());
  const int port = PortOf(server.url());
  std::vector<int> idle, slow;
  for (int i = 0; i < 200; ++i) {
    int a = Connect(port);
    int b = Connect(port);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    idle.push_back(a);
    ASSERT_TRUE(SendAll(b, "GET /app/install/info HTTP/1.1\r\n"));
    slow.push_back(b);
  }
  // One header line every 200 ms on every slow connection.
  std::atomic<bool> done{false};
  std::thread dripper([&] {
    for (int line = 0; !done; ++line) {
      for (int fd : slow) send(fd, "X-Drip: 1\r\n", 11, MSG_NOSIGNAL | MSG_DONTWAIT);
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  double worst = 0;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    int fd = Connect(port);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(SendAll(fd, VersionRequest()));
    EXPECT_EQ(ReadAnswer(fd), 200);
    worst = std::max(worst, SecondsSince(start));
    close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_LT(worst, 1.0);
  // The dripping heads never end; at their deadline they are answered 408
  // and closed.
  std::string answer;
  char buf[256];
  ssize_t n = recv(slow.front(), buf, sizeof(buf), 0);
  if (n > 0) answer.assign(buf, static_cast<size_t>(n));
  EXPECT_EQ(answer.compare(0, 12, "HTTP/1.1 408"), 0) << answer;
  done = true;
  dripper.join();
  for (int fd : idle) close(fd);
  for (int fd : slow) close(fd);
}

TEST_F(KwServeLoad, ManyClientsAtOnceAreAllAnswered) {
  kwtest::KwServeProcess server(pkg.path(), {});
  ASSERT_FALSE(server.url().empty());
  const int port = PortOf(server.url());
  constexpr int kClients = 256;
  std::atomic<int> ready{0}, answered{0}, failed{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&] {
      ++ready;
      while (ready < kClients) std::this_thread::yield();
      // Ten answers on one kept-alive connection, then five connections
      // of one request each.
      int fd = Connect(port, 30);
      for (int k = 0; k < 10; ++k) {
        if (fd >= 0 && SendAll(fd, VersionRequest()) && ReadAnswer(fd) == 200) {
          ++answered;
        } else {
          ++failed;
        }
      }
      if (fd >= 0) close(fd);
      for (int k = 0; k < 5; ++k) {
        int one = Connect(port, 30);
        if (one >= 0 && SendAll(one, VersionRequest(false, false)) && ReadAnswer(one) == 200) {
          ++answered;
        } else {
          ++failed;
        }
        if (one >= 0) close(one);
      }
    });
  }
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(answered.load(), kClients * 15);
}

}  // namespace
