// Where the install phase reads the package volumes from: local volume files,
// the package appended to the installer's own file, or the install server.
// Each source lists and sizes its volumes once, then reads any byte range of
// any volume.  One source belongs to the run thread that made it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tool/http/kwpackageentry.h"

struct KwResumeEntry;

struct KwSourceVolume {
  std::string name;          // file name, compared with the resume table
  std::string path;          // local file, when there is one
  PackageEntry entry;        // server volumes: key, id and the last download address
  int64_t length = 0;        // whole volume, header included
  int64_t startOffset = 24;  // first byte handed to the unpacker
  bool skip = false;         // already installed: counted done, not read
  // The bytes must match the listing in `entry` (signed length, checksum,
  // SHA-256) before anything unpacked from them is moved into place: the
  // volume is streamed from a server, not verified on disk first.
  bool checkListed = false;
};

class KwVolumeSource {
 public:
  virtual ~KwVolumeSource() = default;
  // Lists and sizes the volumes.  0, or negative with a reason in `why`.
  // `version` receives the version name the volumes carry.
  virtual int Prepare(std::string* version, std::string* why) = 0;
  // After a failed Prepare: the language key of the message the user should
  // see, or null when the reason is only for the log.  Static text.
  virtual const char* FailureKey() const { return nullptr; }
  // Reads `length` bytes at `offset` of volume `index`; the count or negative.
  virtual int32_t Read(size_t index, int64_t offset, int32_t length, char* dest) = 0;
  const std::vector<KwSourceVolume>& volumes() const { return volumes_; }

 protected:
  std::vector<KwSourceVolume> volumes_;
};

// Local volume files named like `firstVolume` ("P_000.tmp", numbered on).
std::unique_ptr<KwVolumeSource> KwMakeLocalSource(const std::string& firstVolume);
// Exactly the given volume files, in order, carrying `version` (the volumes
// a download has just verified; files beside them play no part).
std::unique_ptr<KwVolumeSource> KwMakeFileListSource(const std::vector<std::string>& paths,
                                                     const std::string& version);
// Volume files known before they exist on disk (the volumes a download is
// still fetching): their paths and lengths as listed, carrying `version`.
std::unique_ptr<KwVolumeSource> KwMakeListedFileSource(std::vector<KwSourceVolume> volumes,
                                                       const std::string& version);
// The package appended to `installerFile` behind its marker.
std::unique_ptr<KwVolumeSource> KwMakeEmbeddedSource(const std::string& installerFile);
// The version name of the package appended to `file`; false when the file
// cannot be read or carries no package.
bool KwFindAppendedPackage(const std::string& file, std::string* version);
// The install server; reads are retried with fresh addresses while `active`
// holds.  `progress` and `context` see every received byte (the speed
// measure).  `resume` (may be null) is the online page's resume table.
std::unique_ptr<KwVolumeSource> KwMakeServerSource(const std::atomic<bool>* active,
                                                   void (*progress)(void*, int32_t), void* context,
                                                   const KwResumeEntry* resume);

// A version or volume name that may be joined to a folder: not empty, not
// "." or "..", no separator and no control byte.
bool KwIsSafePathPart(const char* name);
