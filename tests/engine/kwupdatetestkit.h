// Shared pieces of the update tests: two releases of a product that differ
// as releases do (files rewritten, added and removed, an overwrite inside a
// large incompressible file, an insertion inside a large text file),
// packing them with content-defined pieces, and ranges read straight from
// volume files with counters and injected damage.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "MsgBox/engine/kwengineupdate.h"
#include "tool/makepackage/kwmanifest.h"

namespace kwupdatetest {

// Relative name -> content; times are fixed per file.
using Tree = std::map<std::string, std::string>;

// The old release; `large` is the size of each of the two large files.
Tree OldRelease(int64_t large);
// The new release made from `old`.
Tree NewRelease(const Tree& old);
void WriteTree(const Tree& tree, const std::string& folder);

// Packs `source` as package `version` into `out` with content-defined
// pieces (kwpack make --pieces content); false on failure.
bool PackRelease(const std::string& source, const std::string& out, const std::string& version);
// Loads "%s/manifest.kwm" of `out`.
bool LoadManifest(const std::string& out, KwManifest* manifest, std::string* bytes = nullptr);

// Empty when `folder` holds exactly `tree` (content, no other files) and
// every file has the mode and times of `reference` (a folder unpacked from
// the same release); else the first difference.
std::string CompareWithUnpacked(const Tree& tree, const std::string& folder,
                                const std::string& reference);
// Unpacks the volumes "%s/%s_%03d.kwk" into `dest` with the unpacker.
bool UnpackRelease(const std::string& out, const std::string& version, const std::string& dest);

// Ranges read from "%s/%s_%03d.kwk".  `damage` (may be empty) is called
// with every answer before it is handed out and may change it.
class FileRanges : public IKwRangeSourceFactory {
 public:
  FileRanges(const std::string& out, const std::string& version) : out_(out), version_(version) {}
  std::unique_ptr<IKwRangeSource> Open() override;
  std::function<void(uint32_t volume, int64_t offset, std::string* data)> damage;
  std::atomic<int> requests{0};
  std::atomic<int64_t> bytes{0};

 private:
  friend class FileRange;
  std::string out_;
  std::string version_;
};

}  // namespace kwupdatetest
