// The package a kwserve instance publishes: the volumes of one package
// folder with their lengths and checksums, under their published names.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/makepackage/kwrelease.h"

struct KwServedVolume {
  std::string diskPath;       // The maker's file, "%s_%03d.kwk".
  std::string publishedName;  // "%s_%03d.tmp" with the version as prefix.
  std::string key;            // "packages/" + publishedName; its last component is the name.
  int64_t length = 0;         // As listed.
  int64_t lastModified = 0;   // Milliseconds since 1970.
  std::string checksum;       // As listed.
  std::string sha256;         // From release.json; empty without one.
};

struct KwServedPackage {
  std::string packageName;  // The maker's package name (prefix of the .kwk files).
  std::string version;
  std::string buildtime = "0";  // release.json's build time when there is one.
  std::vector<KwServedVolume> volumes;
  // The release manifest release.json names, passed on as "manifest" of
  // the answer's data with an address of its own.
  bool hasManifest = false;
  KwReleaseManifest manifest;
  std::string manifestPath;           // on disk, beside the volumes
  std::string manifestPublishedName;  // "<version>.kwm"
  // release.json's signature, passed on as "signature" of the answer's data.
  bool isSigned = false;
  KwReleaseSignature signature;
};

// Reads list.json of `root` (or, without one, finds the "%s_%03d.kwk" files
// and sums them), and release.json beside it when there is one: its SHA-256
// values, build time and signature are served too, and it must describe the
// same volumes as the list.  A manifest it names must lie beside it with
// the named length.  `version` empty publishes under release.json's
// version, else under the package name.
// Returns false with a message in `error` when there is nothing to serve.
bool KwLoadServedPackage(const std::string& root, const std::string& version,
                         KwServedPackage* package, std::string* error);
