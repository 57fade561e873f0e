// Command line of kwserve, the reference install server.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct KwServeOptions {
  std::string root;  // Package folder: "%s_%03d.kwk" volumes and list.json.
  std::string host = "127.0.0.1";
  int port = -1;          // 0 picks a free port.
  std::string version;    // Published version; default the package name.
  std::string buildtime;  // Empty: release.json's, else "0".
  int32_t fileServerId = 1;
  int64_t maxSkew = 300;        // Seconds a request timestamp may differ from the clock.
  int64_t answerCode = 0;       // "code" of successful answers (tests use other values).
  bool codeAsText = false;      // Send "code" as a JSON text instead of a number.
  bool ignoreRange = false;     // Volume reads: always 200 and the whole file.
  int threads = 0;              // Event loops; 0: one per processor.
  int64_t requestTimeout = 10;  // Seconds for a request's head to arrive whole.
  int64_t idleTimeout = 15;     // Seconds a kept-alive connection may wait for a request.

  // Fault injection.  Rates are shares of requests in [0, 1]; the decision
  // for the n-th request depends only on the seed and n.
  uint64_t seed = 1;
  double failRate = 0;     // Any request answered with 500.
  double dropRate = 0;     // Volume reads: connection closed after half the body.
  double shortRate = 0;    // Volume reads: one byte fewer than asked, as a complete answer.
  double corruptRate = 0;  // Volume reads: one byte of the range inverted.
  int64_t maxFaults = -1;  // Faults injected at most (-1: no bound).
  int64_t delayMs = 0;     // Every request waits this long before its answer.
  int64_t rateLimit = 0;   // Volume bodies: bytes per second per connection (0: none).
  int64_t urlTtl = 0;      // Seconds a download address stays valid (0: forever).

  // Volumes on another file server: download addresses under filesUrl,
  // signed with linkSecret and valid for linkTtl seconds (see kwservelinks.h).
  // Empty filesUrl: kwserve serves the volumes itself.
  std::string filesUrl;
  std::string linkSecret;
  // Further file servers holding the same volumes (--files-url given more
  // than once), each with its own secret (the first one's when only one
  // secret was given).  Their links go out beside the first one.
  std::vector<std::string> mirrorUrls;
  std::vector<std::string> mirrorSecrets;
  int64_t linkTtl = 600;
};

// Fills `options` from argv.  Returns 0 when the server should run, 1 when
// help was asked for, 2 when the version was, -1 on an error described in
// `error`.
int KwParseServeOptions(int argc, char** argv, KwServeOptions* options, std::string* error);

// The --help and --version texts.
std::string KwServeUsage();
std::string KwServeVersion();
