// The install engine's side of updates: fetching the release manifest the
// install server names, deciding between an update and the full download
// (the reason for a full download is logged), running the update over the
// engine's connections, and keeping the manifest of the installed version.
// The update itself is kwengineupdate.h.
#include <cstdio>
#include <memory>

#include "MsgBox/engine/kwenginefinish.h"
#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwengineprobe.h"
#include "MsgBox/engine/kwengineranges.h"
#include "MsgBox/engine/kwengineupdate.h"
#include "MsgBox/engine/kwkeptmanifest.h"
#include "MsgBox/engine/kwupdateplan.h"
#include "baseutil/ikwlog.h"
#include "baseutil/kwsha256.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/makepackage/kwmanifest.h"

namespace {
const char kFunc[] = "CKWinstaller::update";
}  // namespace

void CKWInstallEngine::Impl::NoteFullDownload(const std::string& why) {
  KW_LOG(4, kFunc, "full download: %s", why.c_str());
  std::lock_guard<std::mutex> lock(textMutex_);
  updateNote_ = "full download: " + why;
}

bool CKWInstallEngine::Impl::FetchReleaseManifest(CKWDownloadUtilFor& util,
                                                  const std::vector<PackageEntry>& entries) {
  manifestBytes_.clear();
  nextManifest_.reset();
  auto manifest = std::make_unique<KwManifest>();
  std::string bytes, why;
  // A transfer may fail once; asked again after a short pause (a refused
  // link stays refused, and the full download has retries of its own).
  for (int attempt = 0; attempt < 2 && active_; ++attempt) {
    why.clear();
    if (KwFetchReleaseManifest(util, entries, &bytes, manifest.get(), &why) == 0) break;
    if (why.find("cannot be fetched") == std::string::npos) break;
    if (attempt == 0) Nap(300);
  }
  if (!why.empty()) {
    NoteFullDownload(why);
    return false;
  }
  manifestBytes_ = std::move(bytes);
  nextManifest_ = std::move(manifest);
  return true;
}

bool CKWInstallEngine::Impl::TryUpdate(CKWDownloadUtilFor& util,
                                       const std::vector<PackageEntry>& entries) {
  updated_ = false;
  if (!FetchReleaseManifest(util, entries)) return false;
  const std::string from = KwFindInstalledVersion(installPath_, version_);
  if (from.empty()) {
    NoteFullDownload("no installed version with a kept manifest in " + installPath_);
    return false;
  }
  KwManifest installed;
  std::string why;
  if (KwLoadManifestFile(KwKeptManifestPath(installPath_, from), &installed, nullptr, &why) != 0) {
    NoteFullDownload("the kept manifest of " + from + " is unusable: " + why);
    return false;
  }
  const KwUpdatePlan estimate = KwPlanUpdate(*nextManifest_, &installed);
  const int64_t manifestLength = static_cast<int64_t>(manifestBytes_.size());
  {
    std::lock_guard<std::mutex> lock(textMutex_);
    updateFrom_ = from;
  }
  // The update builds the new version in the staging folder, which becomes
  // the version folder only when every piece is in place.
  if (!BeginStaging()) return true;
  updateBytes_ = manifestLength + estimate.fetchBytes;
  KW_LOG(4, kFunc, "update from %s: %lld of %lld bytes to download", from.c_str(),
         static_cast<long long>(updateBytes_.load()), static_cast<long long>(fullBytes_.load()));
  updated_ = true;

  KwUpdateProgress progress;
  progress.planFetchBytes = estimate.fetchBytes;
  struct Tick {
    Impl* self;
    KwUpdateProgress* progress;
    int64_t manifestLength;
  } tick{this, &progress, manifestLength};
  StartCounting(manifestLength, generation_);
  totalBytes_ = manifestLength + estimate.fetchBytes;
  KwUpdateInput in;
  in.next = nextManifest_.get();
  in.installed = &installed;
  in.installedFolder = installPath_ + "/" + from;
  in.outputFolder = staging_.folder();
  in.connections = kwengine::kWorkerCount;
  in.active = &active_;
  in.context = &tick;
  in.onProgress = [](void* context) {
    auto* t = static_cast<Tick*>(context);
    const int64_t planned = t->progress->planFetchBytes.load();
    const int64_t fetched = std::min(t->progress->fetchedBytes.load(), planned);
    t->self->totalBytes_ = t->manifestLength + planned;
    t->self->StartCounting(t->manifestLength + fetched, t->self->generation_);
    t->self->Repaint();
  };
  KwServerRangeSources sources(entries, this, &Impl::OnReceived, &Impl::ShouldAbort);
  if (KwRunUpdate(in, &sources, &progress, &why) != 0) {
    // A stopped update continues at the next start; anything else ends
    // the run with its reason.
    if (active_) Fail("the update failed: " + why, nullptr);
    return true;
  }
  updateBytes_ = manifestLength + progress.planFetchBytes.load();
  KW_LOG(4, kFunc, "update from %s done: %lld bytes fetched, %lld copied, %lld kept", from.c_str(),
         static_cast<long long>(progress.fetchedBytes.load()),
         static_cast<long long>(progress.copiedBytes.load()),
         static_cast<long long>(progress.keptBytes.load()));
  return true;
}

void CKWInstallEngine::Impl::KeepManifest() {
  if (manifestBytes_.empty() || version_.empty()) return;
  if (KwKeepManifest(installPath_, version_, manifestBytes_) != 0)
    KW_LOG(4, kFunc, "cannot keep the manifest of %s", version_.c_str());
}

void CKWInstallEngine::Impl::FinishUpdate() {
  // The same steps as after a full install: the staging folder goes into
  // place, then the version is registered and its manifest kept.
  FinishInstall(true);
}
