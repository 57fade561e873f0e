// Planning an update: for every piece of the new release's manifest, where
// its bytes come from.  A piece whose SHA-256 some file of the installed
// version holds is copied from that file (and checked while it is read);
// every other piece is fetched as the byte range of its record, once per
// distinct content.  Records that lie back to back in a volume (or nearly:
// see kKwMergeGap) are merged into one range.
//
// Pure data and arithmetic over two manifests: no files, no network, so the
// plan and the sizes the user is shown can be tested on their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/makepackage/kwmanifest.h"

// Where one piece of a new file comes from.
struct KwPlannedPiece {
  int64_t fileOffset = 0;  // where it goes in the new file
  // Index into the installed manifest's files and the offset there, or -1
  // when the piece is fetched.
  int32_t localFile = -1;
  int64_t localOffset = 0;
};

// One record to fetch and every place its bytes go.
struct KwFetchRecord {
  uint32_t volume = 0;
  int64_t offset = 0;   // of the record header in the volume
  uint32_t length = 0;  // whole record
  uint32_t pieceLength = 0;
  uint8_t sha256[32] = {};
  std::vector<std::pair<int32_t, int64_t>> targets;  // (new file index, file offset)
};

// Records back to back in one volume, fetched with one request.
struct KwFetchRange {
  uint32_t volume = 0;
  int64_t offset = 0;
  int64_t length = 0;
  size_t firstRecord = 0;  // index into KwUpdatePlan::records
  size_t recordCount = 0;
};

struct KwUpdatePlan {
  // pieces[i][k]: the k-th piece of new file i.
  std::vector<std::vector<KwPlannedPiece>> pieces;
  std::vector<KwFetchRecord> records;  // sorted by volume and offset
  std::vector<KwFetchRange> ranges;
  int64_t localBytes = 0;  // uncompressed bytes taken from installed files
  int64_t fetchBytes = 0;  // bytes of the ranges to fetch
};

// Largest merged range; larger runs of records are split between records.
inline constexpr int64_t kKwMaxFetchRange = 16 * 1000 * 1000;
// Records at most this far apart are fetched with one request, the bytes
// between them (a file's end and the next one's begin record, 1,072 bytes)
// included: cheaper than another request.
inline constexpr int64_t kKwMergeGap = 4096;

// Plans `next` against `installed` (null: nothing installed, every piece is
// fetched).
KwUpdatePlan KwPlanUpdate(const KwManifest& next, const KwManifest* installed);

// Rebuilds records and ranges for the pieces of `plan` that are fetched and
// not marked done in `done` (done[i][k]; empty vector: none done).
void KwPlanRecords(const KwManifest& next, const std::vector<std::vector<bool>>& done,
                   KwUpdatePlan* plan);
