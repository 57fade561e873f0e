#include "MsgBox/ikwinstallerbkg.h"

#include <QPainter>
#include <cstdio>
#include <cstring>

#include "MsgBox/kwmaininstalldlg.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpagelaunch.h"
#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagequery.h"
#include "MsgBox/kwpagerules.h"
#include "MsgBox/kwpagetext.h"
#include "MsgBox/kwpageversions.h"
#include "baseutil/ikwlog.h"
#include "baseview/kwcommand.h"
#include "images/kwembedded.h"
#include "images/kwimageutil.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "tool/http/kwdownloadutil.h"

CIKWInstallerBkg* g_onlinePage = nullptr;

namespace {

constexpr KwColor kBlue = 0xF66D59;
constexpr KwColor kWhite = 0xFFFFFF;
constexpr KwColor kSilver = 0xC0C0C0;
constexpr KwColor kPageBackground = 0x121212;

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

bool AbortQuery(void* context) {
  return static_cast<std::atomic<bool>*>(context)->load();
}

}  // namespace

CIKWInstallerBkg::CIKWInstallerBkg(CIKWBaseDlg* owner)
    : CIKWBaseWnd(owner), emblem_(std::make_unique<CKwImageUtil>()), resume_(kKwResumeEntries) {
  if (const KwEmbeddedImage* art = KwFindEmbeddedImage("pages/tarnwick-emblem.png")) {
    emblem_->Decode(art->bytes, art->count);
  }
  std::memset(resume_.data(), 0, resume_.size() * sizeof(KwResumeEntry));
  g_onlinePage = this;
  g_versionText[0] = '\0';
  SetBackground(true, kPageBackground);
  ScanVersions();
}

CIKWInstallerBkg::~CIKWInstallerBkg() {
  // The query thread writes into this page; end its transfer and wait for it
  // before the page goes away.
  stopping_ = true;
  if (query_.joinable()) query_.join();
  if (g_onlinePage == this) g_onlinePage = nullptr;
}

void CIKWInstallerBkg::ScanVersions() {
  versions_ = KwScanInstalledVersions(g_installPath);
}

void CIKWInstallerBkg::ReFlushVersion() {
  ScanVersions();
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns() && LineCount() > 0) FillVersionList(GetLine(0));
  }
  KW_LOG(4, "CIKWInstallerBkg::ReFlushVersion", "======");
  RequestRepaint();
}

void CIKWInstallerBkg::FillVersionList(CKWOneLineForm* line) {
  CKWBaseViewObject* cell = line->GetCell(kKwOnlineVersionList);
  if (cell == nullptr) return;
  CSfDrawComboBox* box = cell->ComboBox();
  box->Clear();
  if (versions_.empty()) {
    box->AddItem(Text("noversion"));
  } else {
    for (const std::string& v : versions_) box->AddItem(v);
  }
  box->Select(box->ItemCount() - 1);
}

void CIKWInstallerBkg::CreateAllLineFromData() {
  auto line = std::make_unique<CKWOneLineForm>(height() > 0 ? height() : 600);
  CKWBaseViewObject* emblem = line->NewCell(kKwOnlineEmblem, kKwCellImage);
  emblem->image = emblem_.get();
  emblem->textAlign = 1;  // keep the emblem round whatever the rectangle
  emblem->drawBackground = false;

  CKWBaseViewObject* label = line->NewCell(kKwOnlineVersionLabel, kKwCellText);
  label->fontSize = 16;
  label->drawBackground = false;

  CKWBaseViewObject* list = line->NewCell(kKwOnlineVersionList, kKwCellCombo);
  list->fontSize = 16;

  CKWBaseViewObject* open = line->NewCell(kKwOnlineOpen, kKwCellButton);
  open->fontSize = 14;
  open->bkColor = kBlue;
  open->textColor = kWhite;
  open->cornerRadius = 8;
  open->textAlign = 1;

  CKWBaseViewObject* link = line->NewCell(kKwOnlineInstallLink, kKwCellText);
  link->fontSize = 16;
  link->textColor = kBlue;
  link->drawBackground = false;

  CKWBaseViewObject* language = line->NewCell(kKwOnlineLanguage, kKwCellCombo);
  language->fontSize = 14;
  languageList_.Attach(this, language);

  CKWBaseViewObject* notice = line->NewCell(kKwOnlineNotice, kKwCellText);
  notice->fontSize = 14;
  notice->textColor = kSilver;
  notice->drawBackground = false;
  notice->visible = false;

  FillVersionList(line.get());
  AppendLine(std::move(line));
}

