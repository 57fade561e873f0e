// kwserve's routes and fault injection; see kwserveapp.h.
#include "kwserveapp.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <sys/stat.h>

#include <json/writer.h>

#include "kwservefaults.h"
#include "kwservelinks.h"
#include "tool/http/kwhttpdatacheck.h"

namespace {

const size_t kPiece = 16384;

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

std::string JsonText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

std::map<std::string, std::string> SignedParams(const httplib::Request& req) {
  std::map<std::string, std::string> params;
  for (const auto& param : req.params) {
    if (param.first != "sign") params.emplace(param.first, param.second);
  }
  return params;
}

// Reads `length` bytes at `offset` of the open file; short at its end.
std::string ReadSlice(std::ifstream& in, int64_t offset, size_t length) {
  std::string out(length, '\0');
  in.clear();
  in.seekg(offset);
  in.read(&out[0], static_cast<std::streamsize>(length));
  out.resize(static_cast<size_t>(in.gcount()));
  return out;
}

}  // namespace

struct KwServeApp::Impl {
  KwServeOptions options;
  KwServedPackage package;
  KwFaultPlan faults;
  httplib::Server server;
  int port = -1;
  std::mutex logLock;

  Impl(const KwServeOptions& o, const KwServedPackage& p)
      : options(o), package(p), faults(o.seed, o.maxFaults) {}

  void Answer(httplib::Response& res, int64_t code, const char* msg, const Json::Value& data) {
    Json::Value root(Json::objectValue);
    if (options.codeAsText || code != 0) {
      // A non-zero code is always sent as a number; only success may be text.
      root["code"] = options.codeAsText && code == options.answerCode
                         ? Json::Value(std::to_string(code))
                         : Json::Value(static_cast<Json::Int64>(code));
    } else {
      root["code"] = 0;
    }
    root["msg"] = msg;
    if (!data.isNull()) root["data"] = data;
    res.status = 200;
    res.set_content(JsonText(root), "application/json");
  }

  // Common checks of the API: signature and timestamp.  False when refused
  // (the answer is set).
  bool CheckSigned(const httplib::Request& req, httplib::Response& res) {
    std::string sign = req.get_param_value("sign");
    if (sign != CKwHttpDataCheck::SignOf(SignedParams(req))) {
      Answer(res, 1001, "bad signature", Json::Value());
      return false;
    }
    char* end = nullptr;
    std::string stamp = req.get_param_value("timestamp");
    long long t = std::strtoll(stamp.c_str(), &end, 10);
    if (stamp.empty() || *end != '\0' || std::llabs(t - Now()) > options.maxSkew) {
      Answer(res, 1002, "timestamp out of range", Json::Value());
      return false;
    }
    return true;
  }

  void Info(const httplib::Request& req, httplib::Response& res) {
    if (!CheckSigned(req, res)) return;
    Json::Value data(Json::objectValue);
    data["version"] = package.version;
    data["buildtime"] = options.buildtime.empty() ? package.buildtime : options.buildtime;
    Json::Value list(Json::arrayValue);
    for (const KwServedVolume& v : package.volumes) {
      Json::Value item(Json::objectValue);
      item["fileServerId"] = options.fileServerId;
      item["length"] = std::to_string(v.length);
      item["lastModified"] = std::to_string(v.lastModified);
      item["key"] = v.key;
      item["checksum"] = v.checksum;
      if (!v.sha256.empty()) item["sha256"] = v.sha256;
      list.append(item);
    }
    data["packages"] = list;
    if (package.hasManifest) {
      Json::Value manifest(Json::objectValue);
      manifest["length"] = std::to_string(package.manifest.length);
      manifest["sha256"] = package.manifest.sha256;
      manifest["url"] = FileAddress(req, package.manifestPath, package.manifestPublishedName);
      data["manifest"] = manifest;
    }
    if (package.isSigned) data["signature"] = KwReleaseSignatureJson(package.signature);
    Answer(res, options.answerCode, "ok", data);
  }

  std::string Token(const std::string& name, const std::string& expires) const {
    return CKwHttpDataCheck::SignOf({{"name", name}, {"expires", expires}});
  }

