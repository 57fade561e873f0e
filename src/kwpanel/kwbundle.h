// The developer bundling step: one installer executable with the first
// package volume appended behind a 32-byte marker, so the installer built
// for packages carried in its own file can find and install it.
#pragma once

#include <cstdint>
#include <string>

// Writes `output` as the installer's bytes, the marker (eight bytes 0x01,
// eight 0x02, eight 0x03 and the package name of the volume, "v201" for
// "v201_000.kwk", NUL-padded to 8 bytes) and the volume's bytes.  Returns 0
// or a KwBundleResult code (kwpkgbundle.h) with the reason in `why`; on
// failure nothing is left at `output`.
int32_t KwRunBundleStep(const char* installerPath, const char* volumePath, const char* outputPath,
                        std::string* why = nullptr);
