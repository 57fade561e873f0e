// Run-time binding of the curl library; see kwcurlbinding.h.
#include "network/http/kwcurlbinding.h"

#include <dlfcn.h>
#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <mutex>
#include <string>

#include "baseutil/ikwlog.h"

namespace {

std::mutex g_bindLock;
void* g_library = nullptr;
KwCurlApi g_api;
// Published only once every entry point is set and the global state is up,
// so a request thread sees either nothing or a complete table.
std::atomic<const KwCurlApi*> g_bound{nullptr};

template <typename Fn>
bool Lookup(void* library, const char* name, Fn& out) {
  out = reinterpret_cast<Fn>(dlsym(library, name));
  return out != nullptr;
}

// Caller holds g_bindLock.
int BindLocked(const char* path) {
  if (g_bound.load() != nullptr) return 0;
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    KW_LOG(4, "KwCurlBind", "cannot load %s: %s", path, dlerror());
    return -1;
  }
  KwCurlApi api;
  bool ok = Lookup(library, "curl_global_init", api.global_init) &&
            Lookup(library, "curl_global_cleanup", api.global_cleanup) &&
            Lookup(library, "curl_easy_init", api.easy_init) &&
            Lookup(library, "curl_easy_setopt", api.easy_setopt) &&
            Lookup(library, "curl_easy_perform", api.easy_perform) &&
            Lookup(library, "curl_easy_getinfo", api.easy_getinfo) &&
            Lookup(library, "curl_easy_cleanup", api.easy_cleanup);
  // The form and header-list functions are part of the library's expected
  // surface, but no request uses them; their absence marks a wrong library.
  ok = ok && dlsym(library, "curl_formadd") != nullptr &&
       dlsym(library, "curl_slist_append") != nullptr;
  if (!ok) {
    KW_LOG(4, "KwCurlBind", "%s lacks an entry point", path);
    dlclose(library);
    return -1;
  }
  if (api.global_init(CURL_GLOBAL_SSL) != CURLE_OK) {
    KW_LOG(4, "KwCurlBind", "global initialisation of %s failed", path);
    dlclose(library);
    return -1;
  }
  // Requests run on several threads, so they ask the library not to use
  // signals; a peer that closes a TLS connection could then raise SIGPIPE on
  // a write, which by default ends the process.  A SIGPIPE nobody handles is
  // therefore ignored from now on.
  struct sigaction current;
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    signal(SIGPIPE, SIG_IGN);
  }
  g_library = library;
  g_api = api;
  g_bound.store(&g_api);
  KW_LOG(1, "KwCurlBind", "bound %s", path);
  return 0;
}

}  // namespace

int KwCurlBindFile(const char* path) {
  if (path == nullptr || *path == '\0') return -1;
  std::lock_guard<std::mutex> lock(g_bindLock);
  return BindLocked(path);
}

int KwCurlBindForExecutable(const char* exeDir) {
  std::lock_guard<std::mutex> lock(g_bindLock);
  if (g_bound.load() != nullptr) return 0;
  if (exeDir != nullptr && *exeDir != '\0') {
    std::string beside = std::string(exeDir) + "/libcurl.so.4";
    struct stat st;
    if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      if (BindLocked(beside.c_str()) == 0) return 0;
    }
  }
  return BindLocked("libcurl.so.4");
}

void KwCurlUnbind() {
  std::lock_guard<std::mutex> lock(g_bindLock);
  if (g_bound.load() == nullptr) return;
  g_bound.store(nullptr);
  g_api.global_cleanup();
  g_api = KwCurlApi();
  // The library stays mapped: its TLS back end registers exit handlers that
  // must still find their code when the process ends.
  g_library = nullptr;
}

const KwCurlApi* KwCurl() {
  return g_bound.load();
}
