// What an install into a folder would download, found out before the user
// presses start: the install server's release manifest against the manifest
// the folder's installed version kept.  The install page starts a probe
// when it knows its folder and shows the size; the probe asks the server on
// a thread of its own, which its destructor stops and joins.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tool/http/kwpackageentry.h"
#include "tool/makepackage/kwmanifest.h"

class CKWDownloadUtilFor;

struct KwUpdateEstimate {
  enum State { kUnknown, kUpdate, kFull };
  State state = kUnknown;   // kUnknown while asking, or when the server cannot tell
  int64_t updateBytes = 0;  // what an update downloads (manifest included)
  int64_t fullBytes = 0;    // the release's volumes
  std::string from;         // the installed version (kUpdate)
  std::string note;         // why everything is downloaded (kFull)
};

// Fetches the manifest the last version answer of `util` named and checks
// it (length, SHA-256, format, the listed volumes).  0, or -1 with a reason.
int KwFetchReleaseManifest(CKWDownloadUtilFor& util, const std::vector<PackageEntry>& entries,
                           std::string* bytes, KwManifest* manifest, std::string* why);

// The estimate for installing `version` (its manifest `next`, `manifestBytes`
// long) into `installPath`, from the kept manifest found there.
KwUpdateEstimate KwEstimateUpdate(const std::string& installPath, const std::string& version,
                                  const KwManifest& next, int64_t manifestBytes, int64_t fullBytes);

// The line the install page and kwinstall show: `format` is the language
// text "updatesize" (update size, full size, installed version).
std::string KwUpdateSizeLine(const char* format, const KwUpdateEstimate& estimate,
                             std::string (*sizeText)(int64_t));

class KwUpdateProbe {
 public:
  explicit KwUpdateProbe(const std::string& installPath);
  ~KwUpdateProbe();
  KwUpdateProbe(const KwUpdateProbe&) = delete;
  KwUpdateProbe& operator=(const KwUpdateProbe&) = delete;

  KwUpdateEstimate Result() const;
  bool Done() const { return m_done.load(); }

 private:
  void Run();
  std::string m_installPath;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_done{false};
  mutable std::mutex m_mutex;
  KwUpdateEstimate m_result;
  std::thread m_thread;
};
