// Loading the install server location from the ini file; see kwserverconfig.h.
// Kept apart from the setters so code that never reads the ini does not pull
// the ini reader in.
#include "network/http/ikwhttpclient.h"
#include "platform/kwinifile.h"
#include "tool/http/kwserverconfig.h"

void KwLoadServerConfig(const char* iniPath) {
  if (iniPath == nullptr) return;
  char value[1024];
  KwGetPrivateProfileString("SERVER", "URL", "", value, sizeof(value), iniPath);
  KwSetServerBaseUrl(value);
  KwGetPrivateProfileString("SERVER", "CAFILE", "", value, sizeof(value), iniPath);
  KwHttpSetExtraCaFile(value);
}
