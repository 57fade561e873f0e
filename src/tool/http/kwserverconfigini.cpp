// Loading the install server location from the ini file; see kwserverconfig.h.
// Kept apart from the setters so code that never reads the ini does not pull
// the ini reader in.
#include <sys/stat.h>

#include <cstring>
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
  // A key file named without a folder lies beside the ini file.
  std::string key = value;
  const char* slash = std::strrchr(iniPath, '/');
  struct stat st;
  if (!key.empty() && key[0] != '/' && slash != nullptr) {
    std::string beside = std::string(iniPath, static_cast<size_t>(slash - iniPath)) + "/" + key;
    if (stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode)) key = beside;
  }
  KwSetReleaseKey(key);
}
