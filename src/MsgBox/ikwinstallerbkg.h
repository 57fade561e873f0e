// CIKWInstallerBkg: the online version page, the first page of the online
// installer.
//
// When its window is created it asks the install server, on a thread of its
// own, for the current version and its volumes, settles the default install
// folder and notices volumes of an earlier download.  It offers the link
// that starts the installation ("New version %s", or the continuation of an
// earlier one), the installed version with a button that starts it, and the
// language switch.
//
// Ownership: the main install dialog owns the page for its whole run.  The
// page owns its emblem picture, its resume table (read by the install engine
// during runs, so it outlives every install page) and its query thread,
// which it stops and joins when it is destroyed.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MsgBox/engine/kwengineresume.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpagequery.h"
#include "baseview/basectrl/ikwbasewnd.h"

class CKwImageUtil;

// Cell IDs of the page's form, and the commands it handles.
enum KwOnlinePageId : int {
  kKwOnlineEmblem = 3100,
  kKwOnlineVersionLabel = 4,
  kKwOnlineVersionList = 5,
  kKwOnlineOpen = 6,
  kKwOnlineInstallLink = 7,
  kKwOnlineNotice = 8,  // the server cannot be reached; what was just installed
  kKwOnlineLanguage = 912,
  kKwOnlineLocalInstall = 914,
  kKwOnlineInstallRequest = 9009,
};

class CIKWInstallerBkg : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit CIKWInstallerBkg(CIKWBaseDlg* owner = nullptr);
  ~CIKWInstallerBkg() override;

  // Runs the version scan again and refills the version list (after an
  // installation ended).
  void ReFlushVersion();

  // The table the install engine reads for volumes it streams from the
  // server; kKwResumeEntries entries, ended by an empty name.
  const KwResumeEntry* ResumeTable() const { return resume_.data(); }
  const std::vector<std::string>& InstalledVersions() const { return versions_; }
  bool QueryBusy() const { return busy_.load(); }
  bool Fresh() const { return fresh_.load(); }
  // Number of server queries that have finished (answered or failed).
  int QueriesDone() const { return queriesDone_.load(); }
  // The summed length of the volumes the server listed (0 until it answered).
  int64_t ReleaseBytes() const { return releaseBytes_.load(); }
  // The first question went unanswered but versions are installed: the
  // page stays, says so and keeps Open working.
  bool ServerUnreachable() const { return unreachable_; }
  // An installation of `version` into `folder` has just finished: the page
  // says so and offers Open rather than the same version again.
  void NoteInstalled(const std::string& folder, const std::string& version);

  // Page hooks.
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void OnCommandId(int command) override;
  void KwOnCreate() override;

 private:
  void ScanVersions();
  void FillVersionList(CKWOneLineForm* line);
  void StartServerQuery();
  void RunServerQuery();
  void ApplyServerQuery(const std::string& folder, const KwServerQueryResult& result);
  void StartSelectedVersion();

  std::unique_ptr<CKwImageUtil> emblem_;
  std::vector<KwResumeEntry> resume_;
  std::vector<std::string> versions_;
  std::atomic<bool> busy_{false};
  std::atomic<bool> fresh_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<int> queriesDone_{0};
  std::atomic<int64_t> releaseBytes_{0};
  bool unreachable_ = false;     // window thread
  std::string installedFolder_;  // window thread: set by NoteInstalled
  std::string installedVersion_;
  std::string refusalKey_;  // window thread: why the server's release was refused
  std::thread query_;
  KwPageLanguageList languageList_;
};

// The online page of this process, or null; read by the install page for
// the resume table.  Set while the page exists.
extern CIKWInstallerBkg* g_onlinePage;
