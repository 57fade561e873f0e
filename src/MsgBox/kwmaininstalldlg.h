// CKWMainInstallDlg: the one top-level window of the installer.
//
// A skinned dialog that holds one page at a time, filling the area below its
// caption: the page of the run mode and, while an installation runs, the
// install page.  It draws no content itself; it routes the command numbers
// that the pages and the install engine post to it, swaps the install page
// in and out, asks before quitting while a download is on, and ends the
// modal loop that start-up runs.
//
// Ownership: start-up owns the dialog for the whole run.  The dialog owns
// every page it creates (as Qt children it deletes itself); the install page
// is made on each start of an installation and deleted when the engine
// reports the end of the run.
#pragma once

#include <functional>
#include <string>

#include "baseview/ikwbasedlg.h"

class CIKWBaseWnd;
class CIKWInstallerBkg;
class CIKWMakePkgWnd;
class CIKWInstallerFile;
class CKWinstaller;

// Child control IDs of the pages.
inline constexpr int kKwModePageId = 1010;
inline constexpr int kKwInstallPageId = 1011;

class CKWMainInstallDlg : public CIKWBaseDlg {
  Q_OBJECT

 public:
  explicit CKWMainInstallDlg(QWidget* parent = nullptr);
  ~CKWMainInstallDlg() override;

  // Shows the install page with the given package source (null: empty).
  void StartEngine(const char* packagePath);
  // Removes the install page and returns to the version page.
  void EndEngine();

  CIKWInstallerBkg* OnlinePage() const { return onlinePage_; }
  CIKWInstallerFile* LocalPage() const { return localPage_; }
  CKWinstaller* InstallPage() const { return installPage_; }
  // The guided installer's only page (null in the other run modes).
  CIKWBaseWnd* FirstPage() const { return firstPage_; }
  // The package maker's only page (null in the other run modes).
  CIKWMakePkgWnd* MakePackageWnd() const { return makePackageWnd_; }
  bool InstallPageShown() const { return installPageShown_ != 0; }
  // How many install pages this dialog has made; each visit makes a new one.
  int InstallPagesMade() const { return installPagesMade_; }
  // The area pages fill: below the caption band, clear of the resize edges.
  KwRect PageRect() const;

 protected:
  void IKW_OnInitDialog() override;
  void IKW_OnSize(int width, int height) override;
  void IKW_OnLButtonUp(int flags, const KwPoint& point) override;
  void IKW_OnCommand(int command) override;

 private:
  // An installation ended complete: the product's settings and the pages.
  void NoteInstallDone();
  void ShowInstallPage(const char* source);
  void AskExit();
  void CloseDialog();
  void ReloadTitle();
  void ChooseLocalPackage();
  void StartLocalTarget();
  void OfferStartProduct();

  int installPageShown_ = 0;
  int reserved1_ = 0;
  int reserved2_ = 0;
  CIKWInstallerBkg* onlinePage_ = nullptr;
  CIKWInstallerFile* localPage_ = nullptr;
  CKWinstaller* installPage_ = nullptr;
  CIKWMakePkgWnd* makePackageWnd_ = nullptr;
  CIKWBaseWnd* firstPage_ = nullptr;
  int installPagesMade_ = 0;
};

// The open-file dialog that picks a package volume for command 35126 when no
// target folder was chosen; tests replace it.  Returns the chosen path, or
// an empty text when cancelled.  An empty function means the real dialog.
using KwPackageFileChooser = std::function<std::string(QWidget* parent)>;
void KwSetPackageFileChooser(KwPackageFileChooser chooser);

// The dialog of this process while it runs, else null.
extern CKWMainInstallDlg* g_mainDialog;

// Start-up's hook: constructs the main dialog (smallest size 800 x 600),
// makes it the process's main dialog, runs it modally and returns after it
// has closed.  Returns the dialog's result code.
int KwRunMainInstallDlg();
