// CKWHttpWithCurl; see ikwhttpclient.h.
#include "network/http/ikwhttpclient.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "baseutil/ikwlog.h"
#include "network/http/kwcurlbinding.h"

namespace {

const char* const kDoGet = "CKWHttpWithCurl::DoGet";
const char* const kWriteBody = "CKWHttpWithCurl::writebody";
const char* const kGetResult = "CKWHttpWithCurl::GetResult";

std::mutex g_caLock;
std::string g_extraCaFile;
// The system bundle followed by the extra CA file, built on first use.  The
// library takes a copy per transfer, so handing out the pointer is safe as
// long as the text is never changed while requests run.
std::string g_caBundle;
bool g_caBundleBuilt = false;

std::string ReadWholeFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The system's trust store as one PEM text.  Debian and its relatives keep
// it in the first file; the others cover the usual alternatives.
std::string SystemCaBundle() {
  static const char* const kBundles[] = {"/etc/ssl/certs/ca-certificates.crt",
                                         "/etc/pki/tls/certs/ca-bundle.crt",
                                         "/etc/ssl/ca-bundle.pem", "/etc/ssl/cert.pem"};
  for (const char* path : kBundles) {
    std::string text = ReadWholeFile(path);
    if (!text.empty()) return text;
  }
  return std::string();
}

// Empty when no extra CA is configured: the library's own default store is
// used then.
const std::string& CombinedCaBundle() {
  std::lock_guard<std::mutex> lock(g_caLock);
  if (!g_caBundleBuilt) {
    g_caBundleBuilt = true;
    g_caBundle.clear();
    if (!g_extraCaFile.empty()) {
      std::string extra = ReadWholeFile(g_extraCaFile.c_str());
      if (extra.empty()) {
        KW_LOG(4, kDoGet, "extra CA file %s cannot be read", g_extraCaFile.c_str());
      } else {
        g_caBundle = SystemCaBundle();
        g_caBundle += "\n";
        g_caBundle += extra;
      }
    }
  }
  return g_caBundle;
}

}  // namespace

void KwHttpSetExtraCaFile(const char* path) {
  std::lock_guard<std::mutex> lock(g_caLock);
  g_extraCaFile = path ? path : "";
  g_caBundleBuilt = false;
}

std::string KwHttpExtraCaFile() {
  std::lock_guard<std::mutex> lock(g_caLock);
  return g_extraCaFile;
}

CKWHttpWithCurl::CKWHttpWithCurl() {
  std::memset(m_contentRange, 0, sizeof(m_contentRange));
  m_header = static_cast<char*>(std::calloc(kHeaderCapacity, 1));
  m_resultCopy = static_cast<char*>(std::calloc(2048, 1));
}

CKWHttpWithCurl::~CKWHttpWithCurl() {
  std::free(m_header);
  std::free(m_resultCopy);
}

void CKWHttpWithCurl::SetRange(int64_t start, int32_t length) {
  m_rangeStart = start;
  m_rangeLength = length;
  m_rangeFlag = true;
}

void CKWHttpWithCurl::ClearRange() {
  m_rangeStart = 0;
  m_rangeLength = 0;
  m_rangeFlag = false;
}

void CKWHttpWithCurl::SetProgress(ProgressFn progress, void* context) {
  m_progress = progress;
  m_progressContext = context;
}

void CKWHttpWithCurl::SetBodySink(BodySinkFn sink, void* context) {
  m_sink = sink;
  m_sinkContext = context;
}

void CKWHttpWithCurl::SetAbortCheck(AbortFn abort, void* context) {
  m_abort = abort;
  m_abortContext = context;
}

int CKWHttpWithCurl::xferinfo(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  CKWHttpWithCurl* self = static_cast<CKWHttpWithCurl*>(client);
  return (self->m_abort != nullptr && self->m_abort(self->m_abortContext)) ? 1 : 0;
}

