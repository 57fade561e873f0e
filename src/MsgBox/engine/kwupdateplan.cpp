// Planning an update; see kwupdateplan.h.
#include "MsgBox/engine/kwupdateplan.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace {

std::string Key(const uint8_t sha[32]) {
  return std::string(reinterpret_cast<const char*>(sha), 32);
}

}  // namespace

KwUpdatePlan KwPlanUpdate(const KwManifest& next, const KwManifest* installed) {
  // The first installed place of every digest; a digest held twice needs
  // only one source.
  std::unordered_map<std::string, std::pair<int32_t, int64_t>> held;
  if (installed != nullptr) {
    for (size_t i = 0; i < installed->files.size(); ++i) {
      int64_t at = 0;
      for (const KwManifestPiece& p : installed->files[i].pieces) {
        held.emplace(Key(p.sha256), std::make_pair(static_cast<int32_t>(i), at));
        at += p.length;
      }
    }
  }
  KwUpdatePlan plan;
  plan.pieces.resize(next.files.size());
  for (size_t i = 0; i < next.files.size(); ++i) {
    int64_t at = 0;
    for (const KwManifestPiece& p : next.files[i].pieces) {
      KwPlannedPiece planned;
      planned.fileOffset = at;
      const auto found = held.find(Key(p.sha256));
      // The installed piece must also be as long: a digest says nothing of a
      // manifest that lies about lengths.
      if (found != held.end() &&
          installed->files[found->second.first].size >= found->second.second + p.length) {
        planned.localFile = found->second.first;
        planned.localOffset = found->second.second;
        plan.localBytes += p.length;
      }
      plan.pieces[i].push_back(planned);
      at += p.length;
    }
  }
  KwPlanRecords(next, {}, &plan);
  return plan;
}

void KwPlanRecords(const KwManifest& next, const std::vector<std::vector<bool>>& done,
                   KwUpdatePlan* plan) {
  // The same content in several places (a file shipped twice) is fetched
  // once and written to each: records are keyed by digest, and the first
  // record holding it is the one fetched.
  std::unordered_map<std::string, KwFetchRecord> byDigest;
  for (size_t i = 0; i < next.files.size(); ++i) {
    for (size_t k = 0; k < next.files[i].pieces.size(); ++k) {
      const KwPlannedPiece& planned = plan->pieces[i][k];
      if (planned.localFile >= 0) continue;
      if (!done.empty() && !done[i].empty() && done[i][k]) continue;
      const KwManifestPiece& p = next.files[i].pieces[k];
      KwFetchRecord& r = byDigest[Key(p.sha256)];
      if (r.targets.empty()) {
        r.volume = p.volume;
        r.offset = p.recordOffset;
        r.length = p.recordLength;
        r.pieceLength = p.length;
        std::memcpy(r.sha256, p.sha256, 32);
      }
      r.targets.emplace_back(static_cast<int32_t>(i), planned.fileOffset);
    }
  }
  plan->records.clear();
  plan->ranges.clear();
  plan->fetchBytes = 0;
  for (auto& entry : byDigest) plan->records.push_back(std::move(entry.second));
  std::sort(plan->records.begin(), plan->records.end(),
            [](const KwFetchRecord& a, const KwFetchRecord& b) {
              return a.volume != b.volume ? a.volume < b.volume : a.offset < b.offset;
            });
  for (size_t n = 0; n < plan->records.size(); ++n) {
    const KwFetchRecord& r = plan->records[n];
    if (!plan->ranges.empty()) {
      KwFetchRange& last = plan->ranges.back();
      const int64_t gap = r.offset - (last.offset + last.length);
      if (last.volume == r.volume && gap >= 0 && gap <= kKwMergeGap &&
          last.length + gap + r.length <= kKwMaxFetchRange) {
        last.length += gap + r.length;
        plan->fetchBytes += gap + r.length;
        ++last.recordCount;
        continue;
      }
    }
    plan->fetchBytes += r.length;
    KwFetchRange range;
    range.volume = r.volume;
    range.offset = r.offset;
    range.length = r.length;
    range.firstRecord = n;
    range.recordCount = 1;
    plan->ranges.push_back(range);
  }
}
