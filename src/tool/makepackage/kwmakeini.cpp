#include "tool/makepackage/kwmakeini.h"

#include <vector>

#include "baseutil/ikwlog.h"
#include "main/kwglobals.h"
#include "platform/kwinifile.h"

namespace {

// Reads one value the way the front ends always have (a 500-byte buffer),
// except that the cut never splits a character.
std::string ReadValue(const char* section, const char* key, const std::string& file) {
  std::vector<char> whole(64 * 1024);
  KwGetPrivateProfileString(section, key, "", whole.data(), static_cast<int32_t>(whole.size()),
                            file.c_str());
  char cut[kKwMakeIniValueSize];
  if (!KwCopyText(cut, sizeof cut, whole.data())) {
    KW_LOG(4, "KwReadMakeIni", "%s of %s cut to %d bytes", key, file.c_str(),
           kKwMakeIniValueSize - 1);
  }
  return cut;
}

}  // namespace

std::string KwMakeIniPath(const std::string& folder) {
  return folder + "/make.ini";
}

KwMakeSettings KwReadMakeIni(const std::string& folder) {
  const std::string file = KwMakeIniPath(folder);
  KwMakeSettings s;
  s.fromPath = ReadValue("FROM", "FROMPATH", file);
  s.toPath = ReadValue("TO", "TOPATH", file);
  s.file = ReadValue("EXEC", "FILE", file);
  s.name = ReadValue("EXEC", "NAME", file);
  s.package = ReadValue("EXEC", "PACKAGE", file);
  return s;
}

bool KwWriteMakeIni(const std::string& folder, const KwMakeSettings& settings) {
  const std::string file = KwMakeIniPath(folder);
  const bool ok =
      KwWritePrivateProfileString("FROM", "FROMPATH", settings.fromPath.c_str(), file.c_str()) &&
      KwWritePrivateProfileString("TO", "TOPATH", settings.toPath.c_str(), file.c_str()) &&
      KwWritePrivateProfileString("EXEC", "PACKAGE", settings.package.c_str(), file.c_str());
  if (!ok) KW_LOG(4, "KwWriteMakeIni", "cannot write %s", file.c_str());
  return ok;
}
