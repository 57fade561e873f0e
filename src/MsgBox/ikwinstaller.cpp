#include "MsgBox/ikwinstaller.h"

#include <sys/stat.h>

#include <QPainter>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "MsgBox/ikwinstallerbkg.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpagelayout.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "MsgBox/kwpagetext.h"
#include "baseview/ikwbasedlg.h"
#include "baseview/kwdraw.h"
#include "images/ikwlogodatamake.h"
#include "images/kwembedded.h"
#include "images/kwimageutil.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "platform/kwprocess.h"

namespace {

constexpr KwColor kBlue = 0xF66D59;
constexpr KwColor kWhite = 0xFFFFFF;
constexpr KwColor kRed = 0x0000FF;
constexpr KwColor kSilver = 0xC0C0C0;
constexpr KwColor kGrey = 0x808080;
constexpr KwColor kPageBackground = 0x252525;
constexpr int kLogoPeriodMs = 2500;
constexpr int kLogoCount = 3;

std::mutex g_hooksMutex;
KwInstallPageHooks g_hooks;

IKWEngineDisk* HookedDisk() {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  return g_hooks.disk;
}

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

// The three product pictures as one record sequence, made once per process.
const std::vector<uint8_t>& LogoRecords() {
  static const std::vector<uint8_t> records = [] {
    std::vector<std::pair<const uint8_t*, int>> items;
    for (const char* name : {"pages/logo1.png", "pages/logo2.png", "pages/logo3.png"}) {
      if (const KwEmbeddedImage* art = KwFindEmbeddedImage(name)) {
        items.emplace_back(art->bytes, art->count);
      }
    }
    return CIKWLogoDataMake::PackRecords(items);
  }();
  return records;
}

void Place(CKWOneLineForm* line, int id, const KwRect& r) {
  if (CKWBaseViewObject* cell = line->GetCell(id)) {
    cell->SetRect(r.left, r.top, r.Width(), r.Height());
  }
}

}  // namespace

void KwSetInstallPageHooks(KwInstallPageHooks hooks) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_hooks = std::move(hooks);
}

CKWinstaller::CKWinstaller(CIKWBaseDlg* owner)
    : CIKWBaseWnd(owner), engine_(std::make_unique<CKWInstallEngine>(this, HookedDisk())) {
  SetBackground(true, kPageBackground);
  // Enter starts (or pauses) the download; Escape is the cancel button.
  SetKeyButtons(kKwInstStart, kKwInstCancel);
  // A pause left over from an earlier page would start this run held.
  g_pauseState = 0;
  if (g_onlinePage != nullptr) {
    engine_->SetResumeTable(g_onlinePage->ResumeTable());
    // The disk line speaks of this release once the server has listed it.
    engine_->SetReleaseBytes(g_onlinePage->ReleaseBytes());
  }
  const std::vector<uint8_t>& records = LogoRecords();
  logos_ = std::make_unique<CIKWLogoDataMake>(records.data(), records.size(), kLogoCount);
  logos_->Start();
  logoClock_.start();
}

CKWinstaller::~CKWinstaller() {
  // The engine joins its threads here, while the page they report to exists.
  engine_.reset();
}

void CKWinstaller::SetPackageSource(const char* source) {
  engine_->SetPackageSource(source != nullptr ? source : "");
  serverSource_ = source == nullptr || *source == '\0';
  if (!serverSource_) engine_->ProbeUpdate(nullptr);
  // A volume on disk is the release this page installs.
  if (source != nullptr && source[0] != '\0' && std::strcmp(source, "^") != 0) {
    struct stat st;
    if (::stat(source, &st) == 0 && S_ISREG(st.st_mode)) engine_->SetReleaseBytes(st.st_size);
    RequestRepaint();
  }
}

bool CKWinstaller::Finished() const {
  return engine_->RunFinished() && engine_->LastResult() == 0;
}

std::string CKWinstaller::StatusText() const {
  const KwEngineProgress p = engine_->Progress();
  if (p.runActive && !p.runFinished && p.retryAttempt > 0) {
    return KwFormatText(Text("connectionlost"), std::to_string(p.retryAttempt));
  }
  if (Finished()) {
    char version[kVersionTextSize];
    KwCopyText(version, sizeof version, g_versionText);
    return KwFormatText(Text("installdone"), version, std::string(g_installPath));
  }
  // While the download goes on, the file being unpacked beside it says what
  // it is; the run's most disk space in use follows it.
  const int32_t stageNow = g_installStage.load();
  return KwUnpackStatusLine(stageNow == 1 ? Text("unpackingfile") : "", p.statusLine,
                            Text("peakdiskspace"), p.runActive ? p.peakBytes : 0);
}

