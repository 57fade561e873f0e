// kwserve's routes and fault injection; see kwserveapp.h.
#include "kwserveapp.h"
#include "baseutil/kwjsonread.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include <json/reader.h>
#include <json/writer.h>

#include "kwservefaults.h"
#include "kwservelinks.h"
#include "kwserveloop.h"
#include "tool/http/kwhttpdatacheck.h"

namespace {

int64_t Now() {
  return static_cast<int64_t>(std::time(nullptr));
}

std::string JsonText(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  return Json::writeString(builder, value);
}

std::map<std::string, std::string> SignedParams(const KwHttpRequest& req) {
  std::map<std::string, std::string> params;
  for (const auto& param : req.params) {
    if (param.first != "sign") params.emplace(param.first, param.second);
  }
  return params;
}

}  // namespace

struct KwServeApp::Impl {
  KwServeOptions options;
  KwServedPackage package;
  KwFaultPlan faults;
  std::unique_ptr<KwEventServer> server;
  int port = -1;
  std::string infoText;  // the version answer; it never changes while serving
  // With a manifest the answer differs only in the manifest's address, so
  // it is made once around a marker and each request fills in the address.
  std::string infoBefore, infoAfter;
  bool infoSpliced = false;

  Impl(const KwServeOptions& o, const KwServedPackage& p)
      : options(o), package(p), faults(o.seed, o.maxFaults) {}

  void Answer(KwHttpResponse& res, int64_t code, const char* msg, const Json::Value& data) {
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
    res.SetContent(JsonText(root), "application/json");
  }

  // Common checks of the API: signature and timestamp.  False when refused
  // (the answer is set).
  bool CheckSigned(const KwHttpRequest& req, KwHttpResponse& res) {
    std::string sign = req.Param("sign");
    if (sign != CKwHttpDataCheck::SignOf(SignedParams(req))) {
      Answer(res, 1001, "bad signature", Json::Value());
      return false;
    }
    char* end = nullptr;
    std::string stamp = req.Param("timestamp");
    long long t = std::strtoll(stamp.c_str(), &end, 10);
    if (stamp.empty() || *end != '\0' || std::llabs(t - Now()) > options.maxSkew) {
      Answer(res, 1002, "timestamp out of range", Json::Value());
      return false;
    }
    return true;
  }

  void Info(const KwHttpRequest& req, KwHttpResponse& res) {
    if (!CheckSigned(req, res)) return;
    res.status = 200;
    // The manifest's address expires like a volume's, so an answer naming
    // one is made per request; the rest never changes while serving.
    if (!package.hasManifest) {
      res.SetContent(infoText, "application/json");
    } else if (infoSpliced) {
      std::string url = FileAddress(req, package.manifestPath, package.manifestPublishedName);
      std::string body;
      body.reserve(infoBefore.size() + url.size() + 8 + infoAfter.size());
      body += infoBefore;
      // The address holds the client's Host header: quoted and escaped the
      // way the rest of the answer is written.
      body += Json::valueToQuotedString(url.c_str());
      body += infoAfter;
      res.SetContent(std::move(body), "application/json");
    } else {
      res.SetContent(InfoAnswer(&req, nullptr), "application/json");
    }
  }

  void MakeInfoAnswer() {
    infoText = InfoAnswer(nullptr, nullptr);
    if (!package.hasManifest) return;
    static const char kMarker[] = "kw-manifest-address-marker";
    std::string text = InfoAnswer(nullptr, kMarker);
    std::string quoted = std::string("\"") + kMarker + "\"";
    size_t at = text.find(quoted);
    if (at == std::string::npos || text.find(quoted, at + 1) != std::string::npos) return;
    infoBefore = text.substr(0, at);
    infoAfter = text.substr(at + quoted.size());
    infoSpliced = true;
  }

  // The version answer; with `req` it names the manifest's address made for
  // that request, with `marker` it holds the marker in its place.
  std::string InfoAnswer(const KwHttpRequest* req, const char* marker) {
    KwHttpResponse res;
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
    if (package.hasManifest && (req != nullptr || marker != nullptr)) {
      Json::Value manifest(Json::objectValue);
      manifest["length"] = std::to_string(package.manifest.length);
      manifest["sha256"] = package.manifest.sha256;
      manifest["url"] = marker != nullptr ? std::string(marker)
                                          : FileAddress(*req, package.manifestPath,
                                                        package.manifestPublishedName);
      data["manifest"] = manifest;
    }
    if (package.isSigned) data["signature"] = KwReleaseSignatureJson(package.signature);
    Answer(res, options.answerCode, "ok", data);
    return res.body;
  }

