// kwserve's event loops; see kwserveloop.h.
#include "kwserveloop.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace {

// Volume bodies are read from their file at most this much at a time.
constexpr size_t kFilePiece = 65536;
// A connection reads at most this much at once; a head is far smaller.
constexpr size_t kReadPiece = 16384;

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

// Connections a loop may hold: what the limit of open files leaves, shared
// by the loops, with room for the volume files being sent.
size_t ConnectionRoom(int loops) {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) != 0) return 256;
  const int64_t files = static_cast<int64_t>(lim.rlim_cur);
  const int64_t room = (files - 64) / 2 / std::max(loops, 1);
  return static_cast<size_t>(std::max<int64_t>(room, 16));
}

}  // namespace

class KwEventServer::Loop {
 public:
  Loop(KwEventServer* server, size_t maxConnections)
      : server_(server), maxConnections_(maxConnections) {}
  ~Loop() {
    for (auto& c : conns_) {
      close(c.first);
      if (c.second->fileFd >= 0) close(c.second->fileFd);
    }
    if (epoll_ >= 0) close(epoll_);
  }

  bool Start() {
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    if (epoll_ < 0) return false;
    epoll_event ev{};
    // Every loop waits on the listening socket; one of them is woken per
    // connection.
    ev.events = EPOLLIN | EPOLLEXCLUSIVE;
    ev.data.fd = server_->listenFd_;
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, server_->listenFd_, &ev) != 0) return false;
    epoll_event stop{};
    stop.events = EPOLLIN;
    stop.data.fd = server_->stopFd_.load();
    return epoll_ctl(epoll_, EPOLL_CTL_ADD, stop.data.fd, &stop) == 0;
  }

  void Run() {
    epoll_event events[128];
    while (!server_->stop_.load()) {
      int timeout = -1;
      if (!timers_.empty()) {
        timeout = static_cast<int>(std::clamp<int64_t>(timers_.begin()->first - NowMs(), 0, 60000));
      }
      int n = epoll_wait(epoll_, events, 128, timeout);
      if (n < 0 && errno != EINTR) break;
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == server_->listenFd_) {
          Accept();
        } else if (fd != server_->stopFd_.load()) {
          auto it = conns_.find(fd);
          if (it != conns_.end()) OnEvent(*it->second, events[i].events);
        }
      }
      RunTimers();
    }
  }

 private:
  enum class State { Reading, Delayed, Writing };

  struct Conn {
    int fd = -1;
    State state = State::Reading;
    std::string in;
    std::string out;
    size_t outAt = 0;
    bool keepAlive = true;
    bool peerClosed = false;     // the client sent all it will send
    int64_t requestStartMs = 0;  // first byte of the request being read; 0 while idle
    int64_t idleSinceMs = 0;
    int64_t lastWriteMs = 0;
    int64_t wakeAt = 0;   // in timers_ when non-zero
    uint32_t events = 0;  // what epoll watches
    std::string remoteAddr;
    int remotePort = 0;
    // A volume body still to send.
    int fileFd = -1;
    KwFileBody file;
    int64_t fileSent = 0;
    int64_t fileStartUs = 0;
    bool rateWait = false;
    KwHttpRequest request;  // the request being answered
    KwHttpResponse response;
  };

  void Watch(Conn& c, uint32_t events) {
    if (c.events == events) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = c.fd;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &ev);
    c.events = events;
  }

  void Wake(Conn& c, int64_t at) {
    if (c.wakeAt != 0) timers_.erase({c.wakeAt, c.fd});
    c.wakeAt = at;
    if (at != 0) timers_.insert({at, c.fd});
  }

  void Close(Conn& c) {
    Wake(c, 0);
    if (c.fileFd >= 0) {
      close(c.fileFd);
      --fileFdsOpen_;
    }
    const int fd = c.fd;
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    close(fd);
    conns_.erase(fd);  // destroys c
  }

  // Makes room by closing the connection that has waited longest for (the
  // rest of) a request; false when every connection is busy answering.
  bool Evict() {
    Conn* oldest = nullptr;
    int64_t oldestSince = 0;
    for (auto& entry : conns_) {
      Conn& c = *entry.second;
      if (c.state != State::Reading) continue;
      const int64_t since = c.requestStartMs != 0 ? c.requestStartMs : c.idleSinceMs;
      if (oldest == nullptr || since < oldestSince) {
        oldest = &c;
        oldestSince = since;
      }
    }
    if (oldest == nullptr) return false;
    Close(*oldest);
    return true;
  }

  void Accept() {
    for (int taken = 0; taken < 64; ++taken) {
      sockaddr_storage addr{};
      socklen_t len = sizeof(addr);
      int fd = accept4(server_->listenFd_, reinterpret_cast<sockaddr*>(&addr), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;  // none left (another loop may have taken it), or out of files
      if (conns_.size() >= maxConnections_ && !Evict()) {
        close(fd);
        continue;
      }
      // Answers go out at once, not held back to be merged with more.
      int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      auto conn = std::make_unique<Conn>();
      Conn& c = *conn;
      c.fd = fd;
      c.idleSinceMs = NowMs();
      char host[INET6_ADDRSTRLEN] = {};
      if (addr.ss_family == AF_INET) {
        auto* a = reinterpret_cast<sockaddr_in*>(&addr);
        inet_ntop(AF_INET, &a->sin_addr, host, sizeof(host));
        c.remotePort = ntohs(a->sin_port);
      } else if (addr.ss_family == AF_INET6) {
        auto* a = reinterpret_cast<sockaddr_in6*>(&addr);
        inet_ntop(AF_INET6, &a->sin6_addr, host, sizeof(host));
        c.remotePort = ntohs(a->sin6_port);
      }
      c.remoteAddr = host;
      epoll_event ev{};
      ev.events = EPOLLIN | EPOLLRDHUP;
      ev.data.fd = fd;
      if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &ev) != 0) {
        close(fd);
        continue;
      }
      c.events = ev.events;
      conns_.emplace(fd, std::move(conn));
      Wake(c, c.idleSinceMs + server_->limits_.idleMs);
    }
  }

  void OnEvent(Conn& c, uint32_t events) {
    if (events & (EPOLLERR | EPOLLHUP)) {
      Close(c);
      return;
    }
    if (c.state != State::Reading && (events & EPOLLRDHUP)) {
      // The client sent all it will (it may still read): its answer goes
      // out, then the connection ends.
      c.peerClosed = true;
      c.keepAlive = false;
      Watch(c, c.events & ~static_cast<uint32_t>(EPOLLRDHUP));
    }
    if (c.state == State::Reading && (events & (EPOLLIN | EPOLLRDHUP))) {
      Read(c);
    } else if (c.state == State::Writing && (events & EPOLLOUT)) {
      Send(c);
    }
  }

  void Read(Conn& c) {
    char buffer[kReadPiece];
    for (;;) {
      ssize_t n = recv(c.fd, buffer, sizeof(buffer), 0);
      if (n > 0) {
        if (c.in.empty() && c.requestStartMs == 0) c.requestStartMs = NowMs();
        c.in.append(buffer, static_cast<size_t>(n));
        if (c.in.size() > kKwMaxRequestHead) break;  // judged below
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      if (n < 0) {
        Close(c);  // broken
        return;
      }
      // The client sent all it will; what it sent is still answered.
      c.peerClosed = true;
      Watch(c, 0);
      break;
    }
    Dispatch(c);
  }

  // Answers the request at the start of c.in when it is complete.
  void Dispatch(Conn& c) {
    if (c.in.empty() && c.peerClosed) {
      Close(c);
      return;
    }
    if (c.in.empty()) {
      c.requestStartMs = 0;
      Wake(c, c.idleSinceMs + server_->limits_.idleMs);
      return;
    }
    if (c.requestStartMs == 0) c.requestStartMs = NowMs();
    KwHttpRequest req;
    size_t used = 0;
    const int parsed = KwParseRequestHead(c.in.data(), c.in.size(), &req, &used);
    if (parsed == kKwHeadIncomplete && c.peerClosed) {
      Close(c);
      return;
    }
    if (parsed == kKwHeadIncomplete) {
      Wake(c, c.requestStartMs + server_->limits_.requestMs);
      return;
    }
    req.remoteAddr = c.remoteAddr;
    req.remotePort = c.remotePort;
    KwHttpResponse res;
    if (parsed != kKwHeadComplete) {
      // What came cannot be read as a request: refused, and the connection
      // ends (the rest of it cannot be trusted to start a request).
      res.status = parsed;
      res.SetContent("bad request\n", "text/plain");
      req.keepAlive = false;
      c.in.clear();
    } else {
      c.in.erase(0, used);
      if (req.method == "GET" || req.method == "HEAD") {
        server_->route_(req, res);
      } else {
        res.status = 405;
        res.SetHeader("Allow", "GET, HEAD");
        res.SetContent("method not allowed\n", "text/plain");
      }
    }
    c.requestStartMs = 0;
    c.keepAlive = req.keepAlive && !c.peerClosed;
    server_->logger_(req, res);
    c.request = std::move(req);
    c.response = std::move(res);
    Watch(c, c.peerClosed ? 0u : static_cast<uint32_t>(EPOLLRDHUP));
    if (c.response.delayMs > 0) {
      c.state = State::Delayed;
      Wake(c, NowMs() + c.response.delayMs);
      return;
    }
    Answer(c);
  }

  void Answer(Conn& c) {
    const KwHttpResponse& res = c.response;
    const bool head = c.request.method == "HEAD";
    c.out = KwResponseHead(res, c.keepAlive, c.request.minorVersion);
    c.outAt = 0;
    if (!head && !res.hasFile) c.out += res.body;
    if (!head && res.hasFile && res.file.length > 0) {
      c.fileFd = open(res.file.path.c_str(), O_RDONLY | O_CLOEXEC);
      if (c.fileFd < 0) {
        Close(c);
        return;
      }
      ++fileFdsOpen_;
      c.file = res.file;
      c.fileSent = 0;
      c.fileStartUs = NowUs();
    }
    c.response = KwHttpResponse();
    c.state = State::Writing;
    c.lastWriteMs = NowMs();
    Send(c);
  }

  // Refills the output from the volume body; false when the connection must
  // close (the body is cut there, or the file cannot be read).
  bool Refill(Conn& c) {
    c.rateWait = false;
    if (c.fileFd < 0) return true;
    const int64_t left = c.file.length - c.fileSent;
    if (left <= 0 || (c.file.cutAt >= 0 && c.fileSent >= c.file.cutAt)) {
      close(c.fileFd);
      --fileFdsOpen_;
      c.fileFd = -1;
      return left <= 0;
    }
    int64_t take = std::min<int64_t>(left, kFilePiece);
    if (c.file.rate > 0) {
      // Each connection sends its answer at most at the rate: the bytes
      // already sent must be due before more go.
      const int64_t due = c.fileStartUs + c.fileSent * 1000000 / c.file.rate;
      const int64_t now = NowUs();
      if (due > now) {
        c.rateWait = true;
        return true;
      }
      take = std::min<int64_t>(take, 16384);
    }
    if (c.file.cutAt >= 0) take = std::min(take, c.file.cutAt - c.fileSent);
    c.out.resize(static_cast<size_t>(take));
    c.outAt = 0;
    ssize_t n = pread(c.fileFd, &c.out[0], static_cast<size_t>(take), c.file.first + c.fileSent);
    if (n <= 0) return false;
    c.out.resize(static_cast<size_t>(n));
    const int64_t at = c.file.corruptAt - c.fileSent;
    if (at >= 0 && at < n)
      c.out[static_cast<size_t>(at)] = static_cast<char>(~c.out[static_cast<size_t>(at)]);
    c.fileSent += n;
    return true;
  }

  void Send(Conn& c) {
    for (;;) {
      while (c.outAt < c.out.size()) {
        ssize_t n = send(c.fd, c.out.data() + c.outAt, c.out.size() - c.outAt, MSG_NOSIGNAL);
        if (n > 0) {
          c.outAt += static_cast<size_t>(n);
          c.lastWriteMs = NowMs();
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
          Watch(c, c.peerClosed ? EPOLLOUT : EPOLLOUT | EPOLLRDHUP);
          Wake(c, c.lastWriteMs + server_->limits_.writeStallMs);
          return;
        }
        Close(c);
        return;
      }
      c.out.clear();
      c.outAt = 0;
      if (c.fileFd < 0) break;
      if (!Refill(c)) {
        Close(c);
        return;
      }
      if (c.rateWait) {
        Watch(c, c.peerClosed ? 0u : static_cast<uint32_t>(EPOLLRDHUP));
        const int64_t dueUs = c.fileStartUs + c.fileSent * 1000000 / c.file.rate;
        Wake(c, (dueUs + 999) / 1000);
        return;
      }
      if (c.out.empty() && c.fileFd < 0) break;
    }
    // The answer is out.
    if (!c.keepAlive) {
      Close(c);
      return;
    }
    c.state = State::Reading;
    c.request = KwHttpRequest();
    c.idleSinceMs = NowMs();
    Watch(c, EPOLLIN | EPOLLRDHUP);
    // A request that came behind this one is answered now.
    Dispatch(c);
  }

  void RunTimers() {
    const int64_t now = NowMs();
    while (!timers_.empty() && timers_.begin()->first <= now) {
      const int fd = timers_.begin()->second;
      timers_.erase(timers_.begin());
      auto it = conns_.find(fd);
      if (it == conns_.end()) continue;
      Conn& c = *it->second;
      c.wakeAt = 0;
      switch (c.state) {
        case State::Reading:
          // Idle too long, or a request too slow to arrive whole.
          if (!c.in.empty()) {
            const char* late =
                "HTTP/1.1 408 Request Timeout\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
            (void)!send(c.fd, late, std::strlen(late), MSG_NOSIGNAL | MSG_DONTWAIT);
          }
          Close(c);
          break;
        case State::Delayed:
          Answer(c);
          break;
        case State::Writing:
          if (c.rateWait) {
            Send(c);
          } else {
            Close(c);  // the client stopped reading its answer
          }
          break;
      }
    }
  }

  KwEventServer* server_;
  size_t maxConnections_;
  int epoll_ = -1;
  int fileFdsOpen_ = 0;
  std::map<int, std::unique_ptr<Conn>> conns_;
  std::set<std::pair<int64_t, int>> timers_;
};

