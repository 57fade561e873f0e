// One installer per install folder.  Two installers on the same folder would
// run two engines on the same volume files; the second one started instead
// asks the first to come to the front and ends.
//
// The lock is an advisory lock on a small file in the user's runtime folder
// named after the install folder; the system drops it when the process ends,
// however it ends, so a crashed installer never blocks the next one.  The
// holder removes the file when it lets go; only a crash leaves it.  The
// holder watches for a "raise" file beside the lock, which a second start
// creates.
#pragma once

#include <string>

class KwInstanceLock {
 public:
  KwInstanceLock() = default;
  ~KwInstanceLock();
  KwInstanceLock(const KwInstanceLock&) = delete;
  KwInstanceLock& operator=(const KwInstanceLock&) = delete;

  // Takes the lock of `installFolder`.  True when this process holds it now
  // (also when the lock file cannot be made at all: a missing runtime folder
  // must not keep anybody from installing); false when another installer
  // holds it, after asking that one to come to the front.
  bool Acquire(const std::string& installFolder);
  void Release();
  bool held() const { return fd_ >= 0; }

  // Whether a second start asked the holder to come to the front since the
  // last call; the request is used up.
  bool TakeRaiseRequest();

  // After a refused Acquire: waits up to `ms` for the holder to take the
  // request to come forward; false when it did not (it may be busy or have
  // no window yet), so the caller says in words that it runs.
  static bool WaitUntilRaised(const std::string& installFolder, int ms);

  // The lock file of a folder (for tests and logs).
  static std::string LockPathFor(const std::string& installFolder);

 private:
  int fd_ = -1;
  std::string path_;
};

// The lock of this process's installer, or null; the main dialog polls it
// for raise requests.
KwInstanceLock* KwProcessInstanceLock();
void KwSetProcessInstanceLock(KwInstanceLock* lock);
