// The rollback guard of signed releases: per product, the key store keeps
// the newest build time of a signed release this installer has accepted,
// and a signed release built before it is refused.  Without the guard a
// server could hand out an older release (still correctly signed and not
// yet expired) and take the user back to its faults.
//
// Build times are the "buildtime" texts of release.json as the maker writes
// them ("2026-12-09T12:00:00Z", UTC) or whole seconds since 1970.
#pragma once

#include <cstdint>
#include <string>

// The key store value (current user, under the product key) that holds the
// newest accepted build time.
inline constexpr const char* kKwReleaseFloorValue = "ReleaseBuildTime";

// Seconds since 1970 of a build time text; false when it is neither form.
bool KwParseBuildTime(const std::string& text, int64_t* seconds);

// Checks the build time of a release whose signature holds: true when it is
// not older than the recorded one (then it becomes the recorded one if it is
// newer), false when it is older or cannot be read.  A key store that cannot
// be written is logged; the release is still judged.
bool KwAdmitBuildTime(const std::string& buildtime);

// The recorded build time text; empty when none was recorded yet.
std::string KwRecordedBuildTime();
