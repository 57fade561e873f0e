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
};

// The language key of the message shown for a refusal ("" for Accepted).
const char* KwReleaseVerdictKey(KwReleaseVerdict verdict);

// Checks the "data" member of a version answer against the public key
// `keyHex` (64 hex digits; empty means the configured key is unusable) at
// time `now` (seconds since 1970).
KwReleaseVerdict KwCheckReleaseAnswer(const Json::Value& data, const std::string& keyHex,
                                      int64_t now);

// Sets the release key from the ini value: empty for none, else the name of
// a PEM file or the key itself (PEM text, its base64 body, or 64 hex
// digits).  A value that yields no key still counts as configured, so a
// broken setting refuses releases rather than silently accepting them.
void KwSetReleaseKey(const std::string& value);
// True when a key is configured; `keyHex` gets it (empty when unusable).
bool KwConfiguredReleaseKey(std::string* keyHex);
