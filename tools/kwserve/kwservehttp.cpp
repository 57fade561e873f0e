// kwserve's HTTP messages; see kwservehttp.h.
#include "kwservehttp.h"

#include <strings.h>

#include <cstring>

namespace {

bool IsToken(char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::strchr("!#$%&'*+-.^_`|~", c) != nullptr && c != '\0';
}

bool AllToken(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!IsToken(c)) return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t a = 0;
  size_t b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

// Whether a comma-separated header value lists `word` (letter case ignored).
bool ListsWord(const std::string& value, const char* word) {
  size_t at = 0;
  while (at <= value.size()) {
    size_t comma = value.find(',', at);
    if (comma == std::string::npos) comma = value.size();
    if (strcasecmp(Trim(value.substr(at, comma - at)).c_str(), word) == 0) return true;
    at = comma + 1;
  }
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(c | 0x20);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 206:
      return "Partial Content";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 416:
      return "Range Not Satisfiable";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 501:
      return "Not Implemented";
    case 503:
      return "Service Unavailable";
    case 505:
      return "HTTP Version Not Supported";
    default:
      return "Unknown";
  }
}

}  // namespace

std::string KwHttpRequest::Header(const char* name) const {
  for (const auto& h : headers) {
    if (strcasecmp(h.first.c_str(), name) == 0) return h.second;
  }
  return std::string();
}

bool KwHttpRequest::HasHeader(const char* name) const {
  for (const auto& h : headers) {
    if (strcasecmp(h.first.c_str(), name) == 0) return true;
  }
  return false;
}

std::string KwHttpRequest::Param(const char* name) const {
  auto it = params.find(name);
  return it == params.end() ? std::string() : it->second;
}

std::string KwPercentDecode(const std::string& text, bool query) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (c == '+' && query) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

int KwParseRequestHead(const char* data, size_t size, KwHttpRequest* out, size_t* used) {
  // The head ends at the first empty line; a bare LF ends a line as well.
  size_t end = std::string::npos;
  size_t lines = 0;
  for (size_t i = 0; i < size && i < kKwMaxRequestHead; ++i) {
    if (data[i] != '\n') continue;
    ++lines;
    const bool empty =
        (i >= 1 && data[i - 1] == '\n') || (i >= 2 && data[i - 1] == '\r' && data[i - 2] == '\n');
    // Blank lines before the request line are skipped, as clients may send
    // one after a previous body.
    if (empty && lines > 1) {
      end = i + 1;
      break;
    }
    if (lines > kKwMaxHeaderLines + 1) return 431;
  }
  if (end == std::string::npos) return size >= kKwMaxRequestHead ? 431 : kKwHeadIncomplete;

  std::vector<std::string> text;
  size_t at = 0;
  while (at < end) {
    size_t nl = static_cast<const char*>(std::memchr(data + at, '\n', end - at)) - data;
    size_t stop = nl > at && data[nl - 1] == '\r' ? nl - 1 : nl;
    text.emplace_back(data + at, stop - at);
    at = nl + 1;
  }
  while (!text.empty() && text.back().empty()) text.pop_back();
  size_t first = 0;
  while (first < text.size() && text[first].empty()) ++first;
  if (first >= text.size()) return 400;
  if (text.size() - first - 1 > kKwMaxHeaderLines) return 431;

  KwHttpRequest r;
  const std::string& line = text[first];
  size_t s1 = line.find(' ');
  size_t s2 = s1 == std::string::npos ? std::string::npos : line.find(' ', s1 + 1);
  if (s2 == std::string::npos || line.find(' ', s2 + 1) != std::string::npos) return 400;
  r.method = line.substr(0, s1);
  r.target = line.substr(s1 + 1, s2 - s1 - 1);
  const std::string version = line.substr(s2 + 1);
  if (!AllToken(r.method) || r.target.empty() || r.target[0] != '/') return 400;
  for (char c : r.target) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return 400;
  }
  if (version.size() != 8 || version.compare(0, 5, "HTTP/") != 0 || version[6] != '.' ||
      version[5] < '0' || version[5] > '9' || version[7] < '0' || version[7] > '9') {
    return 400;
  }
  if (version[5] != '1') return 505;
  r.minorVersion = version[7] - '0';

  for (size_t i = first + 1; i < text.size(); ++i) {
    const std::string& h = text[i];
    size_t colon = h.find(':');
    // A folded line (leading blank) or a name with blanks is refused.
    if (colon == std::string::npos || !AllToken(h.substr(0, colon))) return 400;
    std::string value = Trim(h.substr(colon + 1));
    for (char c : value) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return 400;
    }
    r.headers.emplace_back(h.substr(0, colon), value);
  }

  // No route takes a body; one sent anyway could not be told from the next
  // request, so it is refused and the connection closed.
  if (r.HasHeader("Transfer-Encoding")) return 501;
  const std::string length = r.Header("Content-Length");
  if (!length.empty() && length.find_first_not_of('0') != std::string::npos) return 413;

  const std::string connection = r.Header("Connection");
  r.keepAlive =
      r.minorVersion >= 1 ? !ListsWord(connection, "close") : ListsWord(connection, "keep-alive");
  const size_t q = r.target.find('?');
  r.path = KwPercentDecode(r.target.substr(0, q), false);
  if (q != std::string::npos) {
    const std::string query = r.target.substr(q + 1);
    size_t p = 0;
    while (p <= query.size()) {
      size_t amp = query.find('&', p);
      if (amp == std::string::npos) amp = query.size();
      std::string pair = query.substr(p, amp - p);
      if (!pair.empty()) {
        size_t eq = pair.find('=');
        std::string name = KwPercentDecode(pair.substr(0, eq), true);
        std::string value =
            eq == std::string::npos ? std::string() : KwPercentDecode(pair.substr(eq + 1), true);
        r.params.emplace(name, value);
      }
      p = amp + 1;
    }
  }
  *out = std::move(r);
  *used = end;
  return kKwHeadComplete;
}

std::string KwResponseHead(const KwHttpResponse& res, bool keepAlive, int minorVersion) {
  const int64_t length = res.hasFile ? res.file.length : static_cast<int64_t>(res.body.size());
  std::string head = "HTTP/1.1 " + std::to_string(res.status) + " " + Reason(res.status) + "\r\n";
  head += "Content-Type: " + res.contentType + "\r\n";
  head += "Content-Length: " + std::to_string(length) + "\r\n";
  for (const auto& h : res.headers) head += h.first + ": " + h.second + "\r\n";
  // An HTTP/1.0 client keeps the connection only when told so.
  if (!keepAlive) {
    head += "Connection: close\r\n";
  } else if (minorVersion == 0) {
    head += "Connection: keep-alive\r\n";
  }
  head += "\r\n";
  return head;
}