void CIKWInstallerBkg::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  const KwOnlineLayout l = KwLayoutOnlinePage(left, top, width, height);
  KwPlaceCell(line, kKwOnlineEmblem, l.emblem);
  KwPlaceCell(line, kKwOnlineLanguage, l.language);
  KwPlaceCell(line, kKwOnlineVersionLabel, l.versionLabel);
  KwPlaceCell(line, kKwOnlineVersionList, l.versionList);
  KwPlaceCell(line, kKwOnlineOpen, l.openButton);
  KwPlaceCell(line, kKwOnlineInstallLink, l.installLink);
  // The notice takes the width of the version row under the install link.
  KwPlaceCell(line, kKwOnlineNotice,
              KwRect{l.versionLabel.left, l.installLink.top + 40, l.openButton.right,
                     l.installLink.top + 64});
}

void CIKWInstallerBkg::DrawLineBack(QPainter*, CKWOneLineForm* line, int, int, int, int) {
  languageList_.Refresh(line, kKwOnlineLanguage);
  if (CKWBaseViewObject* c = line->GetCell(kKwOnlineVersionLabel)) c->text = Text("IKW_ID4");
  if (CKWBaseViewObject* c = line->GetCell(kKwOnlineVersionList)) {
    c->text = Text("IKW_ID4");
    // The "No version" item follows the display language too.
    if (versions_.empty()) FillVersionList(line);
  }
  if (CKWBaseViewObject* c = line->GetCell(kKwOnlineOpen)) {
    c->text = Text("IKW_ID6");
    c->visible = !versions_.empty();
  }
  // What was just installed, or that the server is out of reach; the
  // install link hides while it would only offer the installed version
  // again, or nothing at all.
  const bool justInstalled = !installedFolder_.empty() && g_installStage.load() == 0;
  bool linkShown = true;
  if (CKWBaseViewObject* c = line->GetCell(kKwOnlineNotice)) {
    c->visible = justInstalled || unreachable_;
    if (justInstalled) {
      c->text = KwFormatText(Text("installdone"), installedVersion_, installedFolder_);
      c->textColor = kWhite;
      linkShown = installedVersion_ != g_versionText;
    } else if (unreachable_) {
      c->text = Text("serverunreachable");
      c->textColor = kSilver;
      linkShown = g_versionText[0] != '\0' || g_installStage.load() == 1;
    }
  }
  if (CKWBaseViewObject* c = line->GetCell(kKwOnlineInstallLink)) {
    c->visible = linkShown;
    if (g_installStage.load() == 1) {
      c->text = Text("CONTINUEINSTALL");
    } else {
      char buffer[512];
      char version[kVersionTextSize];
      KwCopyText(version, sizeof version, g_versionText);
      std::snprintf(buffer, sizeof buffer, Text("IKW_ID7"), version);
      c->text = buffer;
    }
  }
}

void CIKWInstallerBkg::OnCommandId(int command) {
  switch (command) {
    case kKwOnlineOpen:
      StartSelectedVersion();
      break;
    case kKwOnlineInstallLink:
    case kKwOnlineInstallRequest:
      PostToOwner(kCmdStartOnline);
      break;
    case kKwOnlineLocalInstall:
      PostToOwner(kCmdStartLocal);
      break;
    case kCmdServerUnreachable:
      // The designed English texts, and their Chinese for the Chinese user.
      KwPageMessage(this, Text("cannotconnect"), Text("error"));
      PostToOwner(kCmdQuit);
      break;
    case kCmdReleaseRefused:
      // Nothing was offered for download; the user learns why and the
      // installer closes as it does when the server cannot be reached.
      KwPageMessage(this, Text(refusalKey_.c_str()), Text("prompt"));
      PostToOwner(kCmdQuit);
      break;
    case kCmdRefreshVersions:
      StartServerQuery();
      break;
    default:
      break;
  }
}

void CIKWInstallerBkg::KwOnCreate() {
  // The beside-package installer keeps this page hidden and installs from
  // the volume next to it; asking a server it does not need would close it
  // whenever that server is out of reach.
  if (g_runMode == static_cast<int32_t>(RunMode::BesidePackage)) return;
  StartServerQuery();
}

void CIKWInstallerBkg::StartServerQuery() {
  bool expected = false;
  if (!busy_.compare_exchange_strong(expected, true)) return;  // one query at a time
  if (query_.joinable()) query_.join();  // the previous one has ended: busy was clear
  query_ = std::thread([this] { RunServerQuery(); });
}

