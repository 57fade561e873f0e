// CIKWInstallerFile: the first page of the installer that carries its package
// in its own file (or installs from package files the user picks).
//
// It takes the target folder, checks that a file can be created there (the
// missing folders are made on the way), stores it as the process-wide target
// and asks the main dialog to continue with the install page (35126).  It
// also carries the language switch, which retitles the window (9103), and a
// cancel button that asks the main dialog to close (10001).
//
// Ownership: the main install dialog owns the page for the whole run.  The
// page owns the product emblem it shows and keeps the version name of the
// package appended to the program, read once when it is made.
#pragma once

#include <memory>
#include <string>

#include "MsgBox/kwpageform.h"
#include "baseview/basectrl/ikwbasewnd.h"

// Cell IDs of the page's form; the folder label has no command.
enum KwLocalPageId : int {
  kKwLocalHeadline = 7,
  kKwLocalEmblem = 1000,
  kKwLocalFolderLabel = 1001,
  kKwLocalPath = 1002,
  kKwLocalBrowse = 1003,
  kKwLocalCancel = 1004,
  kKwLocalInstall = 1005,
  kKwLocalLanguage = 1006,
};

class CKwImageUtil;

class CIKWInstallerFile : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit CIKWInstallerFile(CIKWBaseDlg* owner = nullptr);
  ~CIKWInstallerFile() override;

  // Accepts the folder in the path box, as the install button does: shows
  // the message of a refused folder, else sets the target and posts 35126.
  // Returns true when the folder was accepted.
  bool AcceptFolder();
  // Version name of the package carried in the program's file; empty when
  // it carries none.
  const std::string& CarriedVersion() const { return carriedVersion_; }
  // After a successful run the headline says where the product went, so
  // the page that comes back is not mistaken for one still to be used.
  void NoteInstalled(const std::string& folder);
  const std::string& InstalledTo() const { return installedTo_; }

  // Page hooks.
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void OnCommandId(int command) override;

 private:
  // Starts the product just installed (the main button once installed).
  void StartInstalled();
  void Browse();

  std::unique_ptr<CKwImageUtil> emblem_;
  std::string carriedVersion_;
  std::string installedTo_;
  KwPageLanguageList languageList_;
};

// The first "%s" of `pattern` replaced by `value`.  Only that one is filled:
// the text may come from a language file, and is never used as a format.
std::string KwFillOnce(const std::string& pattern, const std::string& value);

// The headline of the page: "CONTINUEINSTALL" while an installation is
// under way, else `newVersionText` (the "IKW_ID7" text) filled with the
// carried version, without the blank an empty version would leave.
std::string KwLocalHeadline(int32_t installStage, const std::string& continueText,
                            const std::string& newVersionText, const std::string& version);
