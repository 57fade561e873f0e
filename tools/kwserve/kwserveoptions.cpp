// Command-line parsing of kwserve; see kwserveoptions.h.
#include "kwserveoptions.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "kwservelinks.h"

namespace {

bool ToInt(const char* text, int64_t low, int64_t high, int64_t* out) {
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

bool ToShare(const char* text, double* out) {
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0.0 && value <= 1.0)) return false;
  *out = value;
  return true;
}

// The first line of `path`, without its line end.
bool ReadSecretFile(const char* path, std::string* secret) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, *secret);
  while (!secret->empty() && (secret->back() == '\r' || secret->back() == '\n')) {
    secret->pop_back();
  }
  return true;
}

// Checks the options that belong together once all are read and shares
// out the bases and secrets: one secret for every base, or one per base in
// the order of the bases.
int CheckLinkOptions(KwServeOptions& o, const std::vector<std::string>& bases,
                     const std::vector<std::string>& secrets, bool linkOptionGiven,
                     std::string* error) {
  if (bases.empty()) {
    if (!linkOptionGiven) return 0;
    *error = "--link-secret, --link-secret-file and --link-ttl need --files-url";
    return -1;
  }
  for (const std::string& base : bases) {
    std::string wrong = KwCheckFilesUrl(base);
    if (!wrong.empty()) {
      *error = "--files-url " + base + " " + wrong;
      return -1;
    }
  }
  if (secrets.empty()) {
    *error = "--files-url needs --link-secret or --link-secret-file";
    return -1;
  }
  if (secrets.size() != 1 && secrets.size() != bases.size()) {
    *error = "give one link secret for every --files-url, or one per --files-url in their order";
    return -1;
  }
  for (const std::string& secret : secrets) {
    std::string wrong = KwCheckLinkSecret(secret);
    if (!wrong.empty()) {
      *error = "the link secret " + wrong;
      return -1;
    }
  }
  o.filesUrl = bases[0];
  o.linkSecret = secrets[0];
  o.mirrorUrls.assign(bases.begin() + 1, bases.end());
  o.mirrorSecrets.clear();
  for (size_t i = 1; i < bases.size(); ++i) {
    o.mirrorSecrets.push_back(secrets.size() == 1 ? secrets[0] : secrets[i]);
  }
  return 0;
}

}  // namespace

std::string KwServeVersion() {
  return std::string("kwserve (Tarnwick) ") + KW_TOOLS_VERSION + "\n";
}

std::string KwServeUsage() {
  return "usage: kwserve --root PACKAGE_DIR --port PORT [--host ADDRESS] [options]\n"
         "\n"
         "Serves the install server API over a package folder written by the package\n"
         "maker (volumes NAME_000.kwk, NAME_001.kwk, ... and list.json).  The volumes are\n"
         "published as VERSION_000.tmp, VERSION_001.tmp, ...  With release.json beside\n"
         "list.json, every volume's SHA-256 and the release signature are served too.  Prints "
         "\"listening on URL\"\n"
         "when ready, one log line per request on standard error, and stops on SIGINT or\n"
         "SIGTERM.\n"
         "\n"
         "  --root DIR            package folder (required)\n"
         "  --port PORT           port to listen on; 0 picks a free one (required)\n"
         "  --host ADDRESS        address to listen on (default 127.0.0.1)\n"
         "  --version NAME        published version (default: that of release.json, else\n"
         "                        the package name)\n"
         "  --buildtime TEXT      build time reported with the version (default: that of\n"
         "                        release.json, else 0)\n"
         "  --file-server-id N    storage identifier of every volume (default 1)\n"
         "  --max-skew SECONDS    largest accepted timestamp difference (default 300)\n"
         "  --answer-code N       \"code\" of successful answers (default 0)\n"
         "  --code-as-text        send \"code\" as a JSON text\n"
         "  --request-timeout S   a request's head must arrive whole within S seconds\n"
         "                        (default 10); slower clients are answered 408\n"
         "  --idle-timeout S      kept-alive connections close after S idle seconds\n"
         "                        (default 15)\n"
         "  --threads N           event loops, each on a thread of its own (default: one\n"
         "                        per processor); connections are not bound to threads\n"
         "\n"
         "Fault injection (decided per request from the seed and the request's number):\n"
         "  --seed N              seed of the fault decisions (default 1)\n"
         "  --fail-rate P         share of requests answered with status 500\n"
         "  --drop-rate P         share of volume reads whose connection closes mid-body\n"
         "  --short-rate P        share of volume reads answered one byte short\n"
         "  --corrupt-rate P      share of volume reads with one byte inverted\n"
         "  --max-faults N        inject at most N faults in all\n"
         "  --ignore-range        answer volume reads with 200 and the whole file, as a\n"
         "                        server without byte ranges does\n"
         "  --delay-ms N          delay every answer by N milliseconds\n"
         "  --rate-limit BYTES    volume bytes per second per connection\n"
         "  --url-ttl SECONDS     download addresses expire after this long (403 after)\n"
         "\n"
         "Volumes on another file server (nginx with secure_link, or a CDN):\n"
         "  --files-url BASE      hand out addresses BASE/NAME_000.kwk?md5=...&expires=...\n"
         "                        instead of serving the volumes; the file server serves\n"
         "                        a copy of the package folder at BASE; given again,\n"
         "                        further file servers (mirrors) whose links go out in\n"
         "                        the answer's \"mirrors\" list beside the first\n"
         "  --link-secret SECRET  secret shared with the file server's link check; once\n"
         "                        for all file servers or once per --files-url, in order\n"
         "  --link-secret-file F  read the secret from the first line of file F (keeps it\n"
         "                        out of the process list)\n"
         "  --link-ttl SECONDS    lifetime of each address (default 600)\n"
         "\n"
         "  --help                this text\n"
         "  --version             the program's version (when no NAME follows)\n";
}