void CIKWInstallerBkg::RunServerQuery() {
  KW_LOG(4, "CIKWInstallerBkg::togetver", "======");
  const std::string folder = KwDefaultInstallPath();
  CKWDownloadUtilFor util;
  util.SetAbortCheck(&AbortQuery, &stopping_);
  KwServerQueryResult result;
  KwRunServerQuery(&util, folder, &result);
  if (result.status < 0) {
    KW_LOG(4, "CIKWInstallerBkg::togetver", "version query failed: %d", result.status);
  }
  // The process-wide texts and the install stage are read by painting and
  // by the engine; they are written on the window thread only, so no reader
  // ever sees half a text.  A page destroyed meanwhile drops the call.
  QMetaObject::invokeMethod(
      this, [this, folder, result] { ApplyServerQuery(folder, result); }, Qt::QueuedConnection);
}

void CIKWInstallerBkg::ApplyServerQuery(const std::string& folder,
                                        const KwServerQueryResult& result) {
  g_onlinePage = this;
  // While an installation is under way its folder, stage and table belong
  // to the engine; an answer arriving then only updates the version text.
  const auto* dialog = dynamic_cast<const CKWMainInstallDlg*>(GetOwnerDlg());
  const bool installing = dialog != nullptr && dialog->InstallPageShown();
  if (!installing) KwCopyText(g_installPath, kFolderSize, folder.c_str());
  const bool first = queriesDone_++ == 0;
  // The folder may have been settled just now: look for versions there.
  if (result.status < 0 && first) ScanVersions();
  if (result.status < 0 && first && !versions_.empty()) {
    // A user with the product installed may only want to open it: the page
    // stays with its versions and says that the server cannot be reached.
    // A later question (command 9104) may try again.
    KW_LOG(4, "CIKWInstallerBkg::togetver", "server unreachable; %d versions installed",
           static_cast<int>(versions_.size()));
    unreachable_ = true;
    busy_ = false;
    ReFlushVersion();
    return;
  }
  if (result.status < 0 && first) {
    // Without the first answer there is nothing to offer: the page closes
    // the installer.  The query stays marked busy so nothing asks again
    // while the message is up.
    refusalKey_ = result.refusalKey;
    KwPostCommand(this, result.refusalKey.empty() ? kCmdServerUnreachable : kCmdReleaseRefused);
    return;
  }
  if (result.status < 0) {
    // A later question (the refresh after an installation) that fails
    // leaves the window as it is, with the versions found on disk.
    KW_LOG(4, "CIKWInstallerBkg::togetver", "refresh failed (%d); the page keeps its versions",
           result.status);
    busy_ = false;
    ReFlushVersion();
    return;
  }
  KwCopyText(g_versionText, kVersionTextSize, result.version.c_str());
  unreachable_ = false;
  releaseBytes_ = result.volumeBytes;
  if (!installing) {
    fresh_ = result.fresh;
    g_installStage = result.fresh ? 0 : 1;
    if (!result.fresh) KwFillResumeTable(resume_.data(), kKwResumeEntries, result.volumeNames);
  }
  // Unlike a query that failed, an answered one frees the page for the next
  // (command 9104 after an installation), so the label and the continue
  // state follow what is on disk then.
  busy_ = false;
  // The folder may differ from the one scanned at construction (no stored
  // install path then); list what lies in the folder now in use.
  ReFlushVersion();
}

void CIKWInstallerBkg::NoteInstalled(const std::string& folder, const std::string& version) {
  installedFolder_ = folder;
  installedVersion_ = version;
  RequestRepaint();
}

void CIKWInstallerBkg::StartSelectedVersion() {
  if (versions_.empty()) return;
  int versionIndex = static_cast<int>(versions_.size()) - 1;
  bool chinese = IKWLang::Instance()->CodePage() != 0;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns() && LineCount() > 0) {
      CKWOneLineForm* line = GetLine(0);
      if (CKWBaseViewObject* c = line->GetCell(kKwOnlineVersionList)) {
        const int i = c->ComboBox()->SelectedIndex();
        if (i >= 0 && i < static_cast<int>(versions_.size())) versionIndex = i;
      }
      if (CKWBaseViewObject* c = line->GetCell(kKwOnlineLanguage)) {
        chinese = c->ComboBox()->SelectedIndex() == 1;
      }
    }
  }
  KwStartInstalledVersion(g_installPath, versions_[versionIndex], chinese);
}
