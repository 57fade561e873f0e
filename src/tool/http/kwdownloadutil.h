// CKWDownloadUtilFor: the installer's single point of contact with the
// install server, and the keeper of one installation's list of volumes.
//
// It asks for the current version with its volumes, for a download URL per
// volume, reads byte ranges of a volume into memory, and alternatively builds
// the same list from volume files on disk or from a package embedded in a
// file.  Each thread that talks to the server owns its own utility; the
// utility owns its volume list and the HTTP clients it makes per request.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tool/http/kwpackageentry.h"
#include "tool/http/kwreleasecheck.h"

// The release manifest a version answer names (member "manifest"): its
// length and SHA-256, which a signed answer covers, and the address to
// fetch it from.
struct KwManifestRef {
  bool present = false;
  int64_t length = 0;
  std::string sha256;
  std::string url;
};

class CKWDownloadUtilFor {
 public:
  typedef void (*ProgressFn)(void* context, int32_t count);
  typedef int64_t (*ClockFn)();  // Seconds since 1970.
  typedef bool (*AbortFn)(void* context);

  // Largest JSON answer read; a longer body is dropped as if none had come.
  static constexpr int64_t kJsonBodyLimit = 4 * 1024 * 1024;

  // Takes the base URL from the server configuration (kwserverconfig.h).
  CKWDownloadUtilFor(void* progressContext = nullptr, ProgressFn progress = nullptr);
  virtual ~CKWDownloadUtilFor();
  CKWDownloadUtilFor(const CKWDownloadUtilFor&) = delete;
  CKWDownloadUtilFor& operator=(const CKWDownloadUtilFor&) = delete;

  // Asks the server for the current version and its volumes.  Copies the
  // version into `version` (at most versionSize - 1 bytes) and appends a copy
  // of every entry to `entries`.  0, or -1 request failed / not JSON, -2 no
  // "data", -3 "code" missing or not 0, -4 an entry's key or checksum is too
  // long for its field (logged; nothing is appended), -5 no body,
  // kReleaseRefused when a release key is configured and the answer's
  // signature does not hold (kwreleasecheck.h; nothing is returned then and
  // refusal() says why).
  int GetVersion(char* version, size_t versionSize, std::vector<PackageEntry>& entries);
  static constexpr int kReleaseRefused = -6;
  KwReleaseVerdict refusal() const { return m_refusal; }
  // The manifest the last accepted version answer named; not present when
  // it named none or named it unusably (logged).
  const KwManifestRef& manifest() const { return m_manifest; }

  // Fills entry.name (from its key) and entry.url.  0, or a negative DoGet
  // result unchanged, -1 not JSON, -2 "code" missing or not 0, -3 no "data",
  // -4 no body; "data" that is no address text counts as missing.
  int GetDownloadUrl(PackageEntry& entry);

  // The reading halves of the two calls above: what they do with the body
  // of the server's answer, with the same results (-5 and -4 aside).  The
  // body may hold anything; a document over kJsonBodyLimit or nested deeper
  // than the JSON reader allows counts as no JSON.
  int ReadVersionAnswer(const char* body, size_t length, char* version, size_t versionSize,
                        std::vector<PackageEntry>& entries);
  int ReadDownloadUrlAnswer(const char* body, size_t length, PackageEntry& entry);

  // Reads `length` bytes at `offset` of `url` into `dest`.  Returns `length`
  // on success; a negative DoGet result unchanged; -2 when the answer is not
  // exactly that range (wrong byte count, a status other than 206, or a
  // Content-Range that is not "bytes OFFSET-LAST/TOTAL" for exactly these
  // bytes, kwcontentrange.h).  On success `*total` receives TOTAL; it is
  // never touched otherwise.  `dest` is untouched on failure.
  int32_t ReadRange(const char* url, int64_t offset, int32_t length, char* dest, int64_t* total);

  // Scans the open file from its current position for the 24 marker bytes
  // (eight 0x01, eight 0x02, eight 0x03) and reads the 8-byte version name
  // behind them into `version` (NUL-terminated, so versionSize >= 9 keeps it
  // whole).  The list becomes one entry with url "mem"; embeddedOffset() then
  // holds the bytes consumed, where the volume begins.  0, or -1 at end of
  // file without the marker.
  int FindEmbeddedPackage(char* version, size_t versionSize, FILE* file);

  // Lists "%s_%03d.tmp" volumes from the base before the last "_" of
  // `firstVolume`, numbered from 000 until the first missing or empty file;
  // `version` := the base's last path component.  0 when at least one was
  // found, else -1; also -1 (logged, list empty) when a volume's path or
  // name is too long for its field.
  int FindLocalVolumes(char* version, size_t versionSize, const char* firstVolume);

  const std::vector<std::unique_ptr<PackageEntry>>& volumes() const { return m_volumes; }
  int64_t embeddedOffset() const { return m_embeddedOffset; }
  const std::string& baseUrl() const { return m_baseUrl; }

  // For tests: the base URL of this utility and the clock its timestamps use.
  void SetBaseUrl(const char* url);
  void SetClock(ClockFn clock) { m_clock = clock; }
  // Handed to every HTTP client this utility makes: true ends a transfer at
  // once (it then fails as a broken transfer would).
  void SetAbortCheck(AbortFn abort, void* context) {
    m_abort = abort;
    m_abortContext = context;
  }

 private:
  std::string Timestamp() const;

  void* m_progressContext;
  ProgressFn m_progress;
  std::vector<std::unique_ptr<PackageEntry>> m_volumes;
  int64_t m_embeddedOffset = 0;
  std::string m_baseUrl;
  ClockFn m_clock = nullptr;
  AbortFn m_abort = nullptr;
  void* m_abortContext = nullptr;
  KwReleaseVerdict m_refusal = KwReleaseVerdict::Accepted;
  KwManifestRef m_manifest;
};
