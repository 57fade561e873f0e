// Collecting a manifest from stream records; see kwmanifestbuilder.h.
#include "tool/makepackage/kwmanifestbuilder.h"

#include <cstring>

void KwManifestBuilder::OnBegin(const uint8_t* descriptor) {
  if (m_open) OnEnd();  // A stream that lacked an end record.
  kwpkg::FileDescriptor d;
  bool terminated = false;
  kwpkg::DecodeDescriptor(descriptor, &d, &terminated);
  KwManifestFile f;
  f.name = d.name;
  f.mtimeMs = d.mtimeMs;
  f.size = d.size;
  m_manifest.files.push_back(std::move(f));
  m_open = true;
}

void KwManifestBuilder::OnData(uint32_t volume, int64_t recordOffset, uint32_t recordLength,
                               uint32_t length, const uint8_t sha256[32]) {
  if (!m_open) return;
  KwManifestPiece p;
  p.length = length;
  std::memcpy(p.sha256, sha256, 32);
  p.volume = volume;
  p.recordOffset = recordOffset;
  p.recordLength = recordLength;
  m_manifest.files.back().pieces.push_back(p);
}

void KwManifestBuilder::OnEnd() {
  if (!m_open) return;
  m_open = false;
  const KwManifestFile& f = m_manifest.files.back();
  int64_t sum = 0;
  for (const KwManifestPiece& p : f.pieces) sum += p.length;
  if (sum != f.size) m_short = true;
}

void KwManifestBuilder::OnVolume(uint32_t number, int64_t length) {
  if (m_manifest.volumeLengths.size() <= number) m_manifest.volumeLengths.resize(number + 1, 0);
  m_manifest.volumeLengths[number] = length;
}
