// The journal of a volume being downloaded: a small text file beside the
// volume ("%s.journal" of its path) that lists the byte ranges already in
// the volume file and flushed to disk.  A later run that finds it, for the
// same volume as listed now, fetches only the ranges it does not list; the
// volume is then verified whole as always, and a volume that fails falls
// back to a full fetch.  The journal goes once its volume has verified.
//
// Format: a header line "tarnwick journal 1 LENGTH CHECKSUM SHA256" ("-"
// for no SHA-256) and one line "OFFSET LENGTH" per range.  A range is
// appended only after the volume's bytes are on disk, so a crash or power
// cut can lose lines (those ranges are fetched again) but never add one.
// A torn or malformed line ends the reading: nothing after it counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/http/kwbyteranges.h"
#include "tool/http/kwpackageentry.h"

class KwVolumeJournal {
 public:
  KwVolumeJournal() = default;
  ~KwVolumeJournal() { Close(); }
  KwVolumeJournal(const KwVolumeJournal&) = delete;
  KwVolumeJournal& operator=(const KwVolumeJournal&) = delete;

  static std::string PathFor(const std::string& volumePath) { return volumePath + ".journal"; }

  // The ranges the journal of `volumePath` vouches for, when it belongs to
  // `entry` (same length, checksum and SHA-256); false when there is none,
  // it is for another volume, or it lists nothing.
  static bool Load(const std::string& volumePath, const PackageEntry& entry, KwByteRanges* ranges);
  static void Remove(const std::string& volumePath);

  // Starts a new journal for `entry` (replacing any), or opens the one Load
  // accepted to append to it.  False when it cannot be written; the
  // download then goes on without one.
  bool Begin(const std::string& volumePath, const PackageEntry& entry);
  bool Continue(const std::string& volumePath);
  // Appends ranges whose bytes are already on disk.
  bool Record(const std::vector<KwByteRanges::Range>& ranges);
  void Close();
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
