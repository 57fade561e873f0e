// The rollback guard of signed releases; see kwreleasefloor.h.
#include "tool/http/kwreleasefloor.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "baseutil/ikwlog.h"
#include "platform/kwregistry.h"

namespace {

const char* const kProductKey = "SOFTWARE\\kws\\Tarnwick";

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool KwParseBuildTime(const std::string& text, int64_t* seconds) {
  if (text.empty()) return false;
  if (text.find_first_not_of("0123456789") == std::string::npos) {
    if (text.size() > 18) return false;
    *seconds = std::strtoll(text.c_str(), nullptr, 10);
    return true;
  }
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &y, &mo, &d, &h, &mi, &s, &used) !=
          6 ||
      used != static_cast<int>(text.size()) || text.size() != 20) {
    return false;
  }
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60) return false;
  *seconds = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 +
             h * 3600 + mi * 60 + s;
  return true;
}

std::string KwRecordedBuildTime() {
  KwRegKey key;
  std::string value;
  if (KwRegKey::Open(KwHive::CurrentUser, kProductKey, kKwRegRead, &key) != kKwRegOk) return "";
  if (key.GetString(kKwReleaseFloorValue, &value) != kKwRegOk) return "";
  return value;
}

bool KwAdmitBuildTime(const std::string& buildtime) {
  int64_t offered = 0;
  if (!KwParseBuildTime(buildtime, &offered)) {
    // A signed release without a readable build time cannot be placed
    // against the recorded one.
    KW_LOG(4, "KwAdmitBuildTime", "signed release with unreadable build time [%s]",
           buildtime.c_str());
    return false;
  }
  const std::string recordedText = KwRecordedBuildTime();
  int64_t recorded = 0;
  // A damaged record must not lock every release out; it is replaced.
  if (!recordedText.empty() && KwParseBuildTime(recordedText, &recorded)) {
    if (offered < recorded) {
      KW_LOG(4, "KwAdmitBuildTime", "release built %s is older than %s", buildtime.c_str(),
             recordedText.c_str());
      return false;
    }
    if (offered == recorded) return true;
  }
  KwRegKey key;
  int32_t r = KwRegKey::Create(KwHive::CurrentUser, kProductKey, kKwRegRead | kKwRegWrite, &key);
  if (r == kKwRegOk) r = key.SetString(kKwReleaseFloorValue, buildtime.c_str());
  if (r != kKwRegOk) KW_LOG(1, "KwAdmitBuildTime", "build time not recorded: %d", r);
  return true;
}
