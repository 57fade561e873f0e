// kwserve's connections: event loops that accept, read requests, hand each
// complete request to the routes and send the answers, without a thread per
// connection.
//
// An idle or slow connection costs only its buffers: a request's head must
// arrive whole within a deadline, a kept-alive connection may stay idle for
// a while, and an answer whose reader stops reading is given up.  When the
// table of connections is full, the connection that has been waiting for a
// request the longest makes room, so no number of idle or dripping clients
// keeps the others out.  Answers leave at once (no delayed small packets);
// a volume body is read from its file piece by piece as the socket takes
// it, paced by its rate limit on a timer.
//
// Each loop runs on a thread of its own and owns its connections; the routes
// run on the loop's thread and must not block (a delay is a timer).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kwservehttp.h"

struct KwServeLimits {
  int64_t requestMs = 10000;     // from a request's first byte to its end of head
  int64_t idleMs = 15000;        // a kept-alive connection without a request
  int64_t writeStallMs = 30000;  // an answer the client stopped reading
  size_t maxConnections = 0;     // 0: from the limit of open files
};

class KwEventServer {
 public:
  using Route = std::function<void(const KwHttpRequest&, KwHttpResponse&)>;
  // Told of every answered request (also of refusals the loop gives itself).
  using Logger = std::function<void(const KwHttpRequest&, const KwHttpResponse&)>;

  KwEventServer(Route route, Logger logger, KwServeLimits limits = KwServeLimits());
  ~KwEventServer();

  // Listens on `host` (IPv4 or IPv6 literal, or a name) at `port`; 0 picks
  // a free port.  Returns the port, or -1.
  int Bind(const std::string& host, int port);
  // Serves on `loops` threads (the calling one among them) until Stop.
  bool Run(int loops);
  // From any thread; Run returns soon after.
  void Stop();

 private:
  class Loop;
  Route route_;
  Logger logger_;
  KwServeLimits limits_;
  int listenFd_ = -1;
  std::atomic<bool> stop_{false};
  std::vector<std::unique_ptr<Loop>> loops_;
  std::atomic<int> stopFd_{-1};
};
