// Test helper: runs a server program as a child process for one test.
//
// KwServeProcess starts kwserve with the given options, waits for its line
// "listening on URL" and stops it with SIGTERM when destroyed.  Standard error
// goes to a file (one line per request) so it never blocks the server.
// KwNginxProcess starts the system's nginx on a free port with its own
// configuration, pid and log files in a temporary folder, and stops only
// the process it started.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kwtest/tempdir.h"

namespace kwtest {

// A port no one listens on right now (the kernel picks it).
inline int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
  socklen_t len = sizeof(addr);
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

inline bool PortAccepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0;
  close(fd);
  return ok;
}

// Starts `program` with `args`; stdout to `outFd` (or /dev/null), stderr to
// `errPath`.  Returns the child's pid or -1.
inline pid_t SpawnChild(const std::string& program, const std::vector<std::string>& args, int outFd,
                        const std::string& errPath) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, 2);
    if (outFd >= 0) {
      dup2(outFd, 1);
    } else {
      int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
    }
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

class KwServeProcess {
 public:
  // `root` is the package folder; `extra` are further options.
  KwServeProcess(const std::string& root, const std::vector<std::string>& extra = {}) {
    std::string program = std::string(KW_BUILD_DIR) + "/bin/kwserve";
    std::vector<std::string> args = {"--root", root, "--port", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    int fds[2];
    if (pipe(fds) != 0) return;
    m_pid = SpawnChild(program, args, fds[1], m_log / "kwserve.log");
    close(fds[1]);
    std::string line;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < until) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char c[256];
      ssize_t n = read(fds[0], c, sizeof(c));
      if (n <= 0) break;
      line.append(c, static_cast<size_t>(n));
    }
    close(fds[0]);
    const std::string prefix = "listening on ";
    if (line.compare(0, prefix.size(), prefix) == 0) {
      m_url = line.substr(prefix.size(), line.find('\n') - prefix.size());
    }
  }
  ~KwServeProcess() { Stop(); }

  // Sends SIGTERM and returns the exit status (-1 when it did not end in 10 s).
  int Stop() {
    if (m_pid <= 0) return m_status;
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 1000; ++i) {
      int status = 0;
      if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        m_pid = -1;
        return m_status;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
    return m_status;
  }

  const std::string& url() const { return m_url; }  // Empty when it did not start.
  std::string Log() const { return ReadFile(m_log / "kwserve.log"); }

 private:
  TempDir m_log;
  pid_t m_pid = -1;
  std::string m_url;
  int m_status = -1;
};

class KwNginxProcess {
 public:
  static bool Available() { return access("/usr/sbin/nginx", X_OK) == 0; }

  // Serves the files of `root` on a free port of 127.0.0.1.
  explicit KwNginxProcess(const std::string& root)
      : KwNginxProcess([root](int port) {
          // When the tests run as root, nginx's workers drop to an
          // unprivileged user, which must be able to enter the served folder.
          chmod(root.c_str(), 0755);
          return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n    root " + root +
                 ";\n  }\n";
        }) {}

  // Runs nginx with `httpBodyFor(port)` inside its http block (server blocks
  // and settings), on a free port of 127.0.0.1; pid, logs and temporary files
  // stay in a folder of its own.  A free port can be taken by another test
  // between picking and binding it, so a failed bind is tried again on
  // another one.  An empty body is not started (ready() stays false).  The
  // access log records "$msec $request_time $status $request_uri
  // $body_bytes_sent" per request.
  explicit KwNginxProcess(const std::function<std::string(int port)>& httpBodyFor) {
    for (int attempt = 0; attempt < 5 && !m_ready; ++attempt) {
      const int port = FreePort();
      const std::string body = httpBodyFor(port);
      if (body.empty()) return;
      Start(port, body);
      if (!m_ready && ErrorLog().find("Address already in use") == std::string::npos) return;
    }
  }

  ~KwNginxProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGQUIT);
      waitpid(m_pid, nullptr, 0);
    }
  }
  bool ready() const { return m_ready; }
  int port() const { return m_port; }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  std::string ErrorLog() const {
    return ReadFile(m_dir / "error.log") + ReadFile(m_dir / "stderr");
  }
  std::string AccessLog() const { return ReadFile(m_dir / "access.log"); }

 private:
  void Start(int port, const std::string& httpBody) {
    m_port = port;
    std::string conf = m_dir / "nginx.conf";
    std::string tmp = m_dir / "tmp";
    mkdir(tmp.c_str(), 0755);
    std::string text = "daemon off;\nworker_processes 1;\n";
    text += "pid " + m_dir / "nginx.pid" + ";\n";
    text += "error_log " + m_dir / "error.log" + ";\n";
    text += "events { worker_connections 64; }\n";
    text += "http {\n";
    text += "  log_format kwtest '$msec $request_time $status $request_uri $body_bytes_sent';\n";
    text += "  access_log " + m_dir / "access.log" + " kwtest;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
      text += std::string("  ") + kind + "_temp_path " + tmp + ";\n";
    }
    text += httpBody;
    text += "}\n";
    WriteFile(conf, text);
    const std::string pidFile = m_dir / "nginx.pid";
    unlink(pidFile.c_str());
    m_pid =
        SpawnChild("/usr/sbin/nginx", {"-p", m_dir.path(), "-e", m_dir / "error.log", "-c", conf},
                   -1, m_dir / "stderr");
    // nginx writes its pid file only once its listening sockets are bound,
    // so a port that accepts is its own and not another test's server that
    // took the same number.  Slow machines start nginx slowly; give up early
    // only when it ended.
    for (int i = 0; i < 3000 && !(access(pidFile.c_str(), F_OK) == 0 && PortAccepts(m_port));
         ++i) {
      if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
        m_pid = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    m_ready = m_pid > 0 && access(pidFile.c_str(), F_OK) == 0 && PortAccepts(m_port);
  }

  TempDir m_dir;
  int m_port = 0;
  pid_t m_pid = -1;
  bool m_ready = false;
};

// The repository's nginx configuration for the volumes, rendered for a test:
// its listen line, package folder and link secret replaced.  Empty when one
// of them is no longer where the file's instructions say it is.
inline std::string RenderDeployNginx(int port, const std::string& root, const std::string& secret) {
  std::string text = ReadFile(std::string(KW_SOURCE_DIR) + "/deploy/nginx/tarnwick-files.conf");
  const std::pair<std::string, std::string> edits[] = {
      {"listen 8080;", "listen 127.0.0.1:" + std::to_string(port) + ";"},
      {"root /srv/tarnwick/packages;", "root " + root + ";"},
      {"CHANGE-THIS-SECRET", secret}};
  for (const auto& edit : edits) {
    size_t at = text.find(edit.first);
    if (at == std::string::npos) return "";
    text.replace(at, edit.first.size(), edit.second);
  }
  return text;
}

}  // namespace kwtest
