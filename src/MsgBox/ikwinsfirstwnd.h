// CIKWInsFirstWnd: the guided first page, the only page of the guided
// installer.
//
// The user picks the display language and a location; Install checks the
// location, then, behind the wait dialog, writes the installer this program
// carries into "<location>/tarnwick_install/twinstaller.exe", puts the
// desktop entry "Tarnwick Installer" to it, starts it and asks the main
// dialog to close (command 2431).  The page installs nothing itself.
//
// Ownership: the main install dialog owns the page for its whole run.  The
// page owns its picture; the carried installer bytes belong to the process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MsgBox/kwpageform.h"
#include "baseview/basectrl/ikwbasewnd.h"

class CKwImageUtil;
class CKwDlgWait;

// Cell IDs of the page's form.
enum KwFirstPageId : int {
  kKwFirstImage = 1001,
  kKwFirstLanguageLabel = 1002,
  kKwFirstLanguage = 1003,
  kKwFirstPathLabel = 2001,
  kKwFirstPath = 2002,
  kKwFirstBrowse = 2003,
  kKwFirstInstall = 4001,
  kKwFirstCancel = 4002,
};

// The page picture as embedded.
inline constexpr const char* kKwFirstPageImage = "pages/firstpage.png";

// Outside effects of the page that tests replace.  Empty functions mean the
// real folder chooser and the platform's detached start.
struct KwFirstPageHooks {
  // Returns the chosen folder, or an empty text when cancelled.
  KwFolderChooser chooseFolder;
  std::function<int32_t(const char* program, const char* folder)> start;
  int settleMs = 500;  // pause between writing the installer and starting it
};
void KwSetFirstPageHooks(KwFirstPageHooks hooks);

class CIKWInsFirstWnd : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit CIKWInsFirstWnd(CIKWBaseDlg* owner = nullptr);
  ~CIKWInsFirstWnd() override;

  // Install, as the button does.  Returns 0 when the installer was written
  // and started, a negative deployment result when that failed, or 1 when
  // the location was refused (the message has been shown).
  int Install();
  // The text of the location box.
  std::string Location();
  // "<location>/tarnwick_install/twinstaller.exe" of the last Install.
  const std::string& TargetPath() const { return target_; }
  const CKwImageUtil* PageImage() const { return image_.get(); }

  // Page hooks.
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void OnCommandId(int command) override;

 private:
  static void DeployJob(void* userData, CKwDlgWait* dialog);
  void Browse();

  std::unique_ptr<CKwImageUtil> image_;
  std::string target_;
  KwPageLanguageList languageList_;
};
