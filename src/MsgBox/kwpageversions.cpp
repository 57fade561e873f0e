#include "MsgBox/kwpageversions.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::vector<std::string> KwScanInstalledVersions(const std::string& installPath) {
  std::vector<std::string> found;
  if (installPath.empty()) return found;
  std::error_code ec;
  fs::directory_iterator it(installPath, ec);
  if (ec) return found;
  for (const fs::directory_entry& entry : it) {
    std::error_code typeError;
    if (!entry.is_directory(typeError) || typeError) continue;
    if (entry.path().filename().string() != kKwInstalledVersionName) continue;
    found.push_back(entry.path().filename().string());
    if (static_cast<int>(found.size()) >= kKwMaxInstalledVersions) break;
  }
  return found;
}

std::string KwVolumeBaseName(const std::string& entryName) {
  const std::string::size_type cut = entryName.find_last_of("/\\");
  return cut == std::string::npos ? entryName : entryName.substr(cut + 1);
}

bool KwHasLeftoverVolume(const std::string& installPath, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    const std::string base = KwVolumeBaseName(name);
    if (base.empty()) continue;
    std::error_code ec;
    const fs::path path = fs::path(installPath) / base;
    if (!fs::is_regular_file(path, ec)) continue;
    const auto size = fs::file_size(path, ec);
    if (!ec && size > 0) return true;
  }
  return false;
}

std::string KwFindBesidePackage(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) return std::string();
  for (const fs::directory_entry& entry : it) {
    std::error_code typeError;
    if (entry.is_directory(typeError)) continue;
    const std::string name = entry.path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    const std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot - 1 != 3) continue;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "kwk") names.push_back(name);
  }
  if (names.empty()) return std::string();
  std::sort(names.begin(), names.end());
  return names.front();
}

std::string KwChooseInstallDrive(const std::vector<KwDriveRoot>& drives) {
  for (auto it = drives.rbegin(); it != drives.rend(); ++it) {
    if (it->fixed) return it->root;
  }
  return drives.empty() ? std::string() : drives.front().root;
}

std::string KwDefaultInstallFolder(const std::string& driveRoot) {
  return driveRoot + "tarnwickinst";
}