std::string CKWinstaller::ProgressText() const {
  const KwEngineProgress p = engine_->Progress();
  if (!p.runActive) return std::string();
  KwProgressTexts texts{Text("Preparing"), Text("ondownload"), Text("oninstalling"),
                        Text("alreadydonwloaded"), Text("paused")};
  KwProgressCounters counters;
  counters.installStage = g_installStage.load();
  counters.totalBytes = p.totalBytes;
  counters.doneBytes = p.doneBytes;
  counters.diskFree = p.diskFree;
  counters.diskTotal = p.diskTotal;
  counters.paused = g_pauseState.load() == 2 && counters.installStage == 1;
  counters.finished = Finished();
  return KwProgressLine(texts, counters);
}

void CKWinstaller::CreateAllLineFromData() {
  auto line = std::make_unique<CKWOneLineForm>(height() > 0 ? height() : 600);
  CKWBaseViewObject* logo = line->NewCell(kKwInstLogo, kKwCellText);
  logo->drawBackground = false;

  CKWBaseViewObject* start = line->NewCell(kKwInstStart, kKwCellButton);
  start->bkColor = kBlue;
  start->textColor = kWhite;
  start->cornerRadius = 8;
  start->fontSize = 14;
  start->textAlign = 1;

  CKWBaseViewObject* cancel = line->NewCell(kKwInstCancel, kKwCellButton);
  cancel->cornerRadius = 8;
  cancel->fontSize = 14;
  cancel->textAlign = 1;

  CKWBaseViewObject* agree = line->NewCell(kKwInstAgree, kKwCellCheck);
  agree->style = 100;
  agree->drawBackground = false;
  agree->labelIds = {kKwInstAgreeText, kKwInstPrivacy};

  CKWBaseViewObject* agreeText = line->NewCell(kKwInstAgreeText, kKwCellText);
  agreeText->textColor = kWhite;
  agreeText->drawBackground = false;

  CKWBaseViewObject* privacy = line->NewCell(kKwInstPrivacy, kKwCellText);
  privacy->textColor = kBlue;
  privacy->link = true;
  privacy->drawBackground = false;

  CKWBaseViewObject* disk = line->NewCell(kKwInstDiskLine, kKwCellText);
  disk->drawBackground = false;
  line->NewCell(kKwInstSpare1, kKwCellText)->visible = false;
  line->NewCell(kKwInstSpare2, kKwCellText)->visible = false;

  const bool beside = g_runMode == static_cast<int32_t>(RunMode::BesidePackage);
  if (beside || g_runMode == static_cast<int32_t>(RunMode::Online)) {
    if (beside) {
      // The items follow the table and speak the page's language, as on
      // the other pages; a choice retitles the dialog.
      CKWBaseViewObject* language = line->NewCell(kKwInstLanguage, kKwCellCombo);
      languageList_.Attach(this, language);
    }
    CKWBaseViewObject* label = line->NewCell(kKwInstFolderLabel, kKwCellText);
    label->fontSize = 14;
    label->drawBackground = false;

    CKWBaseViewObject* path = line->NewCell(kKwInstPath, kKwCellEdit);
    path->fontSize = 14;
    path->borderWidth = 0;
    path->labelIds = {kKwInstFolderLabel};
    chosenFolder_ = beside ? g_exeDir : g_installPath;
    path->text = chosenFolder_;

    CKWBaseViewObject* browse = line->NewCell(kKwInstBrowse, kKwCellButton);
    browse->bkColor = kBlue;
    browse->textColor = kWhite;
    browse->cornerRadius = 8;
    browse->fontSize = 14;
    browse->textAlign = 1;
  }
  // The installer with its own package installs where its first page
  // said; the disk line speaks of that folder.
  if (g_runMode == static_cast<int32_t>(RunMode::LocalPackage)) chosenFolder_ = g_targetDir;
  AppendLine(std::move(line));
  // Whenever the folder row shows, its disk line needs a measure; without
  // one the line would warn of a full disk that was never looked at.
  if (!chosenFolder_.empty()) MeasureDisk();
}

void CKWinstaller::MeasureDisk() {
  measuredFolder_ = chosenFolder_;
  engine_->MeasureDisk(chosenFolder_.c_str());
  // What pressing start would download into this folder, shown before it
  // is pressed: an installed version with a kept manifest is updated.
  if (g_runMode == 0 && serverSource_ && !engine_->RunActive())
    engine_->ProbeUpdate(chosenFolder_.c_str());
}

