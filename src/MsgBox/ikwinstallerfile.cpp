#include "MsgBox/ikwinstallerfile.h"

#include <QTimer>
#include <cstdio>

#include "MsgBox/desktop/kwfolderprobe.h"
#include "MsgBox/engine/kwenginesource.h"
#include "MsgBox/ikwinstaller.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpagelaunch.h"
#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagequery.h"
#include "MsgBox/kwpagerules.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdraw.h"
#include "images/kwembedded.h"
#include "images/kwimageutil.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"

namespace {

constexpr KwColor kBlue = 0xF66D59;
constexpr KwColor kWhite = 0xFFFFFF;
constexpr KwColor kPageBackground = 0x121212;
constexpr int kTextSize = 14;

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

// A blue button with white text, as on the install page.
CKWBaseViewObject* NewButton(CKWOneLineForm* line, int id, bool blue) {
  CKWBaseViewObject* b = line->NewCell(id, kKwCellButton);
  if (blue) {
    b->bkColor = kBlue;
    b->textColor = kWhite;
  }
  b->cornerRadius = 8;
  b->fontSize = kTextSize;
  b->textAlign = 1;
  return b;
}

}  // namespace

std::string KwFillOnce(const std::string& pattern, const std::string& value) {
  std::string out = pattern;
  const size_t at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

std::string KwLocalHeadline(int32_t installStage, const std::string& continueText,
                            const std::string& newVersionText, const std::string& version) {
  if (installStage != 0) return continueText;
  std::string out = KwFillOnce(newVersionText, version);
  // Without a carried version the place leaves a double or a trailing blank.
  for (size_t at; (at = out.find("  ")) != std::string::npos;) out.erase(at, 1);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

CIKWInstallerFile::CIKWInstallerFile(CIKWBaseDlg* owner)
    : CIKWBaseWnd(owner), emblem_(std::make_unique<CKwImageUtil>()) {
  SetBackground(true, kPageBackground);
  // The emblem of the online page: the two first pages look alike.
  if (const KwEmbeddedImage* art = KwFindEmbeddedImage("pages/tarnwick-emblem.png")) {
    emblem_->Decode(art->bytes, art->count);
  }
  KwFindAppendedPackage(g_exePath, &carriedVersion_);
}

CIKWInstallerFile::~CIKWInstallerFile() = default;

void CIKWInstallerFile::NoteInstalled(const std::string& folder) {
  installedTo_ = folder;
  RequestRepaint();
}

void CIKWInstallerFile::CreateAllLineFromData() {
  auto line = std::make_unique<CKWOneLineForm>(height() > 0 ? height() : 600);
  CKWBaseViewObject* emblem = line->NewCell(kKwLocalEmblem, kKwCellImage);
  emblem->image = emblem_.get();
  emblem->textAlign = 1;  // keep the emblem round whatever the rectangle
  emblem->drawBackground = false;

  CKWBaseViewObject* language = line->NewCell(kKwLocalLanguage, kKwCellCombo);
  language->fontSize = kTextSize;
  languageList_.Attach(this, language);

  CKWBaseViewObject* headline = line->NewCell(kKwLocalHeadline, kKwCellText);
  headline->fontSize = kTextSize;
  headline->textColor = kBlue;
  headline->drawBackground = false;

  CKWBaseViewObject* label = line->NewCell(kKwLocalFolderLabel, kKwCellText);
  label->fontSize = kTextSize;
  label->drawBackground = false;

  CKWBaseViewObject* path = line->NewCell(kKwLocalPath, kKwCellEdit);
  path->fontSize = kTextSize;
  path->borderWidth = 0;
  path->text = KwDefaultInstallPath();

  NewButton(line.get(), kKwLocalBrowse, true);
  NewButton(line.get(), kKwLocalCancel, false);
  NewButton(line.get(), kKwLocalInstall, true);
  AppendLine(std::move(line));
}

void CIKWInstallerFile::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  const KwLocalLayout l = KwLayoutLocalPage(left, top, width, height,
                                            KwMeasureText(kTextSize, Text("IKW_LOCAL_INSTALL")));
  KwPlaceCell(line, kKwLocalEmblem, l.emblem);
  KwPlaceCell(line, kKwLocalLanguage, l.language);
  KwPlaceCell(line, kKwLocalHeadline, l.headline);
  KwPlaceCell(line, kKwLocalFolderLabel, l.folderLabel);
  KwPlaceCell(line, kKwLocalPath, l.pathBox);
  KwPlaceCell(line, kKwLocalBrowse, l.browseButton);
  KwPlaceCell(line, kKwLocalCancel, l.cancelButton);
  KwPlaceCell(line, kKwLocalInstall, l.installButton);
}

void CIKWInstallerFile::DrawLineBack(QPainter*, CKWOneLineForm* line, int left, int top, int right,
                                     int height) {
  languageList_.Refresh(line, kKwLocalLanguage);
  // Once installed the page reports where, and its main button starts the
  // product instead of offering the same installation again.
  const bool installed = g_installStage.load() == 0 && !installedTo_.empty();
  if (CKWBaseViewObject* c = line->GetCell(kKwLocalHeadline)) {
    const int32_t stage = g_installStage.load();
    // This installer installs from the package it carries; nothing is
    // downloaded, so the online installer's "download and install" would
    // promise the wrong thing.
    c->text = installed ? KwFillOnce(Text("installedto"), installedTo_)
                        : KwLocalHeadline(stage, Text("CONTINUEINSTALL"), Text("IKW_LOCAL_ID7"),
                                          carriedVersion_);
  }
  bool rowChanged = false;
  for (int id : {kKwLocalFolderLabel, kKwLocalPath, kKwLocalBrowse}) {
    if (CKWBaseViewObject* c = line->GetCell(id)) {
      rowChanged = rowChanged || c->visible == installed;
      c->visible = !installed;
    }
  }
  if (rowChanged) QTimer::singleShot(0, this, [this] { PlaceEditControls(); });
  if (CKWBaseViewObject* c = line->GetCell(kKwLocalFolderLabel)) c->text = Text("selectpath");
  if (CKWBaseViewObject* c = line->GetCell(kKwLocalBrowse)) c->text = Text("openf");
  if (CKWBaseViewObject* c = line->GetCell(kKwLocalCancel)) c->text = Text("cancel");
  if (CKWBaseViewObject* c = line->GetCell(kKwLocalInstall)) {
    c->text = Text(installed ? "IKW_ID6" : "IKW_LOCAL_INSTALL");
    // The text differs in width between the languages.
    const KwLocalLayout l = KwLayoutLocalPage(left, top, right - left, height,
                                              KwMeasureText(kTextSize, c->text.c_str()));
    c->SetRect(l.installButton.left, l.installButton.top, l.installButton.Width(),
               l.installButton.Height());
    if (CKWBaseViewObject* cancel = line->GetCell(kKwLocalCancel)) {
      cancel->SetRect(l.cancelButton.left, l.cancelButton.top, l.cancelButton.Width(),
                      l.cancelButton.Height());
    }
  }
}

void CIKWInstallerFile::OnCommandId(int command) {
  switch (command) {
    case kKwLocalBrowse:
      Browse();
      break;
    case kKwLocalCancel:
      PostToOwner(kCmdExitRequest);
      break;
    case kKwLocalInstall:
      if (g_installStage.load() == 0 && !installedTo_.empty()) {
        StartInstalled();
      } else {
        AcceptFolder();
      }
      break;
    default:
      break;
  }
}

void CIKWInstallerFile::StartInstalled() {
  const size_t cut = installedTo_.find_last_of('/');
  if (cut == std::string::npos) return;
  KwStartInstalledVersion(installedTo_.substr(0, cut), installedTo_.substr(cut + 1),
                          IKWLang::Instance()->CodePage() != 0);
}

void CIKWInstallerFile::Browse() {
  std::string start;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* edit = FindCell(kKwLocalPath)) start = edit->text;
    }
  }
  const std::string chosen = KwChooseInstallFolder(this, start);
  if (chosen.empty()) return;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* edit = FindCell(kKwLocalPath)) {
        edit->text = chosen;
        if (IKwCellEditor* editor = edit->Editor()) editor->SetText(chosen);
      }
    }
  }
  OnCommand(kKwCmdRefreshRows);
  RequestRepaint();
}

bool CIKWInstallerFile::AcceptFolder() {
  PullEditTexts();
  std::string folder;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* edit = FindCell(kKwLocalPath)) folder = edit->text;
    }
  }
  if (folder.empty()) {
    KwPagePrompt(this, "pleaseinputtopath");
    return false;
  }
  folder = KwTrimFolder(folder);
  // The target must fit the process-wide buffer whole; a cut path would
  // install somewhere the user never named.
  if (folder.size() >= kFolderSize || !KwProbeFolder(folder)) {
    KwPagePrompt(this, "invalidpath2");
    return false;
  }
  KwCopyText(g_targetDir, kFolderSize, folder.c_str());
  PostToOwner(kCmdStartLocal);
  return true;
}