void CKWHttpWithCurl::SetLowSpeedLimit(int32_t bytesPerSecond, int32_t seconds) {
  m_lowSpeedBytes = bytesPerSecond;
  m_lowSpeedSeconds = seconds;
}

int32_t CKWHttpWithCurl::DoGet(const char* url) {
  KW_LOG(4, kDoGet, "======");
  m_body.clear();
  m_bodySeen = 0;
  m_bodyOverLimit = false;
  m_status = 0;
  m_liveStatus = 0;
  m_curlCode = -1;
  m_headerLength = 0;
  if (m_header != nullptr) m_header[0] = '\0';
  m_resultLength = 0;
  KW_LOG(4, kDoGet, "======");

  const KwCurlApi* api = KwCurl();
  CURL* handle = api ? api->easy_init() : nullptr;
  if (handle == nullptr || m_header == nullptr || url == nullptr) {
    if (handle != nullptr) api->easy_cleanup(handle);
    KW_LOG(4, kDoGet, "======");
    return -1;
  }
  // The library's global state was set up once when it was bound.

  api->easy_setopt(handle, CURLOPT_URL, url);
  api->easy_setopt(handle, CURLOPT_BUFFERSIZE, 16384L);
  // Only web transfers, also after a redirect.
  api->easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  api->easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  // Several request threads run at once: no signals for name look-up timeouts.
  api->easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  // An unverified peer could hand out any volume or version list.
  api->easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
  api->easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
  const std::string& bundle = CombinedCaBundle();
  if (!bundle.empty()) {
    curl_blob blob;
    blob.data = const_cast<char*>(bundle.data());
    blob.len = bundle.size();
    blob.flags = CURL_BLOB_COPY;
    api->easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
  }
  char range[64];
  if (m_rangeFlag) {
    std::snprintf(range, sizeof(range), "%lld-%lld", static_cast<long long>(m_rangeStart),
                  static_cast<long long>(m_rangeStart + m_rangeLength - 1));
    api->easy_setopt(handle, CURLOPT_RANGE, range);
    if (m_sink == nullptr && m_rangeLength > 0) m_body.reserve(static_cast<size_t>(m_rangeLength));
  }
  if (m_rangeFlag || m_largeRead) {
    api->easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    // A segment may take minutes on a slow link; only a stalled one ends.
    api->easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(m_lowSpeedBytes));
    api->easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_lowSpeedSeconds));
  } else {
    api->easy_setopt(handle, CURLOPT_HEADER, 0L);
    api->easy_setopt(handle, CURLOPT_TIMEOUT, static_cast<long>(m_totalTimeout));
  }
  api->easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, 60L);
  api->easy_setopt(handle, CURLOPT_WRITEFUNCTION, &CKWHttpWithCurl::writebody);
  api->easy_setopt(handle, CURLOPT_WRITEDATA, this);
  api->easy_setopt(handle, CURLOPT_HEADERFUNCTION, &CKWHttpWithCurl::writeheader);
  api->easy_setopt(handle, CURLOPT_HEADERDATA, this);
  if (m_abort != nullptr) {
    api->easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &CKWHttpWithCurl::xferinfo);
    api->easy_setopt(handle, CURLOPT_XFERINFODATA, this);
    api->easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  }

  CURLcode code = api->easy_perform(handle);
  m_curlCode = static_cast<int>(code);
  int64_t length = -1;
  long status = 0;
  if (api->easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK) m_status = status;
  if (code == CURLE_OK) {
    KW_LOG(4, kDoGet, "==CURLE_OK====");
    curl_off_t declared = -1;
    if (api->easy_getinfo(handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared) == CURLE_OK) {
      length = declared;
    }
    KW_LOG(4, kDoGet, "======: %d", static_cast<int>(length));
  } else {
    KW_LOG(4, kDoGet, "==%d====", static_cast<int>(code));
  }
  api->easy_cleanup(handle);

  if (m_bodyOverLimit) {
    // A body beyond its limit is not what was asked for; none of it is kept.
    KW_LOG(4, kDoGet, "body longer than %lld bytes dropped", static_cast<long long>(m_bodyLimit));
    m_body.clear();
  }
  m_resultLength = static_cast<int32_t>(m_body.size());
  if (length < 0) {
    length = m_resultLength;
    KW_LOG(4, kDoGet, "======%d", m_resultLength);
  }
  KW_LOG(4, kDoGet, "======");
  return static_cast<int32_t>(length);
}

