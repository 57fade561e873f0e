// KwMirrorSet; see kwenginemirrors.h.
#include "MsgBox/engine/kwenginemirrors.h"

#include <algorithm>

#include "MsgBox/engine/kwenginefetch.h"

void KwMirrorSet::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  servers_.clear();
}

void KwMirrorSet::Measure(Server& s, int64_t bytes, int64_t ms) {
  if (bytes <= 0) return;
  const int64_t sample = bytes * 1000 / std::max<int64_t>(ms, 1);
  // A running average that follows a changed link within a few segments.
  s.speed = s.speed == 0 ? sample : (s.speed * 2 + sample) / 3;
}

int KwMirrorSet::Choose(const std::vector<std::string>& addresses, int64_t length,
                        const std::string& avoid, const std::string& only, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Ranked from the best: a usable server that sends ranges, not the one
  // to avoid, then a whole-file one, then the one to avoid.
  int best = -1;
  int bestRank = 0;
  double bestFinish = 0;
  for (size_t i = 0; i < addresses.size(); ++i) {
    const std::string origin = KwAddressOrigin(addresses[i].c_str());
    Server& s = servers_[origin];
    if (!Usable(s, nowMs)) continue;
    if (!only.empty() && origin == only) return static_cast<int>(i);
    int rank = 0;
    if (s.wholeFile) rank += 1;
    if (origin == avoid) rank += 2;
    // An unmeasured server is tried with one transfer at a time; meanwhile
    // the others go first.
    double finish;
    if (s.speed == 0) {
      finish = s.inFlight == 0 ? -1.0 : 1e18;
    } else {
      // Transfers under way on the same server share its link a little.
      finish = static_cast<double>(length) / static_cast<double>(s.speed) *
               (1.0 + 0.5 * static_cast<double>(s.inFlight));
    }
    if (best < 0 || rank < bestRank || (rank == bestRank && finish < bestFinish)) {
      best = static_cast<int>(i);
      bestRank = rank;
      bestFinish = finish;
    }
  }
  if (best >= 0) return best;
  // Every server rests: the one whose rest ends first is tried anyway (the
  // caller paces its attempts), as a single server always is.
  int64_t soonest = 0;
  for (size_t i = 0; i < addresses.size(); ++i) {
    const Server& s = servers_[KwAddressOrigin(addresses[i].c_str())];
    if (s.dropped) continue;
    if (best < 0 || s.restUntilMs < soonest) {
      best = static_cast<int>(i);
      soonest = s.restUntilMs;
    }
  }
  return best;
}

void KwMirrorSet::Begin(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++servers_[origin].inFlight;
}

void KwMirrorSet::Succeeded(const std::string& origin, int64_t bytes, int64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  Server& s = servers_[origin];
  s.inFlight = std::max(0, s.inFlight - 1);
  s.failuresInARow = 0;
  Measure(s, bytes, ms);
}

void KwMirrorSet::Failed(const std::string& origin, int64_t nowMs) {
  std::lock_guard<std::mutex> lock(mutex_);
  Server& s = servers_[origin];
  s.inFlight = std::max(0, s.inFlight - 1);
  // One failure may be a dropped connection; two in a row is a server that
  // is down or refusing, and is left alone for a while.
  if (++s.failuresInARow >= 2) {
    int64_t rest = kFirstRestMs;
    for (int k = 2; k < s.failuresInARow && rest < kLongestRestMs; ++k) rest *= 2;
    s.restUntilMs = nowMs + std::min(rest, kLongestRestMs);
  }
}

void KwMirrorSet::Abandoned(const std::string& origin, int64_t bytes, int64_t ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  Server& s = servers_[origin];
  s.inFlight = std::max(0, s.inFlight - 1);
  // What it managed is its speed, whatever it was before.
  s.speed = std::max<int64_t>(1, bytes * 1000 / std::max<int64_t>(ms, 1));
}

bool KwMirrorSet::ShouldMove(const std::vector<std::string>& addresses, const std::string& origin,
                             int64_t done, int64_t length, int64_t elapsedMs, int64_t nowMs) {
  if (elapsedMs < kMoveAfterMs) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  int64_t fastest = 0;
  for (const std::string& address : addresses) {
    const std::string other = KwAddressOrigin(address.c_str());
    if (other == origin) continue;
    const Server& s = servers_[other];
    if (Usable(s, nowMs) && !s.wholeFile) fastest = std::max(fastest, s.speed);
  }
  if (fastest == 0) return false;
  const double here = static_cast<double>(std::max<int64_t>(done, 1)) / elapsedMs;  // bytes per ms
  const double restHere = static_cast<double>(length - done) / here;
  const double allThere = static_cast<double>(length) * 1000.0 / fastest;
  return restHere > kMoveFactor * allThere;
}

void KwMirrorSet::Drop(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  servers_[origin].dropped = true;
}

bool KwMirrorSet::Dropped(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  return servers_[origin].dropped;
}

bool KwMirrorSet::MarkWholeFile(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  Server& s = servers_[origin];
  if (s.wholeFile) return false;
  s.wholeFile = true;
  return true;
}

bool KwMirrorSet::WholeFile(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = servers_.find(origin);
  return it != servers_.end() && it->second.wholeFile;
}

int KwMirrorSet::OthersLeft(const std::vector<std::string>& addresses, const std::string& except) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> seen;
  for (const std::string& address : addresses) {
    const std::string origin = KwAddressOrigin(address.c_str());
    if (origin == except || servers_[origin].dropped) continue;
    if (std::find(seen.begin(), seen.end(), origin) == seen.end()) seen.push_back(origin);
  }
  return static_cast<int>(seen.size());
}

int64_t KwMirrorSet::Speed(const std::string& origin) {
  std::lock_guard<std::mutex> lock(mutex_);
  return servers_[origin].speed;
}

std::string KwMirrorSet::Fastest(const std::vector<std::string>& origins) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string best;
  int64_t bestSpeed = -1;
  for (const std::string& origin : origins) {
    const int64_t speed = servers_[origin].speed;
    if (speed > bestSpeed) {
      best = origin;
      bestSpeed = speed;
    }
  }
  return best;
}
