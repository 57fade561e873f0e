// The staging folder of an installation: a version is unpacked into a
// hidden folder inside the install folder and becomes the version folder in
// one rename, only once every volume has verified and every file ended
// well.  So a kill, a full disk or a lying server leaves at most a staging
// folder behind, never half a version under the version's own name, and the
// version installed before stays untouched until the new one is complete.
//
// The install phase owns one object per run: Begin() before the first
// byte is unpacked, then Commit() or Abandon().  Anything that installs a
// version tree (a full install, an update) can use it the same way.  One
// thread at a time.
#pragma once

#include <string>

class KwStaging {
 public:
  KwStaging() = default;
  ~KwStaging() = default;
  KwStaging(const KwStaging&) = delete;
  KwStaging& operator=(const KwStaging&) = delete;

  // Clears what killed runs left in `installPath` (KwClearStagingLeftovers)
  // and makes a fresh, empty staging folder for `version`.  0, or -errno
  // (-ENOSPC when the disk is full).
  int Begin(const std::string& installPath, const std::string& version);

  // Takes up the staging folder an earlier run of `version` left together
  // with a checkpoint, which goes to `checkpoint`; staging folders of other
  // versions are cleared.  False (nothing changed) when there is none; the
  // caller then decides whether the checkpoint fits and otherwise Begin()s.
  bool Reopen(const std::string& installPath, const std::string& version, std::string* checkpoint);
  // Replaces the checkpoint in one step: what a run that stops now leaves
  // for the next one to continue from.  False when it cannot be written.
  bool SaveCheckpoint(const std::string& text);

  // Where the unpacker writes: the staging folder.
  const std::string& folder() const { return staging_; }
  // The version folder the staging folder becomes.
  const std::string& versionFolder() const { return target_; }
  // Begun and neither committed nor abandoned.
  bool open() const { return open_; }

  // Moves the staging folder into place as the version folder (without its
  // checkpoint).  A version
  // folder already there (the same version installed before) is swapped out
  // in the same step and then removed.  0, or -errno with the version folder
  // as it was before.
  int Commit();

  // Removes the staging folder and everything in it.
  void Abandon();

 private:
  std::string installPath_;
  std::string version_;
  std::string staging_;
  std::string target_;
  bool open_ = false;
};

// Clears what killed runs left in `installPath`: every staging folder is
// removed; a version folder that was set aside while a new one took its
// place is put back when its version folder is missing, else removed.
// Returns the number of folders removed or put back.
int KwClearStagingLeftovers(const std::string& installPath);

// True when `installPath` holds the staging folder of `version` with a
// checkpoint: a stopped download run left volumes unpacked there, and the
// next run continues it.
bool KwStagingHasCheckpoint(const std::string& installPath, const std::string& version);