void CKWinstaller::FollowTypedFolder() {
  std::string typed;
  {
    KwViewLockGuard lock(LineListMutex());
    if (!lock.owns()) return;
    CKWBaseViewObject* edit = FindCell(kKwInstPath);
    if (edit == nullptr || !edit->visible) return;
    IKwCellEditor* editor = edit->Editor();
    typed = editor != nullptr ? editor->Text() : edit->text;
  }
  if (typed.empty() || typed == measuredFolder_) return;
  // A folder that does not exist yet is measured on its nearest parent.
  measuredFolder_ = typed;
  if (engine_->MeasureDisk(typed.c_str())) RequestRepaint();
  if (g_runMode == 0 && serverSource_ && !engine_->RunActive()) engine_->ProbeUpdate(typed.c_str());
}

void CKWinstaller::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  const KwInstallLayout l = KwLayoutInstallPage(left, top, width, height);
  Place(line, kKwInstLogo, l.logo);
  Place(line, kKwInstStart, l.startButton);
  Place(line, kKwInstCancel, l.cancelButton);
  Place(line, kKwInstAgree, l.agreeBox);
  Place(line, kKwInstAgreeText, l.agreeText);
  Place(line, kKwInstPrivacy, l.privacyLink);
  Place(line, kKwInstLanguage, l.languageList);
  Place(line, kKwInstFolderLabel, l.folderLabel);
  Place(line, kKwInstPath, l.pathBox);
  Place(line, kKwInstBrowse, l.browseButton);
  Place(line, kKwInstDiskLine, l.diskLine);
}

void CKWinstaller::DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                                int height) {
  const KwEngineProgress p = engine_->Progress();
  KwInstallPageState state;
  state.runMode = g_runMode;
  state.installStage = g_installStage.load();
  state.pauseState = g_pauseState.load();
  state.runActive = p.runActive;
  state.finished = Finished();
  const KwInstallPageControls c = KwRefreshInstallPage(state);

  for (int id : {kKwInstFolderLabel, kKwInstPath, kKwInstBrowse, kKwInstDiskLine}) {
    if (CKWBaseViewObject* cell = line->GetCell(id)) cell->visible = c.folderRowVisible;
  }
  if (folderRowShown_ != c.folderRowVisible) {
    folderRowShown_ = c.folderRowVisible;
    // The path box's native control follows its cell; widgets are not
    // shown or hidden while painting, so right after.
    QTimer::singleShot(0, this, [this] { PlaceEditControls(); });
  }
  languageList_.Refresh(line, kKwInstLanguage);
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstFolderLabel)) cell->text = Text("selectpath");
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstBrowse)) cell->text = Text("openf");
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstDiskLine)) {
    // The line belongs to the folder row; without one (the installer with
    // its own package) it would speak of a folder the page does not show.
    cell->visible = c.folderRowVisible && line->GetCell(kKwInstFolderLabel) != nullptr;
    const int64_t needed = engine_->RequiredSpace();
    const std::string need = KwFormatText(Text("needdiskspace2"), KwSizeText(needed));
    if (KwDiskSpaceLow(p.diskFree, needed)) {
      cell->text = need + " " + Text("noenoughdiskspace");
      cell->textColor = kRed;
    } else {
      cell->text = need;
      cell->textColor = kWhite;
    }
  }
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstStart)) {
    cell->visible = c.startVisible;
    cell->enabled = true;
    cell->text = Text(c.startKey);
    // "Continue Download" is wider than the designed button at this size.
    const KwInstallLayout l = KwLayoutInstallPage(left, top, right - left, height);
    const KwRect r = KwFitButton(l.startButton, KwMeasureText(14, cell->text.c_str()));
    cell->SetRect(r.left, r.top, r.Width(), r.Height());
  }
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstCancel)) {
    cell->visible = c.cancelVisible;
    cell->text = Text("cancel");
  }
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstAgreeText)) {
    cell->text = Text("eula");
    cell->visible = c.agreementVisible;
  }
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstPrivacy)) {
    cell->text = Text("eula1");
    cell->visible = c.agreementVisible;
  }
  if (CKWBaseViewObject* cell = line->GetCell(kKwInstAgree)) cell->visible = c.agreementVisible;

  if (c.progressBarVisible) {
    const bool hasFolderLabel = line->GetCell(kKwInstFolderLabel) != nullptr;
    const KwProgressBar bar = KwLayoutProgressBar(left, right - left, hasFolderLabel,
                                                  KwDoneFraction(p.doneBytes, p.totalBytes));
    KwFillRect(dc, bar.track, kGrey);
    if (!bar.done.IsEmpty()) KwFillRect(dc, bar.done, kBlue);
  }
}

