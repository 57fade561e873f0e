#include "kwpanel/kwbundle.h"

#include "baseutil/ikwlog.h"
#include "tool/makepackage/kwpkgbundle.h"

int32_t KwRunBundleStep(const char* installerPath, const char* volumePath, const char* outputPath,
                        std::string* why) {
  std::string reason;
  // The volume's package name is the version the installer reads from the
  // marker, so the product lands in the folder its package is named for.
  const std::string version =
      volumePath != nullptr ? KwVolumePackageName(volumePath) : std::string();
  const int32_t result = KwBundlePackage(installerPath, volumePath, outputPath, version, &reason);
  if (result != kKwBundleOk) KW_LOG(4, "CkwpanelApp::Bundle", "%s", reason.c_str());
  if (why != nullptr) *why = reason;
  return result;
}
