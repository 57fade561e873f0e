#include "MsgBox/kwpagelaunch.h"

#include <sys/stat.h>

#include "baseutil/ikwlog.h"
#include "platform/kwinifile.h"
#include "platform/kwprocess.h"

std::string KwProductIniPath(const std::string& versionFolder) {
  return versionFolder + "/Windows/Tarnwick/Plugins/WinUI/Resources/resource/itarnwick.ini";
}

int KwWriteProductSettings(const std::string& folder, bool chinese) {
  const std::string ini = KwProductIniPath(folder);
  const std::string driver = folder + "/ikwdriver/ikwactionapp.exe";
  if (KwWritePrivateProfileString("LANGUAGE", "CODEPAGE", chinese ? "936" : "0", ini.c_str()) ==
          0 ||
      KwWritePrivateProfileString("ACTIONDRIVER", "EXE", driver.c_str(), ini.c_str()) == 0) {
    KW_LOG(4, "CIKWInstallerBkg::StartVersion", "cannot write %s", ini.c_str());
    return -1;
  }
  return 0;
}

int KwStartInstalledVersion(const std::string& installPath, const std::string& version,
                            bool chinese) {
  const std::string folder = installPath + "/" + version;
  const int result = KwWriteProductSettings(folder, chinese);
  const int started = KwStartProductProgram(folder + "/Windows/Tarnwick.exe");
  return started != 0 ? started : result;
}

int KwStartProductProgram(const std::string& program) {
  // The package format keeps no permission bits, so an unpacked program
  // arrives as a plain file; on Windows the ".exe" name alone makes it
  // runnable.  Give its owner the right to run it, as the name promises.
  struct stat st;
  if (::stat(program.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) == 0) {
    ::chmod(program.c_str(), (st.st_mode & 07777) | S_IXUSR);
  }
  const std::string::size_type cut = program.find_last_of('/');
  const std::string folder = cut == std::string::npos ? std::string(".") : program.substr(0, cut);
  const int started = KwStartDetached(program.c_str(), nullptr, folder.c_str());
  if (started != 0) {
    KW_LOG(4, "CIKWInstallerBkg::StartVersion", "cannot start %s: %d", program.c_str(), started);
  }
  return started;
}
