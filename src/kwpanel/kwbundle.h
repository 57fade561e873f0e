// The developer bundling step: one installer executable with the first
// package volume appended behind a 32-byte marker, so the installer built
// for packages carried in its own file can find and install it.
#pragma once

#include <cstdint>

// Writes `output` as the installer's bytes, the marker (eight bytes 0x01,
// eight 0x02, eight 0x03, "v201" and four bytes 0x00) and the volume's
// bytes, copied in 8192-byte pieces.  Returns 0; -1 when an input cannot be
// opened (nothing is written); -2 when the output cannot be created or is
// one of the inputs; -3 when reading or writing fails midway (the partial
// output is removed).
int32_t KwRunBundleStep(const char* installerPath, const char* volumePath, const char* outputPath);
