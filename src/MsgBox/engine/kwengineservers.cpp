// How a run uses its file servers: each attempt at a segment is watched for
// the speed floor and for a much faster server that should take it over;
// the bandwidth cap holds transfers back; and a volume that fails
// verification is traced to the server that sent wrong bytes, which is
// dropped for the run.
#include <algorithm>
#include <thread>

#include "MsgBox/engine/kwengineimpl.h"
#include "MsgBox/engine/kwengineowner.h"
#include "baseutil/ikwlog.h"

using kwengine::kFloorWindowMs;
using kwengine::kWorkerCount;
using kwengine::NowMs;

namespace {
const char* const kFunc = "CKWinstaller::servers";
}  // namespace

bool CKWInstallEngine::Impl::AttemptShouldEnd(void* context) {
  auto* w = static_cast<AttemptWatch*>(context);
  Impl* self = w->self;
  if (self->end_) return true;
  const int64_t now = NowMs();
  const int64_t done = w->arrival->attempt;  // this attempt's bytes alone
  // Time spent paused is nobody's slowness.
  if (self->pauseEndedMs_ > w->windowMs) {
    w->windowMs = now;
    w->windowBytes = done;
  }
  int64_t floor = self->lowestSpeed_;
  // Under a cap each transfer gets its share of it at most; the floor must
  // not call that slowness.
  if (floor > 0 && self->maxSpeed_ > 0)
    floor = std::min(floor, self->maxSpeed_ / (2 * kWorkerCount));
  if (floor > 0 && now - w->windowMs >= kFloorWindowMs) {
    if ((done - w->windowBytes) * 1000 / (now - w->windowMs) < floor) {
      w->reason = AttemptWatch::kBelowFloor;
      return true;
    }
    w->windowMs = now;
    w->windowBytes = done;
  }
  if (now - w->checkedMs >= 250) {
    w->checkedMs = now;
    if (self->mirrors_.ShouldMove(*w->addresses, w->origin, done, w->length, now - w->startMs,
                                  now)) {
      w->reason = AttemptWatch::kMoved;
      return true;
    }
  }
  return false;
}

void CKWInstallEngine::Impl::Throttle(int64_t bytes) {
  int64_t waitUs = cap_.Take(bytes, NowMs() * 1000);
  // In small steps, so a stop is never held up by the cap.
  while (waitUs > 0 && !end_) {
    const int64_t step = std::min<int64_t>(waitUs, 50000);
    std::this_thread::sleep_for(std::chrono::microseconds(step));
    waitUs -= step;
  }
}

void CKWInstallEngine::Impl::Note(const std::string& text) {
  KW_LOG(4, kFunc, "%s", text.c_str());
  if (owner_ != nullptr) owner_->EngineNote(text.c_str());
}

void CKWInstallEngine::Impl::AddContributor(const std::string& origin, uint64_t generation) {
  std::lock_guard<std::mutex> lock(sourcesMutex_);
  if (generation == generation_) contributors_.insert(origin);
}

std::string CKWInstallEngine::Impl::SoleOrigin() {
  std::lock_guard<std::mutex> lock(sourcesMutex_);
  return soleOrigin_;
}

void CKWInstallEngine::Impl::JudgeSources(const PackageEntry& e, bool verified) {
  const std::vector<std::string> addresses = KwAddressesOf(e);
  std::set<std::string> from;
  std::string sole;
  std::set<std::string> suspects;
  {
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    from.swap(contributors_);
    sole.swap(soleOrigin_);
    suspects.swap(suspects_);
  }
  auto drop = [&](const std::string& origin, const char* why) {
    // The last server of a volume is never dropped: without it nothing
    // could be fetched, and the verification decides all the same.
    if (mirrors_.Dropped(origin) || mirrors_.OthersLeft(addresses, origin) == 0) return;
    mirrors_.Drop(origin);
    Note("the file server " + origin + " is dropped for this run: " + why + " " + e.name);
  };
  if (verified) {
    // The volume came right from one server alone after it failed with
    // several: the others sent the wrong bytes.
    for (const std::string& origin : suspects) drop(origin, "it sent wrong bytes of");
    return;
  }
  if (!sole.empty()) {
    drop(sole, "its bytes failed verification for");
    return;
  }
  if (from.size() == 1) {
    drop(*from.begin(), "its bytes failed verification for");
    return;
  }
  if (from.size() > 1) {
    // Which of them sent wrong bytes is not known yet: the volume comes
    // again from the fastest of them alone.
    std::vector<std::string> list(from.begin(), from.end());
    const std::string fastest = mirrors_.Fastest(list);
    std::lock_guard<std::mutex> lock(sourcesMutex_);
    soleOrigin_ = fastest;
    for (const std::string& origin : from) {
      if (origin != fastest) suspects_.insert(origin);
    }
    KW_LOG(4, kFunc, "%s failed verification with bytes from %zu servers; fetched from %s alone",
           e.name, from.size(), fastest.c_str());
  }
}