void CKWinstaller::DrawLineFront(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                                 int height) {
  const KwEngineProgress p = engine_->Progress();
  const int width = right - left;
  const std::string status = StatusText();
  if (!status.empty()) {
    KwDrawTextLine(dc, KwStatusLineRect(left, top, width, height),
                   p.retryAttempt > 0 && !Finished() ? kWhite : kSilver, status.c_str(), 16, 0);
  }

  if (CKWBaseViewObject* area = line->GetCell(kKwInstLogo)) {
    if (logoClock_.elapsed() >= kLogoPeriodMs) {
      logoIndex_ = (logoIndex_ + 1) % kLogoCount;
      logoClock_.restart();
    }
    // A picture shows only once its decoding has finished.
    if (CKwImageUtil* image = logos_->GetImage(logoIndex_)) {
      image->Draw(dc, area->x, area->y, area->width, area->height);
      logoDrawn_ = logoIndex_;
    }
  }

  // The size an update downloads out of the whole release: before start
  // from the page's probe, during the run from the engine.
  KwUpdateEstimate estimate = engine_->UpdateEstimate();
  if (p.runActive) {
    estimate = KwUpdateEstimate();
    if (p.updateBytes >= 0) {
      estimate.state = KwUpdateEstimate::kUpdate;
      estimate.updateBytes = p.updateBytes;
      estimate.fullBytes = p.fullBytes;
      estimate.from = p.updateFrom;
    }
  }
  const std::string sizeLine = KwUpdateSizeLine(Text("updatesize"), estimate, &KwSizeText);
  if (!sizeLine.empty() && status.empty()) {
    KwDrawTextLine(dc, KwStatusLineRect(left, top, width, height), kSilver, sizeLine.c_str(), 16,
                   0);
  }

  if (!p.runActive) return;
  const int32_t stage = g_installStage.load();
  const std::string progress = ProgressText();
  if (!progress.empty()) {
    KwDrawTextLine(dc, KwProgressTextRect(left, width), kBlue, progress.c_str(), 14, 2);
  }

  if (stage == 1) {
    const int64_t speed = g_pauseState.load() == 2 ? 0 : p.speed;
    const std::string shown =
        KwDownloadLine(Text("current_download_speed"), speed, p.downloadDone, p.downloadTotal) +
        " ";
    KwDrawTextLine(dc, KwSpeedTextRect(left, width), kSilver, shown.c_str(), 14, 0);
  }
}

void CKWinstaller::DescribeAccessible(std::vector<KwAccItem>* items) {
  CIKWBaseWnd::DescribeAccessible(items);
  if (items == nullptr) return;
  const KwEngineProgress p = engine_->Progress();
  const int width = ViewWidth();
  if (!p.statusLine.empty()) {
    KwAccItem status;
    status.id = kKwInstStatusItem;
    status.name = p.statusLine;
    status.readOnly = true;
    status.rect = KwStatusLineRect(0, 0, width, ViewHeight());
    items->push_back(status);
  }
  if (!p.runActive) return;
  const int32_t stage = g_installStage.load();
  KwProgressTexts texts{Text("Preparing"), Text("ondownload"), Text("oninstalling"),
                        Text("alreadydonwloaded")};
  KwProgressCounters counters;
  counters.installStage = stage;
  counters.totalBytes = p.totalBytes;
  counters.doneBytes = p.doneBytes;
  counters.diskFree = p.diskFree;
  counters.diskTotal = p.diskTotal;
  KwAccItem bar;
  bar.id = kKwInstProgressBarItem;
  bar.role = KwAccRole::ProgressBar;
  bar.name = Text(stage == 2 ? "oninstalling" : stage == 1 ? "ondownload" : "Preparing");
  // The value a reader speaks is the percentage line the page shows.
  bar.value = KwProgressLine(texts, counters);
  bar.readOnly = true;
  bar.hasValue = true;
  bar.minimum = 0;
  bar.maximum = 100;
  bar.current = 100.0 * KwDoneFraction(p.doneBytes, p.totalBytes);
  bar.rect = KwLayoutProgressBar(0, width, FindCell(kKwInstFolderLabel) != nullptr, 0).track;
  items->push_back(bar);
  if (stage == 1) {
    KwAccItem speed;
    speed.id = kKwInstSpeedItem;
    speed.name =
        KwSpeedText(Text("current_download_speed"), g_pauseState.load() == 2 ? 0 : p.speed);
    speed.readOnly = true;
    speed.rect = KwSpeedTextRect(0, width);
    items->push_back(speed);
  }
}

