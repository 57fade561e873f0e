// Test helper: a small HTTP server inside the test process, for answers the
// reference server never gives (no Content-Range, wrong ranges, huge
// headers, stalls).  Handlers are added before Start; Stop joins the thread.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

namespace kwtest {

class InProcessServer {
 public:
  InProcessServer() : m_server(std::make_unique<httplib::Server>()) {}
  // A TLS server with the given certificate and key (PEM files).
  InProcessServer(const std::string& cert, const std::string& key)
      : m_server(std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str())), m_tls(true) {}
  httplib::Server& server() { return *m_server; }
  void Start() {
    m_port = m_server->bind_to_any_port("127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
  }
  ~InProcessServer() {
    m_server->stop();
    if (m_thread.joinable()) m_thread.join();
  }
  std::string url(const std::string& path) const {
    return (m_tls ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(m_port) + path;
  }

 private:
  std::unique_ptr<httplib::Server> m_server;
  bool m_tls = false;
  std::thread m_thread;
  int m_port = -1;
};

// Ranges are answered by the handlers themselves.
inline void TakeRanges(const httplib::Request& req) {
  const_cast<httplib::Request&>(req).ranges.clear();
}

}  // namespace kwtest
