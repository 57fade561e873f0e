// CKWHttpWithCurl: one HTTP GET, whole or as a byte range, through the curl
// library bound at run time (kwcurlbinding.h).
//
// A client serves one request at a time on one thread; callers make one per
// request and destroy it afterwards.  The client owns its header buffer, its
// body buffer and the copy GetResult() hands out.
//
// Whole reads (the install server's JSON answers) keep a 60-second limit for
// the entire transfer.  Ranged reads may legitimately take longer on a slow
// link, so they end only when too little arrives for about 30 seconds.  TLS
// peers and host names are always verified against the system's CA store plus
// the optional extra CA file (KwHttpSetExtraCaFile).
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>
#include <vector>

// Process-wide extra CA bundle (PEM) trusted in addition to the system's;
// empty or null clears it.  Set once at start, before requests run.
void KwHttpSetExtraCaFile(const char* path);
std::string KwHttpExtraCaFile();

class CKWHttpWithCurl {
 public:
  typedef void (*ProgressFn)(void* context, int32_t count);
  // Takes one body piece; false ends the transfer at once (the answer is
  // not the one wanted), which DoGet reports as a failed transfer.
  typedef bool (*BodySinkFn)(void* context, const char* data, int32_t count);
  // Asked about once a second and on every piece received; true ends the
  // transfer at once (a stopping install run need not wait for a segment).
  typedef bool (*AbortFn)(void* context);

  static constexpr int32_t kHeaderCapacity = 320000;
  static constexpr int32_t kContentRangeSize = 1000;

  CKWHttpWithCurl();
  virtual ~CKWHttpWithCurl();
  CKWHttpWithCurl(const CKWHttpWithCurl&) = delete;
  CKWHttpWithCurl& operator=(const CKWHttpWithCurl&) = delete;

  // Request set-up, before DoGet.
  void SetRange(int64_t start, int32_t length);  // Asks for start..start+length-1.
  void ClearRange();
  // Told of every body piece of a successful (2xx) answer; the body of an
  // error answer is no download progress.
  void SetProgress(ProgressFn progress, void* context);
  void SetBodySink(BodySinkFn sink, void* context);  // Takes the body instead of the buffer.
  void SetAbortCheck(AbortFn abort, void* context);
  // Most body bytes kept; a longer body aborts the transfer and the body is
  // dropped (GetResult gives null).  0 means no limit.
  void SetBodyLimit(int64_t maxBytes) { m_bodyLimit = maxBytes; }
  // Low-speed rule of ranged reads: fewer than `bytesPerSecond` for `seconds`
  // ends the transfer.  Defaults 1 byte/s for 30 s.
  void SetLowSpeedLimit(int32_t bytesPerSecond, int32_t seconds);
  // Overall limit of whole reads in seconds (default 60).
  void SetTotalTimeout(int32_t seconds) { m_totalTimeout = seconds; }
  // A whole read of a large file: like a ranged read it follows redirects
  // and ends only under the low-speed rule, never for its total time.
  void SetLargeRead(bool large) { m_largeRead = large; }

  // Performs the GET synchronously.  -1 when the library is unbound or no
  // transfer handle can be made; otherwise the declared content length of a
  // successful transfer, else the number of body bytes received (0 when the
  // transfer failed before any body arrived).
  int32_t DoGet(const char* url);

  // NUL-terminated copy of the body, or null when the last request received no
  // body.  Owned by the client; valid until the next GetResult or destruction.
  char* GetResult();

  // What the last request left behind.
  int32_t resultLength() const { return m_resultLength; }
  const char* body() const { return m_body.data(); }
  const char* headerText() const { return m_header; }  // All header lines, NUL-terminated.
  int32_t headerLength() const { return m_headerLength; }
  long statusCode() const { return m_status; }  // Last HTTP status, 0 when none.
  // The status of the answer being received (of the final answer once its
  // body flows), for a body sink that must judge the answer before keeping
  // any of it; 0 before a status line came.
  long liveStatus() const { return m_liveStatus; }
  int curlCode() const { return m_curlCode; }  // Library result, -1 when not performed.

  // Filled by the ranged read of the server API (the Content-Range value).
  char m_contentRange[kContentRangeSize];

 private:
  static size_t writebody(char* data, size_t size, size_t count, void* client);
  static size_t writeheader(char* data, size_t size, size_t count, void* client);
  static int xferinfo(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t);

  void* m_sinkContext = nullptr;
  ProgressFn m_progress = nullptr;
  BodySinkFn m_sink = nullptr;
  void* m_progressContext = nullptr;
  int64_t m_rangeStart = 0;
  int32_t m_rangeLength = 0;
  bool m_rangeFlag = false;
  bool m_largeRead = false;
  char* m_header = nullptr;
  int32_t m_headerLength = 0;
  int32_t m_resultLength = 0;
  char* m_resultCopy = nullptr;
  std::vector<char> m_body;

  AbortFn m_abort = nullptr;
  void* m_abortContext = nullptr;
  int64_t m_bodyLimit = 0;
  int64_t m_bodySeen = 0;
  bool m_bodyOverLimit = false;
  int32_t m_lowSpeedBytes = 1;
  int32_t m_lowSpeedSeconds = 30;
  int32_t m_totalTimeout = 60;
  long m_status = 0;
  long m_liveStatus = 0;  // From the last status line received; 0 before one.
  int m_curlCode = -1;
};
