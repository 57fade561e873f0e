// CKWinstaller: the install page, the page of the install engine.
//
// The user sees it from pressing the install link until the installation
// ends: the target folder with the disk-space requirement, the agreement
// switch with the licence link, the start/pause and cancel buttons, the
// product pictures shown in turn, the progress bar, the percentage, the
// download speed and the name of the file being unpacked.
//
// Ownership: the main install dialog creates one page per visit and deletes
// it when the engine reports the end of the run (commands 832/833).  The page
// owns its engine (whose threads the engine joins before it goes away), its
// picture pack and its fonts; the engine talks back only through the owner
// interface below, which queues everything for the window thread.
#pragma once

#include <QElapsedTimer>
#include <functional>
#include <memory>
#include <string>

#include "MsgBox/engine/ikwinstallerdownloadstart.h"
#include "MsgBox/engine/kwengineowner.h"
#include "MsgBox/kwpageform.h"
#include "baseview/basectrl/ikwbasewnd.h"

class CIKWLogoDataMake;
class IKWEngineDisk;

// Cell IDs of the page's form.
enum KwInstallPageId : int {
  kKwInstLogo = 101,
  kKwInstStart = 102,
  kKwInstCancel = 103,
  kKwInstAgree = 104,
  kKwInstAgreeText = 105,
  kKwInstLanguage = 106,
  kKwInstFolderLabel = 107,
  kKwInstPath = 108,
  kKwInstBrowse = 109,
  kKwInstDiskLine = 110,
  kKwInstPrivacy = 113,
  kKwInstSpare1 = 114,
  kKwInstSpare2 = 115,
};

// The maker's privacy-policy page, and the licence agreement that the
// licence link ("USER LICENSE AGREEMENT") opens.
inline constexpr const char* kKwPrivacyUrl = "https://www.kws-tarnwick.com/portal/privacy.html";
inline constexpr const char* kKwLicenceUrl = "https://www.kws-tarnwick.com/portal/license.html";

// Outside effects of the page that tests replace: the folder chooser and the
// browser.  Empty functions mean the real ones.
struct KwInstallPageHooks {
  // Returns the chosen folder, or an empty text when cancelled.
  std::function<std::string(QWidget* parent, const std::string& start)> chooseFolder;
  std::function<void(const char* url)> openUrl;
  // The disk measure the page's engine uses; null means the platform's.
  // Not owned; it must outlive every page made while it is set.
  IKWEngineDisk* disk = nullptr;
};
void KwSetInstallPageHooks(KwInstallPageHooks hooks);
// The folder chooser of the installer pages ("please choose a folder"), or
// the hooked one; returns the chosen folder or an empty text.
std::string KwChooseInstallFolder(QWidget* parent, const std::string& start);

class CKWinstaller : public CIKWBaseWnd, public IKWInstallEngineOwner {
  Q_OBJECT

 public:
  explicit CKWinstaller(CIKWBaseDlg* owner = nullptr);
  ~CKWinstaller() override;

  // Empty: the install server; "^": the package appended to the installer;
  // any other text: the first local volume.
  void SetPackageSource(const char* source);
  // Start run, as the start button does: reads the agreement box and the
  // path box, shows the message of a refused start.  Returns StartRun's result.
  int StartRun();

  CKWInstallEngine& Engine() { return *engine_; }
  const std::string& ChosenFolder() const { return chosenFolder_; }
  // Index of the picture on show (0..2).
  int LogoIndex() const { return logoIndex_; }
  // The line painted under the picture: the file being unpacked, the lost
  // connection and its retry, or what was installed where.
  std::string StatusText() const;
  // The progress text right of the bar (empty when none is painted).
  std::string ProgressText() const;

  // Page hooks.
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void DrawLineFront(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                     int height) override;
  void OnCommandId(int command) override;
  void KwOnRefreshTimer() override;
  // Adds the progress bar, the progress and speed texts and the status line,
  // which the page draws without cells.
  void DescribeAccessible(std::vector<KwAccItem>* items) override;

  // Engine owner interface (called on the engine's threads).
  void EngineRepaint() override;
  void EnginePostCommand(int command) override;
  void EngineMessage(const char* key) override;

 private:
  void Browse();
  void MeasureDisk();
  // Measures again when the path box holds a folder not measured yet.
  void FollowTypedFolder();
  bool Finished() const;

  std::unique_ptr<CKWInstallEngine> engine_;
  std::unique_ptr<CIKWLogoDataMake> logos_;
  std::string chosenFolder_;
  int logoIndex_ = 0;
  int logoDrawn_ = -1;  // index of the picture last painted
  bool folderRowShown_ = true;
  bool serverSource_ = true;    // volumes come from the install server
  int shownEstimate_ = 0;       // the update estimate's state last painted
  std::string measuredFolder_;  // the folder the disk line speaks of
  QElapsedTimer logoClock_;
  KwPageLanguageList languageList_;  // run mode 5 only
};

// Numbers of the drawn parts in the page's screen-reader description.
inline constexpr int kKwInstProgressBarItem = 9001;
inline constexpr int kKwInstSpeedItem = 9002;
inline constexpr int kKwInstStatusItem = 9003;