  // Adds a member to the JSON answer already in `res`.
  static void AddMember(KwHttpResponse& res, const char* name, const Json::Value& value) {
    Json::Value root;
    std::string errors;
    if (KwReadJson(res.body, &root, &errors) != kKwJsonOk) return;
    root[name] = value;
    res.body = JsonText(root);
  }

  std::string Token(const std::string& name, const std::string& expires) const {
    return CKwHttpDataCheck::SignOf({{"name", name}, {"expires", expires}});
  }

  // The address of a published file: an expiring link on the file server
  // with --files-url (the maker's file name there), else one of ours.
  std::string FileAddress(const KwHttpRequest& req, const std::string& diskPath,
                          const std::string& publishedName) {
    if (!options.filesUrl.empty()) {
      std::string file = diskPath.substr(diskPath.find_last_of('/') + 1);
      return KwSecureLinkAddress(options.filesUrl, file, options.linkSecret,
                                 Now() + options.linkTtl);
    }
    std::string host = req.Header("Host");
    if (host.empty()) host = options.host + ":" + std::to_string(port);
    std::string expires = options.urlTtl > 0 ? std::to_string(Now() + options.urlTtl) : "0";
    return "http://" + host + "/files/" + publishedName + "?expires=" + expires +
           "&token=" + Token(publishedName, expires);
  }

  void DownloadUrl(const KwHttpRequest& req, KwHttpResponse& res) {
    if (!CheckSigned(req, res)) return;
    std::string key = req.Param("key");
    const KwServedVolume* found = nullptr;
    for (const KwServedVolume& v : package.volumes) {
      if (v.key == key) found = &v;
    }
    if (found == nullptr || req.Param("fileServerId") != std::to_string(options.fileServerId)) {
      Answer(res, 1004, "unknown volume", Json::Value());
      return;
    }
    if (!options.filesUrl.empty()) {
      // The file server holds a copy of the package folder: the maker's
      // file name is the address, the published name stays the key.
      std::string file = found->diskPath.substr(found->diskPath.find_last_of('/') + 1);
      const int64_t expires = Now() + options.linkTtl;
      Answer(res, options.answerCode, "ok",
             Json::Value(KwSecureLinkAddress(options.filesUrl, file, options.linkSecret, expires)));
      if (!options.mirrorUrls.empty()) {
        // The same volume on the other file servers, each link signed for
        // its own server; a client that knows only "data" ignores them.
        Json::Value mirrors(Json::arrayValue);
        for (size_t i = 0; i < options.mirrorUrls.size(); ++i) {
          mirrors.append(
              KwSecureLinkAddress(options.mirrorUrls[i], file, options.mirrorSecrets[i], expires));
        }
        AddMember(res, "mirrors", mirrors);
      }
      return;
    }
    std::string host = req.Header("Host");
    if (host.empty()) host = options.host + ":" + std::to_string(port);
    std::string expires = options.urlTtl > 0 ? std::to_string(Now() + options.urlTtl) : "0";
    std::string address = "http://" + host + "/files/" + found->publishedName +
                          "?expires=" + expires + "&token=" + Token(found->publishedName, expires);
    Answer(res, options.answerCode, "ok", Json::Value(address));
  }

