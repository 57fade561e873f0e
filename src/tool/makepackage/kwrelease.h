// release.json: the file the maker writes beside list.json so a release can
// be checked by more than the lane sum.  It names the version and the build
// time and, per volume, its name, length, checksum and lower-case SHA-256;
// `kwpack sign` adds a "signature" object (expiry time, key id, Ed25519
// signature).  list.json stays exactly as it is; readers of list.json never
// see this file.
//
// When the maker wrote a release manifest (kwmanifest.h), release.json also
// names it: "manifest" with its file name, length and SHA-256.
//
// The signature covers the bytes of KwReleaseMessage: version, build time,
// expiry, every volume's position, length, checksum and SHA-256, and the
// manifest's length and SHA-256 when there is one, but not the volume names, because the server
// publishes the volumes under names of its own.  The installer rebuilds the same bytes from the
// server's answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/value.h>

#include "tool/makepackage/kwpkglist.h"

inline constexpr const char* kKwReleaseFileName = "release.json";

struct KwReleaseVolume {
  std::string name;
  int64_t length = 0;
  std::string checksum;  // as in list.json
  std::string sha256;    // 64 lower-case hex digits
};

struct KwReleaseManifest {
  std::string name;  // file name beside release.json
  int64_t length = 0;
  std::string sha256;  // 64 lower-case hex digits
};

// Describes manifest bytes for release.json (name kKwManifestFileName).
KwReleaseManifest KwDescribeManifestBytes(const std::string& bytes);

struct KwReleaseSignature {
  int64_t expires = 0;    // seconds since 1970, UTC; the release is refused after it
  std::string keyId;      // KwEd25519KeyId of the signing key
  std::string signature;  // 128 hex digits
};

struct KwRelease {
  std::string version;
  std::string buildtime;
  std::vector<KwReleaseVolume> volumes;
  bool hasManifest = false;
  KwReleaseManifest manifest;
  bool isSigned = false;
  KwReleaseSignature signature;
};

// The exact bytes a release signature covers.  Texts are escaped so no
// version or build time can pass for another field; the checksum is
// upper-cased and the SHA-256 lower-cased, as their readers ignore case.
// `manifest` null: a release without a manifest, whose message stays as
// releases made before manifests existed had it.
std::string KwReleaseMessage(const std::string& version, const std::string& buildtime,
                             int64_t expires, const std::vector<KwReleaseVolume>& volumes,
                             const KwReleaseManifest* manifest = nullptr);

// The "manifest" object as release.json stores it: "name", "length"
// (decimal text) and "sha256".
Json::Value KwReleaseManifestJson(const KwReleaseManifest& manifest);

// The "signature" object as release.json stores it and kwserve passes it on:
// "expires" (decimal text), "key" and "ed25519".
Json::Value KwReleaseSignatureJson(const KwReleaseSignature& signature);

// The text of release.json for `release` (with its signature when signed).
std::string KwBuildReleaseJson(const KwRelease& release);

// Writes "%s/release.json" of `folder` atomically (a temporary file renamed
// over it) for `entries` with `version` and the current UTC time as build
// time, naming `manifest` when given.  0, or -1 when it cannot be written.
int32_t KwWriteReleaseJson(const std::string& folder, const std::string& version,
                           const std::vector<KwVolumeEntry>& entries,
                           const KwReleaseManifest* manifest = nullptr);

// Writes `release` as "%s/release.json" of `folder`, atomically.
int32_t KwSaveRelease(const std::string& folder, const KwRelease& release);

// Reads "%s/release.json" of `folder`.  0; 1 when there is no such file;
// -1 with a reason in `error` when it is not a release file.
int32_t KwLoadRelease(const std::string& folder, KwRelease* release, std::string* error);

// Reads the text of a release file.  0, or -1 with a reason in `error`.
int32_t KwParseRelease(const std::string& text, KwRelease* release, std::string* error);