KwEventServer::KwEventServer(Route route, Logger logger, KwServeLimits limits)
    : route_(std::move(route)), logger_(std::move(logger)), limits_(limits) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

KwEventServer::~KwEventServer() {
  loops_.clear();
  if (listenFd_ >= 0) close(listenFd_);
  if (stopFd_ >= 0) close(stopFd_);
}

int KwEventServer::Bind(const std::string& host, int port) {
  // Idle connections cost a file each: take every file the system allows.
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found) != 0) {
    return -1;
  }
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || listen(fd, 4096) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  if (fd < 0) return -1;
  sockaddr_storage addr{};
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  listenFd_ = fd;
  if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port);
  return ntohs(reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
}

bool KwEventServer::Run(int loops) {
  if (listenFd_ < 0 || stopFd_ < 0) return false;
  loops = std::max(loops, 1);
  const size_t room =
      limits_.maxConnections > 0 ? limits_.maxConnections / loops : ConnectionRoom(loops);
  for (int i = 0; i < loops; ++i) {
    loops_.push_back(std::make_unique<Loop>(this, std::max<size_t>(room, 1)));
    if (!loops_.back()->Start()) return false;
  }
  std::vector<std::thread> threads;
  for (int i = 1; i < loops; ++i) threads.emplace_back([this, i] { loops_[i]->Run(); });
  loops_[0]->Run();
  for (std::thread& t : threads) t.join();
  return true;
}

void KwEventServer::Stop() {
  stop_ = true;
  const uint64_t one = 1;
  if (stopFd_ >= 0) (void)!write(stopFd_, &one, sizeof(one));
}