  void File(const KwHttpRequest& req, KwHttpResponse& res, uint64_t number,
            const std::string& name) {
    std::string diskPath;
    for (const KwServedVolume& v : package.volumes) {
      if (v.publishedName == name) diskPath = v.diskPath;
    }
    if (package.hasManifest && name == package.manifestPublishedName) {
      diskPath = package.manifestPath;
    }
    std::string expires = req.Param("expires");
    if (diskPath.empty()) {
      res.status = 404;
      return;
    }
    if (req.Param("token") != Token(name, expires)) {
      res.status = 403;
      return;
    }
    long long until = std::strtoll(expires.c_str(), nullptr, 10);
    if (until != 0 && Now() > until) {
      res.status = 403;
      res.SetContent("download address expired\n", "text/plain");
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
    if (req.HasHeader("Range") && !options.ignoreRange) {
      ranged = KwParseByteRange(req.Header("Range").c_str(), size, &first, &last);
      if (ranged < 0) {
        res.status = 416;
        res.SetHeader("Content-Range", "bytes */" + std::to_string(size));
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
      res.SetHeader("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                         "/" + std::to_string(size));
    }
    if (!options.ignoreRange) res.SetHeader("Accept-Ranges", "bytes");

    res.contentType = "application/octet-stream";
    res.hasFile = true;
    KwFileBody& body = res.file;
    body.path = diskPath;
    body.first = first;
    body.length = length;
    body.rate = options.rateLimit;
    if (length > 0 && faults.Decide(number, KwFault::Short, options.shortRate)) {
      body.length = length - 1;
    }
    if (length > 1 && faults.Decide(number, KwFault::Drop, options.dropRate)) {
      body.cutAt = length / 2;
    }
    if (length > 0 && faults.Decide(number, KwFault::Corrupt, options.corruptRate)) {
      body.corruptAt = length / 2;
    }
  }

  // One line per request, written whole by one write() so the event loops
  // never wait on each other for the log and lines never interleave.
  void Log(const KwHttpRequest& req, const KwHttpResponse& res) {
    thread_local std::time_t stampedAt = -1;
    thread_local char when[32];
    std::time_t t = std::time(nullptr);
    if (t != stampedAt) {
      struct tm tm;
      gmtime_r(&t, &tm);
      std::strftime(when, sizeof(when), "%Y-%m-%dT%H:%M:%SZ", &tm);
      stampedAt = t;
    }
    std::string range = req.Header("Range");
    std::string line;
    line.reserve(64 + req.remoteAddr.size() + req.method.size() + req.target.size() + range.size());
    line += when;
    line += ' ';
    line += req.remoteAddr;
    line += ':';
    line += std::to_string(req.remotePort);
    line += ' ';
    line += req.method;
    line += ' ';
    line += req.target;
    line += ' ';
    line += std::to_string(res.status);
    if (!range.empty()) {
      line += ' ';
      line += range;
    }
    line += '\n';
    const char* p = line.data();
    size_t left = line.size();
    while (left > 0) {
      ssize_t n = ::write(STDERR_FILENO, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;  // a closed or full log never stops serving
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
};

KwServeApp::KwServeApp(const KwServeOptions& options, const KwServedPackage& package)
    : m_impl(std::make_unique<Impl>(options, package)) {
  Impl* impl = m_impl.get();
  impl->MakeInfoAnswer();
  auto route = [impl](const KwHttpRequest& req, KwHttpResponse& res) {
    // Steps shared by every request: its number, the delay and the 500 fault.
    uint64_t number = impl->faults.NextRequest();
    res.delayMs = impl->options.delayMs;
    if (impl->faults.Decide(number, KwFault::Fail, impl->options.failRate)) {
      res.status = 500;
      res.SetContent("injected failure\n", "text/plain");
      return;
    }
    const std::string& path = req.path;
    static const std::string kFiles = "/files/";
    if (path == "/app/install/info") {
      impl->Info(req, res);
    } else if (path == "/app/file/download-url") {
      impl->DownloadUrl(req, res);
    } else if (impl->options.filesUrl.empty() && path.compare(0, kFiles.size(), kFiles) == 0 &&
               path.size() > kFiles.size() && path.find('/', kFiles.size()) == std::string::npos) {
      // With the volumes on another file server this one serves only the API.
      impl->File(req, res, number, path.substr(kFiles.size()));
    } else {
      res.status = 404;
      res.SetContent("not found\n", "text/plain");
    }
  };
  KwServeLimits limits;
  limits.requestMs = options.requestTimeout * 1000;
  limits.idleMs = options.idleTimeout * 1000;
  impl->server = std::make_unique<KwEventServer>(
      route, [impl](const KwHttpRequest& q, const KwHttpResponse& s) { impl->Log(q, s); }, limits);
}

KwServeApp::~KwServeApp() = default;

int KwServeApp::Bind() {
  Impl* impl = m_impl.get();
  impl->port = impl->server->Bind(impl->options.host, impl->options.port);
  return impl->port;
}

std::string KwServeApp::url() const {
  const std::string& host = m_impl->options.host;
  bool v6 = host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(m_impl->port);
}

bool KwServeApp::Run() {
  int loops = m_impl->options.threads;
  if (loops <= 0) loops = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return m_impl->server->Run(loops);
}

void KwServeApp::Stop() {
  m_impl->server->Stop();
}
