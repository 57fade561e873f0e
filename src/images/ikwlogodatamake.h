// CIKWLogoDataMake: a pack of pictures decoded on a worker thread.
//
// The install page makes one from its embedded record sequence (each record
// a 4-byte little-endian byte count n followed by n bytes of PNG or JPEG)
// and shows the pictures as they become ready.  The pack owns a copy of the
// records and its image objects.  The decoding job and the pack share their
// state, so the page may destroy the pack while the job still runs: the job
// then finishes on its own copy and frees it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class CKwImageUtil;

class CIKWLogoDataMake {
 public:
  // `count` records are expected in `records` (copied).
  CIKWLogoDataMake(const uint8_t* records, size_t size, int count);
  ~CIKWLogoDataMake();
  CIKWLogoDataMake(const CIKWLogoDataMake&) = delete;
  CIKWLogoDataMake& operator=(const CIKWLogoDataMake&) = delete;

  // Schedules the job "CIKWLogoDataMake::makeimg" on the thread manager.
  void Start();
  // Decodes on the calling thread (the job's body).  Returns how many
  // pictures decoded.  A record whose count runs past the end of the data
  // ends the walk; the remaining images stay absent.
  int Decode();

  int Count() const;
  // The picture of record `index` once it has decoded, else nullptr.  The
  // pointer stays valid as long as the pack.
  CKwImageUtil* GetImage(int index) const;
  // True once the job (or Decode) has walked every record.
  bool Finished() const;

  // Builds a record sequence from pictures (bytes, count).
  static std::vector<uint8_t> PackRecords(const std::vector<std::pair<const uint8_t*, int>>& items);

  struct State;

 private:
  std::shared_ptr<State> state_;
};
