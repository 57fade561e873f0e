// Progress display of kwpack: a bar with bytes, rate and time left when
// standard error is a terminal, nothing while running otherwise (the command
// prints its own one-line summary).  Redraws at most ten times a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class KwProgress {
 public:
  // `label` prefixes the bar; `total` may be 0 when unknown.
  KwProgress(const std::string& label, int64_t total);
  void Update(int64_t done, const std::string& item = std::string());
  // Clears the bar line so the summary starts on a clean line.
  void Finish();
  bool Interactive() const { return m_tty; }
  double Seconds() const;

 private:
  void Draw(int64_t done, const std::string& item);

  std::string m_label;
  int64_t m_total;
  bool m_tty;
  bool m_drawn = false;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_last;
};

// "12.3 MB" style text for byte counts.
std::string KwBytesText(double bytes);
