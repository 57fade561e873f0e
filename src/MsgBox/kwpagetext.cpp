#include "MsgBox/kwpagetext.h"

#include <cstdio>

namespace {

constexpr int64_t kKiB = int64_t{1} << 10;
constexpr int64_t kMiB = int64_t{1} << 20;
constexpr int64_t kGiB = int64_t{1} << 30;

}  // namespace

std::string KwSizeText(int64_t n) {
  char buffer[64];
  if (n < 0) n = 0;
  if (n >= kGiB) {
    std::snprintf(buffer, sizeof buffer, "%.2f GB", static_cast<double>(n) / kGiB);
  } else if (n >= kMiB) {
    std::snprintf(buffer, sizeof buffer, "%.2f MB", static_cast<double>(n) / kMiB);
  } else if (n >= kKiB) {
    std::snprintf(buffer, sizeof buffer, "%.2f KB", static_cast<double>(n) / kKiB);
  } else {
    std::snprintf(buffer, sizeof buffer, "%lld B", static_cast<long long>(n));
  }
  return buffer;
}

// A speed is "<label>: <size>/S": the unit ladder is that of the sizes.
std::string KwSpeedText(const std::string& label, int64_t bytesPerSecond) {
  return label + ": " + KwSizeText(bytesPerSecond) + "/S";
}

std::string KwFormatText(const std::string& pattern, std::initializer_list<std::string> values) {
  std::string out;
  auto next = values.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size()) {
      const char c = pattern[i + 1];
      if (c == '%') {
        out += '%';
        ++i;
        continue;
      }
      if (c == 's' || c == 'd') {
        if (next != values.end()) out += *next++;
        ++i;
        continue;
      }
    }
    out += pattern[i];
  }
  return out;
}

bool KwDiskSpaceLow(int64_t freeBytes, int64_t neededBytes) {
  return freeBytes < neededBytes;
}

bool KwDiskSpaceLow(int64_t freeBytes) {
  return static_cast<double>(freeBytes) / static_cast<double>(kGiB) < 40.0;
}

double KwDoneFraction(int64_t doneBytes, int64_t totalBytes) {
  if (totalBytes <= 0 || doneBytes <= 0) return 0.0;
  if (doneBytes >= totalBytes) return 1.0;
  return static_cast<double>(doneBytes) / static_cast<double>(totalBytes);
}

std::string KwProgressLine(const KwProgressTexts& texts, const KwProgressCounters& c) {
  if (c.finished) return std::string();
  if (c.totalBytes <= 0) return texts.preparing;
  char buffer[512];
  const double percent = KwDoneFraction(c.doneBytes, c.totalBytes) * 100.0;
  if (c.installStage == 1 || c.installStage == 2) {
    const std::string& label = c.installStage == 2 ? texts.installing
                               : c.paused          ? texts.paused
                                                   : texts.downloading;
    std::snprintf(buffer, sizeof buffer, "%s %.2f %%", label.c_str(), percent);
    return buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%s: %s / %s", texts.alreadyLoaded.c_str(),
                KwSizeText(c.diskFree).c_str(), KwSizeText(c.diskTotal).c_str());
  return buffer;
}
