#include "MsgBox/kwpagequery.h"

#include <cstring>

#include "MsgBox/kwpageversions.h"
#include "main/kwglobals.h"
#include "platform/kwdrives.h"
#include "platform/kwregistry.h"
#include "tool/http/kwdownloadutil.h"
#include "tool/http/kwvolumename.h"

std::string KwDefaultInstallPath() {
  std::vector<KwDriveRoot> roots;
  for (const KwDrive& drive : KwListDrives()) {
    roots.push_back({drive.root, drive.type == KwDriveType::Fixed});
  }
  const std::string drive = KwChooseInstallDrive(roots);

  KwRegKey key;
  if (KwRegKey::Open(KwHive::CurrentUser, "SOFTWARE\\kws\\Tarnwick", kKwRegRead, &key) ==
      kKwRegOk) {
    std::string value;
    if (key.GetString("InstallPath", &value) == kKwRegOk && !value.empty() &&
        value.size() < static_cast<size_t>(kFolderSize)) {
      return value;
    }
  }
  return KwDefaultInstallFolder(drive);
}

void KwRunServerQuery(CKWDownloadUtilFor* util, const std::string& installPath,
                      KwServerQueryResult* out) {
  char version[kVersionTextSize] = {};
  std::vector<PackageEntry> entries;
  out->status = util->GetVersion(version, sizeof version, entries);
  if (out->status == CKWDownloadUtilFor::kReleaseRefused) {
    out->refusalKey = KwReleaseVerdictKey(util->refusal());
  }
  if (out->status < 0) return;
  out->status = 0;
  out->version = version;
  out->volumeNames.clear();
  out->volumeBytes = 0;
  for (const PackageEntry& entry : entries) {
    if (entry.length > 0) out->volumeBytes += entry.length;
  }
  // The engine names the volume files itself, after the version and their
  // place in the list; the server's keys play no part.
  for (size_t i = 0; i < entries.size(); ++i) {
    out->volumeNames.push_back(KwLocalVolumeName(version, i));
  }
  out->fresh = !KwHasLeftoverVolume(installPath, out->volumeNames);
}

void KwFillResumeTable(KwResumeEntry* table, int capacity, const std::vector<std::string>& names) {
  if (table == nullptr || capacity <= 0) return;
  int i = 0;
  for (; i < capacity - 1 && i < static_cast<int>(names.size()); ++i) {
    std::memset(&table[i], 0, sizeof table[i]);
    KwCopyText(table[i].name, sizeof table[i].name, names[i].c_str());
  }
  std::memset(&table[i], 0, sizeof table[i]);
}