void CKWinstaller::KwOnRefreshTimer() {
  CIKWBaseWnd::KwOnRefreshTimer();
  // While idle the page changes only when the next picture is due or the
  // one on show has just finished decoding; a run changes it all the time.
  const bool pictureDue = logoClock_.elapsed() >= kLogoPeriodMs ||
                          (logoDrawn_ != logoIndex_ && logos_->GetImage(logoIndex_) != nullptr);
  // The probe's answer arrives once; the page shows it then.
  const int estimateState = static_cast<int>(engine_->UpdateEstimate().state);
  const bool estimateChanged = estimateState != shownEstimate_;
  shownEstimate_ = estimateState;
  if (engine_->RunActive() || pictureDue || estimateChanged) RequestRepaint();
  FollowTypedFolder();
}

int CKWinstaller::StartRun() {
  PullEditTexts();
  bool agreed = false;
  std::string path = chosenFolder_;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* box = FindCell(kKwInstAgree)) agreed = box->checked;
      if (CKWBaseViewObject* edit = FindCell(kKwInstPath)) path = edit->text;
    }
  }
  const char* key = nullptr;
  const int result = engine_->StartRun(agreed, path.c_str(), &key);
  if (result == kKwStartOk) {
    chosenFolder_ = path;
    measuredFolder_ = path;
  } else if (key != nullptr) {
    KwPagePrompt(this, key);
  }
  RequestRepaint();
  return result;
}

std::string KwChooseInstallFolder(QWidget* parent, const std::string& start) {
  KwInstallPageHooks hooks;
  {
    std::lock_guard<std::mutex> lock(g_hooksMutex);
    hooks = g_hooks;
  }
  return KwChooseFolder(parent, start, hooks.chooseFolder);
}

void CKWinstaller::Browse() {
  const std::string chosen = KwChooseInstallFolder(this, chosenFolder_);
  if (chosen.empty()) return;
  chosenFolder_ = chosen;
  KwSetEditCellText(this, kKwInstPath, chosen);
  measuredFolder_ = chosen;
  MeasureDisk();
  OnCommand(kKwCmdRefreshRows);
}

void CKWinstaller::OnCommandId(int command) {
  switch (command) {
    case kKwInstStart:
      if (KwStartButtonClicked(g_installStage.load(), engine_->RunActive()) ==
          KwStartButtonAction::StartRun) {
        StartRun();
      } else {
        g_pauseState = KwToggledPause(g_pauseState.load());
        RequestRepaint();
      }
      break;
    case kKwInstCancel:
      PostToOwner(kCmdExitRequest);
      break;
    case kKwInstBrowse:
      Browse();
      break;
    case kKwInstAgreeText: {
      // The words of the agreement tick its box, as a label does.
      bool shown = false;
      {
        KwViewLockGuard lock(LineListMutex());
        if (lock.owns()) {
          CKWBaseViewObject* box = FindCell(kKwInstAgree);
          if (box != nullptr && box->visible && box->enabled) {
            box->checked = !box->checked;
            shown = true;
          }
        }
      }
      if (shown) RequestRepaint();
      break;
    }
    case kKwInstPrivacy: {
      // The link reads "USER LICENSE AGREEMENT": it opens the licence.
      KwInstallPageHooks hooks;
      {
        std::lock_guard<std::mutex> lock(g_hooksMutex);
        hooks = g_hooks;
      }
      if (hooks.openUrl) {
        hooks.openUrl(kKwLicenceUrl);
      } else {
        KwOpenUrl(kKwLicenceUrl);
      }
      break;
    }
    default:
      break;
  }
}

void CKWinstaller::EngineRepaint() {
  RequestRepaint();
}

void CKWinstaller::EnginePostCommand(int command) {
  PostToOwner(command);
}

void CKWinstaller::EngineMessage(const char* key) {
  // The end-of-run command follows this message and deletes the page, so
  // the box belongs to the dialog, which outlives the page.
  QWidget* parent = GetOwnerDlg();
  QObject* context = parent != nullptr ? static_cast<QObject*>(parent) : this;
  const std::string copy = key != nullptr ? key : "";
  QMetaObject::invokeMethod(
      context, [parent, copy] { KwPagePrompt(parent, copy.c_str()); }, Qt::QueuedConnection);
}
