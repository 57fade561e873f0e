// Where the install server is: its base URL (scheme, host, port, no trailing
// "/") and an optional extra CA file for a private server's certificate.
//
// Process-wide; start-up loads it from section "SERVER" of the ini file (keys
// "URL" and "CAFILE").  Without a configured URL the compiled-in default
// applies.  Reads and writes are locked, so a download utility may read it on
// any thread.
#pragma once

#include <string>

inline constexpr const char* kKwDefaultServerUrl = "https://install.kws-tarnwick.com:9090";

// Sets the base URL; a trailing "/" is dropped, empty or null restores the default.
void KwSetServerBaseUrl(const char* url);
std::string KwServerBaseUrl();

// Reads "URL", "CAFILE" and "PUBKEY" (the release key, kwreleasecheck.h) of
// section "SERVER" from the ini file at `iniPath`; missing keys keep the
// default URL, no extra CA and no release key.
void KwLoadServerConfig(const char* iniPath);
