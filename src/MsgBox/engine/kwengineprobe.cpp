// Estimating an update before it starts; see kwengineprobe.h.
#include "MsgBox/engine/kwengineprobe.h"

#include <cstdio>

#include "MsgBox/engine/kwkeptmanifest.h"
#include "MsgBox/engine/kwupdateplan.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwsha256.h"
#include "tool/http/kwdownloadutil.h"

namespace {
// Manifests beyond this are refused (a 40 GB product's is a few MB).
constexpr int64_t kManifestLimit = 256LL * 1024 * 1024;
}  // namespace

int KwFetchReleaseManifest(CKWDownloadUtilFor& util, const std::vector<PackageEntry>& entries,
                           std::string* bytes, KwManifest* manifest, std::string* why) {
  const KwManifestRef& ref = util.manifest();
  if (!ref.present) {
    *why = "the install server names no release manifest";
    return -1;
  }
  if (ref.length > kManifestLimit) {
    *why = "the release manifest is too large";
    return -1;
  }
  std::string data(static_cast<size_t>(ref.length), '\0');
  int64_t total = 0;
  if (util.ReadRange(ref.url.c_str(), 0, static_cast<int32_t>(ref.length), &data[0], &total) !=
      static_cast<int32_t>(ref.length)) {
    *why = "the release manifest cannot be fetched";
    return -1;
  }
  if (KwSha256Hex(data.data(), data.size()) != ref.sha256) {
    *why = "the release manifest fails its SHA-256";
    return -1;
  }
  std::string reason;
  if (KwParseManifest(reinterpret_cast<const uint8_t*>(data.data()), data.size(), manifest,
                      &reason) != 0) {
    *why = "the release manifest is damaged: " + reason;
    return -1;
  }
  bool same = manifest->volumeLengths.size() == entries.size();
  for (size_t i = 0; same && i < entries.size(); ++i)
    same = manifest->volumeLengths[i] == entries[i].length;
  if (!same) {
    *why = "the release manifest does not describe the listed volumes";
    return -1;
  }
  *bytes = std::move(data);
  return 0;
}

KwUpdateEstimate KwEstimateUpdate(const std::string& installPath, const std::string& version,
                                  const KwManifest& next, int64_t manifestBytes,
                                  int64_t fullBytes) {
  KwUpdateEstimate e;
  e.fullBytes = fullBytes;
  e.state = KwUpdateEstimate::kFull;
  const std::string from = KwFindInstalledVersion(installPath, version);
  if (from.empty()) {
    e.note = "no installed version with a kept manifest in " + installPath;
    return e;
  }
  KwManifest installed;
  std::string why;
  if (KwLoadManifestFile(KwKeptManifestPath(installPath, from), &installed, nullptr, &why) != 0) {
    e.note = "the kept manifest of " + from + " is unusable: " + why;
    return e;
  }
  const KwUpdatePlan plan = KwPlanUpdate(next, &installed);
  e.state = KwUpdateEstimate::kUpdate;
  e.from = from;
  e.updateBytes = manifestBytes + plan.fetchBytes;
  return e;
}

std::string KwUpdateSizeLine(const char* format, const KwUpdateEstimate& e,
                             std::string (*sizeText)(int64_t)) {
  if (e.state != KwUpdateEstimate::kUpdate || format == nullptr) return "";
  char line[512];
  std::snprintf(line, sizeof(line), format, sizeText(e.updateBytes).c_str(),
                sizeText(e.fullBytes).c_str(), e.from.c_str());
  return line;
}

KwUpdateProbe::KwUpdateProbe(const std::string& installPath) : m_installPath(installPath) {
  m_thread = std::thread([this] { Run(); });
}

KwUpdateProbe::~KwUpdateProbe() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

KwUpdateEstimate KwUpdateProbe::Result() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_result;
}

void KwUpdateProbe::Run() {
  CKWDownloadUtilFor util;
  util.SetAbortCheck([](void* stop) { return static_cast<std::atomic<bool>*>(stop)->load(); },
                     &m_stop);
  std::vector<PackageEntry> entries;
  char version[256] = {};
  KwUpdateEstimate e;
  std::string bytes, why;
  KwManifest next;
  if (util.GetVersion(version, sizeof(version), entries) == 0 && !entries.empty()) {
    int64_t full = 0;
    for (const PackageEntry& p : entries) full += p.length;
    if (KwFetchReleaseManifest(util, entries, &bytes, &next, &why) == 0) {
      e = KwEstimateUpdate(m_installPath, version, next, static_cast<int64_t>(bytes.size()), full);
    } else {
      e.state = KwUpdateEstimate::kFull;
      e.fullBytes = full;
      e.note = why;
    }
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_result = e;
  }
  m_done = true;
}
