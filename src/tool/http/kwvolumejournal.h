// The journal of a volume being downloaded: a small text file beside the
// volume ("%s.journal" of its path) that lists the byte ranges already in
// the volume file.  A later run that finds it, for the same volume as listed
// now, fetches only the ranges it does not list; the volume is then verified
// whole as always, and a volume that fails falls back to a full fetch.  The
// journal goes once its volume has verified.
//
// Format: a header line "tarnwick journal 1 LENGTH CHECKSUM SHA256" ("-"
// for no SHA-256), a line "boot BOOTID" naming the machine's boot the lines
// below were written in, and one line "OFFSET LENGTH" per range, with a
// line "synced" after the volume file was last flushed to disk.
//
// A range is appended once its bytes are in the volume file, without waiting
// for the disk: a killed run leaves them in the kernel's page cache, where
// the next run of the same boot finds them.  Only a crash of the machine or
// a power cut can lose them, and that starts another boot, so a journal of
// another boot vouches only for the ranges above its last "synced" line.
// The flush comes every half minute at most: a fast download then never
// waits for the disk (its volumes are unpacked and gone sooner than the
// kernel would write them), and a slow one loses no more than that.  A
// journal without a boot line was flushed before every line.  A torn or
// malformed line ends the reading: nothing after it counts.
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

  // The ranges the journal of `volumePath` vouches for in this boot, when it
  // belongs to `entry` (same length, checksum and SHA-256); false when there
  // is none, it is for another volume, or it lists nothing.  `flushed`, when
  // given, gets the part known to be on disk.
  static bool Load(const std::string& volumePath, const PackageEntry& entry, KwByteRanges* ranges,
                   KwByteRanges* flushed = nullptr);
  static void Remove(const std::string& volumePath);
  // This boot's identity as the kernel gives it ("-" when it cannot be read,
  // which matches no journal).
  static std::string BootId();

  // Starts a new journal for `entry` (replacing any), or writes the one Load
  // accepted afresh for this boot: what was on disk (`flushed`) above a
  // "synced" line, and the rest of `ranges` below it.  False when it cannot
  // be written; the download then goes on without one.
  bool Begin(const std::string& volumePath, const PackageEntry& entry);
  bool Continue(const std::string& volumePath, const PackageEntry& entry,
                const KwByteRanges& ranges, const KwByteRanges& flushed);
  // Appends ranges whose bytes are in the volume file.
  bool Record(const std::vector<KwByteRanges::Range>& ranges);
  // Says that every range recorded so far is on disk: call after flushing
  // the volume file.
  bool MarkFlushed();
  void Close();
  bool open() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};
