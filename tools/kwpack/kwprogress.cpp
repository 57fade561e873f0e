#include "kwprogress.h"

#include <unistd.h>

#include <cstdio>

std::string KwBytesText(double bytes) {
  static const char* kUnits[] = {"B", "KB", "MB", "GB", "TB"};
  int u = 0;
  while (bytes >= 1000.0 && u < 4) {
    bytes /= 1000.0;
    ++u;
  }
  char buf[32];
  std::snprintf(buf, sizeof(buf), u == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[u]);
  return buf;
}

KwProgress::KwProgress(const std::string& label, int64_t total)
    : m_label(label), m_total(total), m_tty(::isatty(STDERR_FILENO) == 1) {
  m_start = m_last = std::chrono::steady_clock::now();
}

double KwProgress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void KwProgress::Update(int64_t done, const std::string& item) {
  if (!m_tty) return;
  const auto now = std::chrono::steady_clock::now();
  if (m_drawn && now - m_last < std::chrono::milliseconds(100)) return;
  m_last = now;
  Draw(done, item);
}

void KwProgress::Draw(int64_t done, const std::string& item) {
  const double secs = Seconds();
  const double rate = secs > 0 ? static_cast<double>(done) / secs : 0;
  const double frac =
      m_total > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(m_total)) : 0;
  char bar[31];
  const int fill = static_cast<int>(frac * 30);
  for (int i = 0; i < 30; ++i) bar[i] = i < fill ? '#' : '.';
  bar[30] = 0;
  char left[32] = "--:--";
  if (rate > 0 && m_total > 0) {
    const long s = static_cast<long>(static_cast<double>(m_total - done) / rate);
    std::snprintf(left, sizeof(left), "%ld:%02ld", s / 60, s % 60);
  }
  std::string tail = item.size() > 30 ? "..." + item.substr(item.size() - 27) : item;
  std::fprintf(stderr, "\r%s [%s] %3d%% %s / %s  %s/s  left %s  %-30s", m_label.c_str(), bar,
               static_cast<int>(frac * 100), KwBytesText(static_cast<double>(done)).c_str(),
               KwBytesText(static_cast<double>(m_total)).c_str(), KwBytesText(rate).c_str(), left,
               tail.c_str());
  std::fflush(stderr);
  m_drawn = true;
}

void KwProgress::Finish() {
  if (m_tty && m_drawn) {
    std::fprintf(stderr, "\r%*s\r", 140, "");
    std::fflush(stderr);
  }
}