int KwParseServeOptions(int argc, char** argv, KwServeOptions* o, std::string* error) {
  bool linkOptionGiven = false;
  std::vector<std::string> bases;
  std::vector<std::string> secrets;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return 1;
    // "--version NAME" publishes NAME; alone it asks for the program's version.
    if (std::strcmp(arg, "--version") == 0 && (i + 1 >= argc || argv[i + 1][0] == '-')) return 2;
    if (std::strcmp(arg, "--code-as-text") == 0) {
      o->codeAsText = true;
      continue;
    }
    if (std::strcmp(arg, "--ignore-range") == 0) {
      o->ignoreRange = true;
      continue;
    }
    if (i + 1 >= argc) {
      *error = std::string("missing value after ") + arg;
      return -1;
    }
    const char* value = argv[++i];
    int64_t number = 0;
    bool ok = true;
    if (std::strcmp(arg, "--root") == 0) {
      o->root = value;
    } else if (std::strcmp(arg, "--host") == 0) {
      o->host = value;
    } else if (std::strcmp(arg, "--version") == 0) {
      o->version = value;
    } else if (std::strcmp(arg, "--buildtime") == 0) {
      o->buildtime = value;
    } else if (std::strcmp(arg, "--port") == 0) {
      ok = ToInt(value, 0, 65535, &number);
      o->port = static_cast<int>(number);
    } else if (std::strcmp(arg, "--file-server-id") == 0) {
      ok = ToInt(value, INT32_MIN, INT32_MAX, &number);
      o->fileServerId = static_cast<int32_t>(number);
    } else if (std::strcmp(arg, "--max-skew") == 0) {
      ok = ToInt(value, 0, INT64_MAX, &o->maxSkew);
    } else if (std::strcmp(arg, "--answer-code") == 0) {
      ok = ToInt(value, INT32_MIN, INT32_MAX, &o->answerCode);
    } else if (std::strcmp(arg, "--request-timeout") == 0) {
      ok = ToInt(value, 1, 3600, &o->requestTimeout);
    } else if (std::strcmp(arg, "--idle-timeout") == 0) {
      ok = ToInt(value, 1, 3600, &o->idleTimeout);
    } else if (std::strcmp(arg, "--threads") == 0) {
      ok = ToInt(value, 1, 256, &number);
      o->threads = static_cast<int>(number);
    } else if (std::strcmp(arg, "--seed") == 0) {
      ok = ToInt(value, 0, INT64_MAX, &number);
      o->seed = static_cast<uint64_t>(number);
    } else if (std::strcmp(arg, "--fail-rate") == 0) {
      ok = ToShare(value, &o->failRate);
    } else if (std::strcmp(arg, "--drop-rate") == 0) {
      ok = ToShare(value, &o->dropRate);
    } else if (std::strcmp(arg, "--short-rate") == 0) {
      ok = ToShare(value, &o->shortRate);
    } else if (std::strcmp(arg, "--corrupt-rate") == 0) {
      ok = ToShare(value, &o->corruptRate);
    } else if (std::strcmp(arg, "--max-faults") == 0) {
      ok = ToInt(value, -1, INT64_MAX, &o->maxFaults);
    } else if (std::strcmp(arg, "--delay-ms") == 0) {
      ok = ToInt(value, 0, 3600000, &o->delayMs);
    } else if (std::strcmp(arg, "--rate-limit") == 0) {
      ok = ToInt(value, 0, INT64_MAX, &o->rateLimit);
    } else if (std::strcmp(arg, "--url-ttl") == 0) {
      ok = ToInt(value, 0, INT64_MAX, &o->urlTtl);
    } else if (std::strcmp(arg, "--files-url") == 0) {
      bases.push_back(value);
    } else if (std::strcmp(arg, "--link-secret") == 0) {
      secrets.push_back(value);
      linkOptionGiven = true;
    } else if (std::strcmp(arg, "--link-secret-file") == 0) {
      linkOptionGiven = true;
      secrets.emplace_back();
      if (!ReadSecretFile(value, &secrets.back())) {
        *error = std::string("cannot read the link secret from ") + value;
        return -1;
      }
    } else if (std::strcmp(arg, "--link-ttl") == 0) {
      // An address must outlive the request that fetches it; a year is
      // longer than any link needs.
      ok = ToInt(value, 1, 366LL * 86400, &o->linkTtl);
      linkOptionGiven = true;
    } else {
      *error = std::string("unknown option ") + arg;
      return -1;
    }
    if (!ok) {
      *error = std::string("bad value for ") + arg + ": " + value;
      return -1;
    }
  }
  if (o->root.empty()) {
    *error = "--root is required";
    return -1;
  }
  if (o->port < 0) {
    *error = "--port is required";
    return -1;
  }
  return CheckLinkOptions(*o, bases, secrets, linkOptionGiven, error);
}
