// The installer's check of a signed release: with a release key configured
// (ini section "SERVER", key "PUBKEY"), the install server's version answer
// is accepted only when its "signature" member is an Ed25519 signature by
// that key, not expired, over exactly the version, build time and packages
// the answer carries.  Without a key nothing is checked.
//
// The key is process-wide like the server's address; start-up loads it and
// every download utility reads it.
#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

enum class KwReleaseVerdict {
  Accepted = 0,
  KeyUnusable,  // the configured key cannot be read: every answer is refused
  Unsigned,     // no signature in the answer
  OtherKey,     // signed, but by another key
  Changed,      // the signature does not cover what the answer carries
  Expired,      // a good signature whose expiry time has passed
  Older,        // a good signature, but built before a release already accepted
};

// The language key of the message shown for a refusal ("" for Accepted).
const char* KwReleaseVerdictKey(KwReleaseVerdict verdict);

// Checks the "data" member of a version answer against the public key
// `keyHex` (64 hex digits; empty means the configured key is unusable) at
// time `now` (seconds since 1970).
KwReleaseVerdict KwCheckReleaseAnswer(const Json::Value& data, const std::string& keyHex,
                                      int64_t now);

// Sets the release key: empty for none, else the key itself (PEM text, its
// base64 body, or 64 hex digits) or the absolute path of a PEM file.  A
// value that yields no key (a relative path among them: where a file lies
// is the caller's decision, never the current folder's) still counts as
// configured, so a broken setting refuses releases rather than silently
// accepting them.
void KwSetReleaseKey(const std::string& value);

// True when the ini value is the key itself rather than a file name.
bool KwIsInlineReleaseKey(const std::string& value);
// The file an ini value "PUBKEY" names: "" for an empty value or a key given
// inline, the value itself when absolute, else the name taken beside the
// ini file `iniPath` whether or not such a file exists; always an absolute
// path (an ini named relative to the current folder is taken from there).
std::string KwReleaseKeyFile(const std::string& iniPath, const std::string& value);
// True when a key is configured; `keyHex` gets it (empty when unusable).
bool KwConfiguredReleaseKey(std::string* keyHex);