  // The address of a published file: an expiring link on the file server
  // with --files-url (the maker's file name there), else one of ours.
  std::string FileAddress(const httplib::Request& req, const std::string& diskPath,
                          const std::string& publishedName) {
    if (!options.filesUrl.empty()) {
      std::string file = diskPath.substr(diskPath.find_last_of('/') + 1);
      return KwSecureLinkAddress(options.filesUrl, file, options.linkSecret,
                                 Now() + options.linkTtl);
    }
    std::string host = req.get_header_value("Host");
    if (host.empty()) host = options.host + ":" + std::to_string(port);
    std::string expires = options.urlTtl > 0 ? std::to_string(Now() + options.urlTtl) : "0";
    return "http://" + host + "/files/" + publishedName + "?expires=" + expires +
           "&token=" + Token(publishedName, expires);
  }

  void DownloadUrl(const httplib::Request& req, httplib::Response& res) {
    if (!CheckSigned(req, res)) return;
    std::string key = req.get_param_value("key");
    const KwServedVolume* found = nullptr;
    for (const KwServedVolume& v : package.volumes) {
      if (v.key == key) found = &v;
    }
    if (found == nullptr ||
        req.get_param_value("fileServerId") != std::to_string(options.fileServerId)) {
      Answer(res, 1004, "unknown volume", Json::Value());
      return;
    }
    // With --files-url the file server holds a copy of the package folder:
    // the maker's file name is the address, the published name stays the key.
    Answer(res, options.answerCode, "ok",
           Json::Value(FileAddress(req, found->diskPath, found->publishedName)));
  }

  void File(const httplib::Request& req, httplib::Response& res, uint64_t number) {
    // Ranges are handled here, not by the HTTP library, so faults can shape them.
    const_cast<httplib::Request&>(req).ranges.clear();
    std::string name = req.matches[1];
    std::string diskPath;
    for (const KwServedVolume& v : package.volumes) {
      if (v.publishedName == name) diskPath = v.diskPath;
    }
    if (package.hasManifest && name == package.manifestPublishedName) {
      diskPath = package.manifestPath;
    }
    std::string expires = req.get_param_value("expires");
    if (diskPath.empty()) {
      res.status = 404;
      return;
    }
    if (req.get_param_value("token") != Token(name, expires)) {
      res.status = 403;
      return;
    }
    long long until = std::strtoll(expires.c_str(), nullptr, 10);
    if (until != 0 && Now() > until) {
      res.status = 403;
      res.set_content("download address expired\n", "text/plain");
      return;
    }
    struct stat st;
    if (stat(diskPath.c_str(), &st) != 0) {
      res.status = 404;
      return;
    }
    const int64_t size = st.st_size;
    int64_t first = 0;
    int64_t last = size - 1;
    int ranged = 1;
    if (req.has_header("Range")) {
      ranged = KwParseByteRange(req.get_header_value("Range").c_str(), size, &first, &last);
      if (ranged < 0) {
        res.status = 416;
        res.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
      }
    }
    if (ranged != 0) {
      first = 0;
      last = size - 1;
    }
    int64_t length = last - first + 1;
    res.status = ranged == 0 ? 206 : 200;
    if (ranged == 0) {
      res.set_header("Content-Range", "bytes " + std::to_string(first) + "-" +
                                          std::to_string(last) + "/" + std::to_string(size));
    }
    res.set_header("Accept-Ranges", "bytes");

    struct Plan {
      std::ifstream file;  // Read in order by one connection's thread.
      int64_t first;
      int64_t declared;   // Content-Length sent.
      int64_t cutAt;      // Bytes after which the connection closes (-1: never).
      int64_t corruptAt;  // Offset within the body of the inverted byte (-1: none).
      int64_t rate;
      std::chrono::steady_clock::time_point start;
      int64_t sent = 0;
    };
    auto plan = std::make_shared<Plan>();
    plan->file.open(diskPath, std::ios::binary);
    plan->first = first;
    plan->declared = length;
    plan->cutAt = -1;
    plan->corruptAt = -1;
    plan->rate = options.rateLimit;
    if (length > 0 && faults.Decide(number, KwFault::Short, options.shortRate)) {
      plan->declared = length - 1;
    }
    if (length > 1 && faults.Decide(number, KwFault::Drop, options.dropRate)) {
      plan->cutAt = length / 2;
    }
    if (length > 0 && faults.Decide(number, KwFault::Corrupt, options.corruptRate)) {
      plan->corruptAt = length / 2;
    }
    plan->start = std::chrono::steady_clock::now();
    res.set_content_provider(
        static_cast<size_t>(plan->declared), "application/octet-stream",
        [plan](size_t offset, size_t want, httplib::DataSink& sink) {
          if (plan->cutAt >= 0 && static_cast<int64_t>(offset) >= plan->cutAt) return false;
          size_t take = want < kPiece ? want : kPiece;
          if (plan->cutAt >= 0 && static_cast<int64_t>(offset + take) > plan->cutAt) {
            take = static_cast<size_t>(plan->cutAt - static_cast<int64_t>(offset));
          }
          if (plan->rate > 0) {
            // Each connection sends its answer at most at the rate: wait until
            // the bytes already sent are due.
            auto due = plan->start + std::chrono::microseconds(plan->sent * 1000000 / plan->rate);
            std::this_thread::sleep_until(due);
          }
          std::string bytes =
              ReadSlice(plan->file, plan->first + static_cast<int64_t>(offset), take);
          if (bytes.empty()) return false;
          int64_t at = plan->corruptAt - static_cast<int64_t>(offset);
          if (at >= 0 && at < static_cast<int64_t>(bytes.size()))
            bytes[at] = static_cast<char>(~bytes[at]);
          plan->sent += static_cast<int64_t>(bytes.size());
          return sink.write(bytes.data(), bytes.size());
        });
  }

