#include "MsgBox/engine/kwengineconfig.h"

#include <cerrno>
#include <cstdlib>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "platform/kwinifile.h"

int64_t KwReadRequiredSpace(const char* iniPath) {
  if (iniPath == nullptr || iniPath[0] == '\0') return kKwDefaultRequiredSpace;
  char text[64] = {};
  // The profile reader caps integers at 32 bits, so the byte count is read as text.
  KwGetPrivateProfileString("INSTALL", "REQUIREDSPACE", "", text, sizeof(text), iniPath);
  if (text[0] == '\0') return kKwDefaultRequiredSpace;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0 || value > kKwDefaultRequiredSpace) {
    return kKwDefaultRequiredSpace;
  }
  return value;
}

int64_t KwReadInstallBytes(const char* iniPath, const char* key) {
  if (iniPath == nullptr || iniPath[0] == '\0' || key == nullptr) return 0;
  char text[64] = {};
  KwGetPrivateProfileString("INSTALL", key, "", text, sizeof(text), iniPath);
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (text[0] == '\0' || errno != 0 || end == text || *end != '\0' || value < 0) return 0;
  return value;
}

std::string KwIniPathIn(const char* folder) {
  return std::string(folder ? folder : "") + "/itarnwick.ini";
}
