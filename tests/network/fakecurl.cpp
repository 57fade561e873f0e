// A stand-in for the curl library, loaded by the run-time binding in tests.
// It records the options a client sets and plays back a scripted answer,
// including header text larger than any real library would pass on.
// The function names must stay plain functions, not the type-checking macros.
#define CURL_DISABLE_TYPECHECK 1
#include <curl/curl.h>

#include <cstdarg>
#include <map>
#include <string>

namespace {

struct Handle {
  curl_write_callback body = nullptr;
  void* bodyData = nullptr;
  curl_write_callback header = nullptr;
  void* headerData = nullptr;
};

std::map<long, std::string> g_options;  // Option number -> value as text.
long g_globalInits = 0;
std::string g_headers;
std::string g_body;
long g_status = 200;
int g_result = 0;

}  // namespace

extern "C" {

__attribute__((visibility("default"))) void fakecurl_script(const char* headers, size_t headerSize,
                                                            const char* body, size_t bodySize,
                                                            long status, int result) {
  g_headers.assign(headers, headerSize);
  g_body.assign(body, bodySize);
  g_status = status;
  g_result = result;
  g_options.clear();
}

// The value recorded for `option` ("" when it was not set).
__attribute__((visibility("default"))) const char* fakecurl_option(long option) {
  auto it = g_options.find(option);
  return it == g_options.end() ? "" : it->second.c_str();
}

__attribute__((visibility("default"))) long fakecurl_global_inits() {
  return g_globalInits;
}

CURLcode curl_global_init(long) {
  ++g_globalInits;
  return CURLE_OK;
}
void curl_global_cleanup() {
  --g_globalInits;
}
CURL* curl_easy_init() {
  return reinterpret_cast<CURL*>(new Handle);
}
void curl_easy_cleanup(CURL* h) {
  delete reinterpret_cast<Handle*>(h);
}

CURLcode curl_easy_setopt(CURL* h, CURLoption option, ...) {
  Handle* handle = reinterpret_cast<Handle*>(h);
  va_list args;
  va_start(args, option);
  std::string text;
  if (option == CURLOPT_WRITEFUNCTION) {
    handle->body = va_arg(args, curl_write_callback);
  } else if (option == CURLOPT_HEADERFUNCTION) {
    handle->header = va_arg(args, curl_write_callback);
  } else if (option == CURLOPT_WRITEDATA) {
    handle->bodyData = va_arg(args, void*);
  } else if (option == CURLOPT_HEADERDATA) {
    handle->headerData = va_arg(args, void*);
  } else if (option >= CURLOPTTYPE_BLOB) {
    const curl_blob* blob = va_arg(args, const curl_blob*);
    text.assign(static_cast<const char*>(blob->data), blob->len);
  } else if (option >= CURLOPTTYPE_OFF_T) {
    text = std::to_string(static_cast<long long>(va_arg(args, curl_off_t)));
  } else if (option >= CURLOPTTYPE_OBJECTPOINT) {
    void* p = va_arg(args, void*);
    bool isText = option == CURLOPT_URL || option == CURLOPT_RANGE ||
                  option == CURLOPT_PROTOCOLS_STR || option == CURLOPT_REDIR_PROTOCOLS_STR ||
                  option == CURLOPT_CAINFO;
    text = isText ? static_cast<const char*>(p) : "set";
  } else {
    text = std::to_string(va_arg(args, long));
  }
  va_end(args);
  g_options[option] = text;
  return CURLE_OK;
}

CURLcode curl_easy_perform(CURL* h) {
  Handle* handle = reinterpret_cast<Handle*>(h);
  for (size_t at = 0; at < g_headers.size();) {
    size_t line = g_headers.find('\n', at);
    size_t end = line == std::string::npos ? g_headers.size() : line + 1;
    std::string piece = g_headers.substr(at, end - at);
    if (handle->header(&piece[0], 1, piece.size(), handle->headerData) != piece.size()) {
      return CURLE_WRITE_ERROR;
    }
    at = end;
  }
  if (!g_body.empty()) {
    std::string body = g_body;
    if (handle->body(&body[0], 1, body.size(), handle->bodyData) != body.size()) {
      return CURLE_WRITE_ERROR;
    }
  }
  return static_cast<CURLcode>(g_result);
}

CURLcode curl_easy_getinfo(CURL*, CURLINFO info, ...) {
  va_list args;
  va_start(args, info);
  if (info == CURLINFO_RESPONSE_CODE) {
    *va_arg(args, long*) = g_status;
  } else if (info == CURLINFO_CONTENT_LENGTH_DOWNLOAD_T) {
    *va_arg(args, curl_off_t*) = g_result == 0 ? static_cast<curl_off_t>(g_body.size()) : -1;
  }
  va_end(args);
  return CURLE_OK;
}

CURLFORMcode curl_formadd(struct curl_httppost**, struct curl_httppost**, ...) {
  return static_cast<CURLFORMcode>(0);
}
struct curl_slist* curl_slist_append(struct curl_slist* list, const char*) {
  return list;
}

}  // extern "C"