  void Log(const httplib::Request& req, const httplib::Response& res) {
    char when[32];
    std::time_t t = std::time(nullptr);
    struct tm tm;
    gmtime_r(&t, &tm);
    std::strftime(when, sizeof(when), "%Y-%m-%dT%H:%M:%SZ", &tm);
    std::string range = req.get_header_value("Range");
    std::lock_guard<std::mutex> lock(logLock);
    std::fprintf(stderr, "%s %s:%d %s %s %d%s%s\n", when, req.remote_addr.c_str(), req.remote_port,
                 req.method.c_str(), req.target.c_str(), res.status, range.empty() ? "" : " ",
                 range.c_str());
    std::fflush(stderr);
  }
};

KwServeApp::KwServeApp(const KwServeOptions& options, const KwServedPackage& package)
    : m_impl(std::make_unique<Impl>(options, package)) {
  Impl* impl = m_impl.get();
  int threads = options.threads;
  impl->server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  using Handler = std::function<void(const httplib::Request&, httplib::Response&, uint64_t)>;
  // Steps shared by every request: its number, the delay and the 500 fault.
  auto route = [impl](Handler handler) {
    return [impl, handler](const httplib::Request& req, httplib::Response& res) {
      uint64_t number = impl->faults.NextRequest();
      if (impl->options.delayMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(impl->options.delayMs));
      }
      if (impl->faults.Decide(number, KwFault::Fail, impl->options.failRate)) {
        const_cast<httplib::Request&>(req).ranges.clear();
        res.status = 500;
        res.set_content("injected failure\n", "text/plain");
        return;
      }
      handler(req, res, number);
    };
  };
  impl->server.Get("/app/install/info",
                   route([impl](const httplib::Request& q, httplib::Response& s, uint64_t) {
                     impl->Info(q, s);
                   }));
  impl->server.Get("/app/file/download-url",
                   route([impl](const httplib::Request& q, httplib::Response& s, uint64_t) {
                     impl->DownloadUrl(q, s);
                   }));
  // With the volumes on another file server this one serves only the API.
  if (options.filesUrl.empty()) {
    impl->server.Get(R"(/files/([^/]+))",
                     route([impl](const httplib::Request& q, httplib::Response& s, uint64_t n) {
                       impl->File(q, s, n);
                     }));
  }
  impl->server.set_logger(
      [impl](const httplib::Request& q, const httplib::Response& s) { impl->Log(q, s); });
}

KwServeApp::~KwServeApp() = default;

int KwServeApp::Bind() {
  Impl* impl = m_impl.get();
  if (impl->options.port == 0) {
    impl->port = impl->server.bind_to_any_port(impl->options.host);
  } else if (impl->server.bind_to_port(impl->options.host, impl->options.port)) {
    impl->port = impl->options.port;
  } else {
    impl->port = -1;
  }
  return impl->port;
}

std::string KwServeApp::url() const {
  const std::string& host = m_impl->options.host;
  bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(m_impl->port);
}

bool KwServeApp::Run() {
  return m_impl->server.listen_after_bind();
}

void KwServeApp::Stop() {
  m_impl->server.stop();
}
