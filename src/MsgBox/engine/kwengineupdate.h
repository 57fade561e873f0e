// Carrying out an update: builds the files of a new release's manifest in
// an output folder from the installed version's files and from records
// fetched as byte ranges, so the folder ends byte for byte as a full
// install would leave it (content, modification times, run bits).
//
// The caller gives the output folder (the folder that becomes the new
// version folder); the installed version's folder is only read.  Every
// piece is checked against its SHA-256 before it is written: a copied piece
// that fails is fetched instead, a fetched piece that fails is fetched
// again and, failing three times, ends the update with nothing of it
// written.  Files already in the output folder are kept where their pieces
// check, so an update that was killed and is started again only does what
// is left; an installed version damaged in place is repaired the same way
// (the output folder being the version folder itself, nothing installed).
//
// No windows, no engine state: the network is behind IKwRangeSource, so
// tests read ranges from volume files.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "tool/makepackage/kwmanifest.h"

// One connection that reads byte ranges of the release's volumes.  Each
// fetching thread owns one.
class IKwRangeSource {
 public:
  virtual ~IKwRangeSource() = default;
  // Reads `length` bytes at `offset` of volume `volume` into `dest`.
  // Returns `length`, or a negative value on failure.
  virtual int32_t Read(uint32_t volume, int64_t offset, int32_t length, char* dest) = 0;
};

class IKwRangeSourceFactory {
 public:
  virtual ~IKwRangeSourceFactory() = default;
  virtual std::unique_ptr<IKwRangeSource> Open() = 0;
};

// Counters the caller may read from any thread while an update runs.
struct KwUpdateProgress {
  std::atomic<int64_t> planFetchBytes{0};  // record bytes the plan fetches
  std::atomic<int64_t> fetchedBytes{0};    // record bytes fetched so far (retries too)
  std::atomic<int64_t> copiedBytes{0};     // bytes copied from installed files
  std::atomic<int64_t> keptBytes{0};       // bytes found in place in the output folder
  std::atomic<int32_t> filesDone{0};
};

struct KwUpdateInput {
  const KwManifest* next = nullptr;           // the release to build
  const KwManifest* installed = nullptr;      // null: nothing to copy from
  std::string installedFolder;                // the installed version's folder
  std::string outputFolder;                   // created when missing
  int connections = 4;                        // parallel fetching threads
  const std::atomic<bool>* active = nullptr;  // cleared: stop soon
  int retryPauseMs = 1000;                    // between attempts at a failed range
  // Called on any thread after bytes were fetched or copied; may be null.
  void (*onProgress)(void* context) = nullptr;
  void* context = nullptr;
};

// Builds the output folder.  0 when every file is complete; -1 with a
// reason in `why` (stopped, a piece failing its SHA-256, a file that cannot
// be written).
int KwRunUpdate(const KwUpdateInput& in, IKwRangeSourceFactory* sources, KwUpdateProgress* progress,
                std::string* why);
