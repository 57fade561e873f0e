// Install server location; see kwserverconfig.h.
#include "tool/http/kwserverconfig.h"

#include <mutex>

namespace {
std::mutex g_configLock;
std::string g_baseUrl = kKwDefaultServerUrl;
}  // namespace

void KwSetServerBaseUrl(const char* url) {
  std::string value = url ? url : "";
  while (!value.empty() && value.back() == '/') value.pop_back();
  std::lock_guard<std::mutex> lock(g_configLock);
  g_baseUrl = value.empty() ? kKwDefaultServerUrl : value;
}

std::string KwServerBaseUrl() {
  std::lock_guard<std::mutex> lock(g_configLock);
  return g_baseUrl;
}