size_t CKWHttpWithCurl::writebody(char* data, size_t size, size_t count, void* client) {
  CKWHttpWithCurl* self = static_cast<CKWHttpWithCurl*>(client);
  size_t n = size * count;
  KW_LOG(4, kWriteBody, "%d X %d", static_cast<int>(size), static_cast<int>(count));
  if (self->m_abort != nullptr && self->m_abort(self->m_abortContext)) return 0;
  // A refusal's or error's page is not the data asked for: counting it would
  // show a download moving that never does.
  bool payload = self->m_liveStatus == 0 || (self->m_liveStatus >= 200 && self->m_liveStatus < 300);
  if (self->m_progress != nullptr && payload)
    self->m_progress(self->m_progressContext, static_cast<int32_t>(n));
  self->m_bodySeen += static_cast<int64_t>(n);
  if (self->m_bodyLimit > 0 && self->m_bodySeen > self->m_bodyLimit) {
    self->m_bodyOverLimit = true;
    return 0;  // Ends the transfer with a write error.
  }
  if (self->m_sink != nullptr) {
    if (!self->m_sink(self->m_sinkContext, data, static_cast<int32_t>(n))) return 0;
  } else {
    self->m_body.insert(self->m_body.end(), data, data + n);
  }
  return count;
}

size_t CKWHttpWithCurl::writeheader(char* data, size_t size, size_t count, void* client) {
  CKWHttpWithCurl* self = static_cast<CKWHttpWithCurl*>(client);
  size_t n = size * count;
  // Each answer (a redirect, an interim 100, the final one) starts with its
  // status line, "HTTP/1.1 206 Partial Content"; the body follows the last.
  if (n > 9 && std::memcmp(data, "HTTP/", 5) == 0) {
    const char* space = static_cast<const char*>(std::memchr(data, ' ', n));
    if (space != nullptr && space + 4 <= data + n) {
      long code = 0;
      for (int i = 1; i <= 3 && space[i] >= '0' && space[i] <= '9'; ++i) {
        code = code * 10 + (space[i] - '0');
      }
      self->m_liveStatus = code;
    }
  }
  size_t room = static_cast<size_t>(kHeaderCapacity - 1 - self->m_headerLength);
  // Header text beyond the buffer is dropped; the transfer itself goes on.
  size_t take = n < room ? n : room;
  if (take > 0) {
    std::memcpy(self->m_header + self->m_headerLength, data, take);
    self->m_headerLength += static_cast<int32_t>(take);
  }
  self->m_header[self->m_headerLength] = '\0';
  return count;
}

char* CKWHttpWithCurl::GetResult() {
  std::free(m_resultCopy);
  m_resultCopy = nullptr;
  if (m_resultLength <= 0) {
    KW_LOG(4, kGetResult, "===");
    return nullptr;
  }
  KW_LOG(4, kGetResult, "===:%d", m_resultLength);
  m_resultCopy = static_cast<char*>(std::malloc(static_cast<size_t>(m_resultLength) + 8));
  if (m_resultCopy == nullptr) return nullptr;
  std::memcpy(m_resultCopy, m_body.data(), static_cast<size_t>(m_resultLength));
  m_resultCopy[m_resultLength] = '\0';
  KW_LOG(4, kGetResult, "===");
  return m_resultCopy;
}
