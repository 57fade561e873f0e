// Reading a package's volumes into a release manifest: every record is
// walked, every data record inflated and its SHA-256 taken.  kwpack uses it
// to write a manifest for volumes the maker did not write in this run
// ("list") and to check a manifest against the volumes ("verify").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/makepackage/kwmanifest.h"

// Scans the volumes at `paths` (in volume-number order) into `out`.  0, or
// -1 with a reason when a volume cannot be read, a record is malformed, a
// chunk does not inflate or the package ends inside a file.
int KwScanVolumes(const std::vector<std::string>& paths, KwManifest* out, std::string* error);

// Compares two manifests; empty when they describe the same files, pieces
// and places, else the first difference in words.
std::string KwManifestDifference(const KwManifest& expected, const KwManifest& found);
