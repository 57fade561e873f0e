// kwserve's HTTP/1.x messages: the head of a request as it arrives on a
// connection, read with limits on its size and its number of header lines,
// and the answer a route gives, with either a text body or a stretch of a
// volume file that the connection sends piece by piece.
//
// Only GET and HEAD without a body are served; anything else is refused
// with a status and the connection closed.  The head parser keeps no state
// between calls, so however the bytes are split it gives the same result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Largest request head (request line and header lines) read, and most
// header lines; a client beyond either is answered 431.
inline constexpr size_t kKwMaxRequestHead = 8192;
inline constexpr size_t kKwMaxHeaderLines = 64;

struct KwHttpRequest {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;    // percent-decoded, without the query
  int minorVersion = 1;
  std::vector<std::pair<std::string, std::string>> headers;
  std::map<std::string, std::string> params;  // decoded query; the first of a name wins
  bool keepAlive = true;
  std::string remoteAddr;
  int remotePort = 0;

  // The first header of that name (letter case ignored), or "".
  std::string Header(const char* name) const;
  bool HasHeader(const char* name) const;
  std::string Param(const char* name) const;
};

// Results of KwParseRequestHead beside the HTTP status of a refusal.
inline constexpr int kKwHeadIncomplete = 0;
inline constexpr int kKwHeadComplete = 1;

// Parses the request head at the start of `data`.  kKwHeadIncomplete while
// its end has not arrived (and it is still within the limits);
// kKwHeadComplete with `*out` filled and `*used` the length of the head;
// otherwise the status to refuse it with (400, 413 for a body, 431, 501,
// 505).
int KwParseRequestHead(const char* data, size_t size, KwHttpRequest* out, size_t* used);

// Percent-decoding; in a query "+" also stands for a blank.
std::string KwPercentDecode(const std::string& text, bool query);

// A stretch of a volume file as an answer body, with the faults the
// reference server can inject into it.
struct KwFileBody {
  std::string path;
  int64_t first = 0;       // offset in the file of the body's first byte
  int64_t length = 0;      // bytes declared (and sent unless cut)
  int64_t cutAt = -1;      // body bytes after which the connection closes (-1: never)
  int64_t corruptAt = -1;  // body offset of an inverted byte (-1: none)
  int64_t rate = 0;        // bytes per second on this connection (0: no limit)
};

struct KwHttpResponse {
  int status = 200;
  std::string contentType = "text/plain";
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  bool hasFile = false;
  KwFileBody file;
  int64_t delayMs = 0;  // the answer leaves this long after the request came

  void SetContent(std::string text, const char* type) {
    body = std::move(text);
    contentType = type;
  }
  void SetHeader(const char* name, std::string value) {
    headers.emplace_back(name, std::move(value));
  }
};

// The status line and header lines of `res`, ending with the blank line.
std::string KwResponseHead(const KwHttpResponse& res, bool keepAlive, int minorVersion);
