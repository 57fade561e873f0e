// KwManifestBuilder: collects a release manifest (kwmanifest.h) from the
// records of a package stream as they are written or read, in stream order.
// The maker feeds it while writing volumes; the volume scanner
// (kwmanifestscan.h) feeds it while reading them, so both describe a
// package the same way.  One thread at a time.
#pragma once

#include <cstdint>

#include "tool/makepackage/kwmanifest.h"
#include "tool/makepackage/kwpkgformat.h"

class KwManifestBuilder {
 public:
  // A begin record: `descriptor` holds its 528 bytes.
  void OnBegin(const uint8_t* descriptor);
  // A data record of the open file: its place in the volumes, its
  // uncompressed length and the SHA-256 of its uncompressed bytes.  A data
  // record outside a file is ignored, as the unpacker ignores it.
  void OnData(uint32_t volume, int64_t recordOffset, uint32_t recordLength, uint32_t length,
              const uint8_t sha256[32]);
  // An end record: closes the open file.
  void OnEnd();
  // The finished volume `number` has `length` bytes.
  void OnVolume(uint32_t number, int64_t length);

  // True when every file was closed and its pieces add up to its size.
  bool Complete() const { return !m_open && !m_short; }
  const KwManifest& manifest() const { return m_manifest; }

 private:
  KwManifest m_manifest;
  bool m_open = false;
  bool m_short = false;
};
