// The curl library, bound at run time.
//
// The installer does not link libcurl: start-up loads "libcurl.so.4" (a
// non-empty copy next to the executable is preferred over the system's) and
// looks its entry points up by name.  When that fails, nothing is reported at
// start and every later request fails at once with -1.
//
// The library's global state is initialised once, when the binding succeeds,
// and released only by KwCurlUnbind().  Requests never touch the global state
// themselves, so two request threads can never run its set-up or clean-up at
// the same time.  Binding and unbinding are serialised by one process-wide lock;
// KwCurlUnbind() must not run while a request is in flight (the stop sequence
// and tests call it after every request thread has finished).  A successful
// binding also ignores SIGPIPE when no handler is set (see the binding code).
#pragma once

#include <curl/curl.h>

#include <cstdint>

// The entry points requests use.  All set, or all null when unbound.
struct KwCurlApi {
  CURLcode (*global_init)(long flags) = nullptr;
  void (*global_cleanup)() = nullptr;
  CURL* (*easy_init)() = nullptr;
  CURLcode (*easy_setopt)(CURL* handle, CURLoption option, ...) = nullptr;
  CURLcode (*easy_perform)(CURL* handle) = nullptr;
  CURLcode (*easy_getinfo)(CURL* handle, CURLINFO info, ...) = nullptr;
  void (*easy_cleanup)(CURL* handle) = nullptr;
};

// Start-up's binding step: binds "%s/libcurl.so.4" of `exeDir` when that file
// exists, is not empty and loads; else the system's "libcurl.so.4".  Once per
// process: a second call after a successful binding does nothing.  Returns 0
// when bound, -1 when the library or one of its entry points is missing.
int KwCurlBindForExecutable(const char* exeDir);

// Binds the library file at `path` (a file name without "/" is looked up by
// the dynamic loader).  Returns 0 when bound (or already bound), -1 otherwise.
int KwCurlBindFile(const char* path);

// Releases the global state and unloads the library; requests fail with -1
// afterwards until the next binding.
void KwCurlUnbind();

// The bound entry points, or null when the library is not bound.
const KwCurlApi* KwCurl();
