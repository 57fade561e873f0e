// Loading the install server location from the ini file; see kwserverconfig.h.
// Kept apart from the setters so code that never reads the ini does not pull
// the ini reader in.
#include <string>

#include "network/http/ikwhttpclient.h"
#include "platform/kwinifile.h"
#include "tool/http/kwreleasecheck.h"
#include "tool/http/kwserverconfig.h"

void KwLoadServerConfig(const char* iniPath) {
  if (iniPath == nullptr) return;
  char value[1024];
  KwGetPrivateProfileString("SERVER", "URL", "", value, sizeof(value), iniPath);
  KwSetServerBaseUrl(value);
  KwGetPrivateProfileString("SERVER", "CAFILE", "", value, sizeof(value), iniPath);
  KwHttpSetExtraCaFile(value);
  KwGetPrivateProfileString("SERVER", "PUBKEY", "", value, sizeof(value), iniPath);
  // A key file named without a folder lies beside the ini file, and only
  // there: a key lying in whatever folder the installer was started from is
  // nobody's word for a release.
  std::string key = value;
  const std::string file = KwReleaseKeyFile(iniPath, key);
  if (!file.empty()) key = file;
  KwSetReleaseKey(key);
}
