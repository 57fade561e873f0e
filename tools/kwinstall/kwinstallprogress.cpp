#include "kwinstallprogress.h"

#include <cstdio>

std::string KwInstallSizeText(int64_t n) {
  char buf[64];
  if (n >= (1LL << 30)) {
    std::snprintf(buf, sizeof(buf), "%.2f GB", static_cast<double>(n) / (1LL << 30));
  } else if (n >= (1LL << 20)) {
    std::snprintf(buf, sizeof(buf), "%.2f MB", static_cast<double>(n) / (1LL << 20));
  } else if (n >= 1024) {
    std::snprintf(buf, sizeof(buf), "%.2f KB", static_cast<double>(n) / 1024);
  } else {
    std::snprintf(buf, sizeof(buf), "%lld B", static_cast<long long>(n));
  }
  return buf;
}

std::string KwInstallTimeText(int64_t s) {
  if (s < 0) return "--:--";
  char buf[32];
  if (s >= 3600) {
    std::snprintf(buf, sizeof(buf), "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  } else {
    std::snprintf(buf, sizeof(buf), "%lld:%02lld", static_cast<long long>(s / 60),
                  static_cast<long long>(s % 60));
  }
  return buf;
}

int64_t KwInstallSecondsLeft(int64_t done, int64_t total, int64_t speed) {
  if (speed <= 0 || total <= 0 || done > total) return -1;
  return (total - done + speed - 1) / speed;
}

std::string KwInstallProgressLine(const char* phase, int64_t done, int64_t total, int64_t speed,
                                  bool showRate) {
  char buf[256];
  double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 0;
  int n = std::snprintf(buf, sizeof(buf), "%s %5.1f%%  %s / %s", phase, percent,
                        KwInstallSizeText(done).c_str(), KwInstallSizeText(total).c_str());
  std::string line(buf, n > 0 ? static_cast<size_t>(n) : 0);
  if (showRate) {
    std::snprintf(buf, sizeof(buf), "  %s/s  %s left", KwInstallSizeText(speed).c_str(),
                  KwInstallTimeText(KwInstallSecondsLeft(done, total, speed)).c_str());
    line += buf;
  }
  return line;
}

std::string KwInstallUnpackPart(int64_t done, int64_t total, const std::string& file,
                                size_t nameWidth) {
  if (done <= 0 || total <= 0) return "";
  char buf[64];
  std::snprintf(buf, sizeof(buf), " | unpack %5.1f%%",
                100.0 * static_cast<double>(done) / static_cast<double>(total));
  std::string part = buf;
  if (file.empty() || nameWidth == 0) return part;
  std::string name = file;
  if (name.size() > nameWidth) {
    name = nameWidth > 3 ? "..." + name.substr(name.size() - (nameWidth - 3)) : name.substr(0, 0);
  }
  return part + "  " + name;
}
