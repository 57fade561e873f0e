// The file servers of a run, by origin ("scheme://host:port"): each one's
// measured speed, the transfers under way on it, its failures and when it
// may be tried again, whether it sends whole files instead of ranges, and
// whether it is dropped for the run.  The download workers ask it where
// each segment should go and tell it how each transfer went; every call
// takes its lock, so any thread may call.  Times are passed in, so tests
// decide the clock.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

class KwMirrorSet {
 public:
  // A failed server rests this long after its second failure in a row, twice
  // as long after each further one, up to the longest rest.
  static constexpr int64_t kFirstRestMs = 5000;
  static constexpr int64_t kLongestRestMs = 60000;
  // A transfer is moved only after it has run this long (its speed is known
  // by then) and when a fresh fetch elsewhere would finish this many times
  // sooner than its rest here.
  static constexpr int64_t kMoveAfterMs = 500;
  static constexpr int kMoveFactor = 3;

  void Reset();

  // The index in `addresses` where a new segment of `length` bytes should go:
  // the usable server where it would finish soonest (a server not measured
  // yet is tried once first).  Never a dropped or resting server nor one
  // that sends whole files while another is usable, nor `avoid` while
  // another is usable; `only`, when set and usable, is the one choice.  When
  // every server rests, the one whose rest ends first; -1 only when every
  // one is dropped.
  int Choose(const std::vector<std::string>& addresses, int64_t length, const std::string& avoid,
             const std::string& only, int64_t nowMs);

  // A transfer from `origin` starts.
  void Begin(const std::string& origin);
  // It brought `bytes` in `ms`: the speed measure takes it in.
  void Succeeded(const std::string& origin, int64_t bytes, int64_t ms);
  // It failed; a second failure in a row lets the server rest.
  void Failed(const std::string& origin, int64_t nowMs);
  // It was ended because it was too slow: `bytes` in `ms` is its speed.
  void Abandoned(const std::string& origin, int64_t bytes, int64_t ms);

  // Whether a transfer from `origin` that has brought `done` of `length`
  // bytes in `elapsedMs` should move to another of `addresses`: its rest
  // here would take kMoveFactor times longer than all of it from the
  // fastest usable other server.
  bool ShouldMove(const std::vector<std::string>& addresses, const std::string& origin,
                  int64_t done, int64_t length, int64_t elapsedMs, int64_t nowMs);

  void Drop(const std::string& origin);
  bool Dropped(const std::string& origin);
  // True when newly marked.
  bool MarkWholeFile(const std::string& origin);
  bool WholeFile(const std::string& origin);
  // Usable servers among `addresses` other than `except` (resting ones count).
  int OthersLeft(const std::vector<std::string>& addresses, const std::string& except);
  // Bytes per second measured per transfer (0 while unknown).
  int64_t Speed(const std::string& origin);
  // The fastest measured of `origins` (the first when none is measured).
  std::string Fastest(const std::vector<std::string>& origins);

 private:
  struct Server {
    int64_t speed = 0;  // per transfer, bytes per second; 0 unknown
    int inFlight = 0;
    int failuresInARow = 0;
    int64_t restUntilMs = 0;
    bool dropped = false;
    bool wholeFile = false;
  };
  bool Usable(const Server& s, int64_t nowMs) const { return !s.dropped && s.restUntilMs <= nowMs; }
  void Measure(Server& s, int64_t bytes, int64_t ms);

  std::mutex mutex_;
  std::map<std::string, Server> servers_;
};
