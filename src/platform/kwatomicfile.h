// Whole-file reads and atomic replacement, shared by the key store and the
// ini files.
#pragma once

#include <cstdint>
#include <string>

// Reads the whole file.  Returns 0, or -errno (-ENOENT for a missing file).
int32_t KwReadWholeFile(const std::string& path, std::string* bytes);

// Replaces `path` with `bytes`: writes a new file of a random name in the
// same folder (exclusively, never through a link, kwtempfile.h), flushes it
// to disk and renames it over `path`, so a reader sees either the old or the
// new file and a crash leaves the old one.  A new file gets `mode` less the
// umask; an existing regular file keeps its mode, except that write access
// for others and set-id bits are dropped.  0 or -errno.
int32_t KwReplaceFileAtomic(const std::string& path, const std::string& bytes, uint32_t mode);

// An exclusive advisory lock on a lock file, held for the object's lifetime.
// Every process that changes a shared file takes it first, so read-modify-
// write cycles of different processes (and threads) run one after another.
class KwFileLock {
 public:
  explicit KwFileLock(const std::string& lockPath);
  ~KwFileLock();
  KwFileLock(const KwFileLock&) = delete;
  KwFileLock& operator=(const KwFileLock&) = delete;
  // 0 when the lock is held, -errno when the lock file could not be made.
  int32_t Status() const { return status_; }

 private:
  int fd_ = -1;
  int32_t status_ = 0;
};
