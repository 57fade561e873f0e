#include "MsgBox/ikwinsfirstwnd.h"

#include <sys/stat.h>

#include <mutex>
#include <utility>

#include "MsgBox/desktop/kwdeploy.h"
#include "MsgBox/kwfirstpagelayout.h"
#include "MsgBox/kwpageform.h"
#include "MsgBox/kwpageprompt.h"
#include "MsgBox/kwpagerules.h"
#include "baseutil/kwfilehelpers.h"
#include "baseview/ikwbasedlg.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdlgwait.h"
#include "images/kwembedded.h"
#include "images/kwimageutil.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "platform/kwknownfolders.h"

namespace {

constexpr KwColor kPageBackground = 0x272727;
constexpr KwColor kBlue = 0xF66D59;
constexpr KwColor kWhite = 0xFFFFFF;

std::mutex g_hooksMutex;
KwFirstPageHooks g_hooks;

KwFirstPageHooks Hooks() {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  return g_hooks;
}

const char* Text(const char* key) {
  return IKWLang::Instance()->GetText(key);
}

CKWBaseViewObject* NewButton(CKWOneLineForm* line, int id, bool primary) {
  CKWBaseViewObject* button = line->NewCell(id, kKwCellButton);
  button->cornerRadius = 8;
  button->fontSize = 12;
  button->textAlign = 1;
  if (primary) {
    button->bkColor = kBlue;
    button->textColor = kWhite;
  }
  return button;
}

CKWBaseViewObject* NewLabel(CKWOneLineForm* line, int id) {
  CKWBaseViewObject* label = line->NewCell(id, kKwCellText);
  label->fontSize = 12;
  label->drawBackground = false;
  return label;
}

// What the wait dialog's worker needs; it lives on the page's stack frame
// for the whole modal run.
struct DeployContext {
  CIKWInsFirstWnd* page = nullptr;
  KwDeployRequest request;
  CIKWBaseDlg* owner = nullptr;
  int result = 0;
};

}  // namespace

void KwSetFirstPageHooks(KwFirstPageHooks hooks) {
  std::lock_guard<std::mutex> lock(g_hooksMutex);
  g_hooks = std::move(hooks);
}

CIKWInsFirstWnd::CIKWInsFirstWnd(CIKWBaseDlg* owner)
    : CIKWBaseWnd(owner), image_(std::make_unique<CKwImageUtil>()) {
  SetBackground(true, kPageBackground);
  if (const KwEmbeddedImage* art = KwFindEmbeddedImage(kKwFirstPageImage)) {
    image_->Decode(art->bytes, art->count);
  }
}

CIKWInsFirstWnd::~CIKWInsFirstWnd() {
  // The cells point at the picture: they go first.
  ClearLines();
  image_.reset();
}

void CIKWInsFirstWnd::CreateAllLineFromData() {
  auto line = std::make_unique<CKWOneLineForm>(height() > 0 ? height() : 466);
  CKWBaseViewObject* image = line->NewCell(kKwFirstImage, kKwCellImage);
  image->image = image_.get();
  image->textAlign = 1;  // keep the picture's proportions in its place
  image->drawBackground = false;

  NewLabel(line.get(), kKwFirstLanguageLabel);
  CKWBaseViewObject* language = line->NewCell(kKwFirstLanguage, kKwCellCombo);
  language->fontSize = 12;
  languageList_.Attach(this, language);

  NewLabel(line.get(), kKwFirstPathLabel);
  CKWBaseViewObject* path = line->NewCell(kKwFirstPath, kKwCellEdit);
  path->fontSize = 12;
  // A sensible place to start from: the user's home, which the user can
  // write to; the installer goes into a folder of its own inside it.
  char home[kExePathSize];
  if (KwGetKnownFolder(KwKnownFolder::Home, home, sizeof home) == 0) path->text = home;
  NewButton(line.get(), kKwFirstBrowse, true);
  NewButton(line.get(), kKwFirstCancel, false);
  NewButton(line.get(), kKwFirstInstall, true);
  AppendLine(std::move(line));
}

void CIKWInsFirstWnd::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  const KwFirstPageLayout l = KwLayoutFirstPage(left, top, width, height);
  KwPlaceCell(line, kKwFirstImage, l.image);
  KwPlaceCell(line, kKwFirstLanguageLabel, l.languageLabel);
  KwPlaceCell(line, kKwFirstLanguage, l.languageList);
  KwPlaceCell(line, kKwFirstPathLabel, l.pathLabel);
  KwPlaceCell(line, kKwFirstPath, l.pathBox);
  KwPlaceCell(line, kKwFirstBrowse, l.browseButton);
  KwPlaceCell(line, kKwFirstCancel, l.cancelButton);
  KwPlaceCell(line, kKwFirstInstall, l.installButton);
}

void CIKWInsFirstWnd::DrawLineBack(QPainter*, CKWOneLineForm* line, int, int, int, int) {
  // Texts are read on every paint, so a language change shows at once.
  languageList_.Refresh(line, kKwFirstLanguage);
  const std::pair<int, const char*> texts[] = {
      {kKwFirstLanguageLabel, "selectLanguage"},
      {kKwFirstPathLabel, "selectpath"},
      {kKwFirstBrowse, "openf"},
      {kKwFirstInstall, "install"},
      {kKwFirstCancel, "cancel"},
  };
  for (const auto& [id, key] : texts) {
    if (CKWBaseViewObject* cell = line->GetCell(id)) cell->text = Text(key);
  }
  for (int id : {kKwFirstInstall, kKwFirstCancel}) {
    if (CKWBaseViewObject* cell = line->GetCell(id)) cell->visible = true;
  }
}

void CIKWInsFirstWnd::OnCommandId(int command) {
  switch (command) {
    case kKwFirstBrowse:
      Browse();
      break;
    case kKwFirstInstall:
      Install();
      break;
    case kKwFirstCancel:
      PostToOwner(kCmdExitRequest);
      break;
    default:
      break;
  }
}

std::string CIKWInsFirstWnd::Location() {
  PullEditTexts();
  KwViewLockGuard lock(LineListMutex());
  if (!lock.owns()) return std::string();
  CKWBaseViewObject* edit = FindCell(kKwFirstPath);
  return edit != nullptr ? edit->text : std::string();
}

void CIKWInsFirstWnd::Browse() {
  const KwFirstPageHooks hooks = Hooks();
  std::string start = Location();
  if (start.empty()) {
    // With nothing typed yet the chooser opens in the user's home rather
    // than wherever this program happened to be started from.
    char home[kExePathSize];
    if (KwGetKnownFolder(KwKnownFolder::Home, home, sizeof home) == 0) start = home;
  }
  const std::string chosen = KwChooseFolder(this, start, hooks.chooseFolder);
  if (chosen.empty()) return;
  KwSetEditCellText(this, kKwFirstPath, chosen);
  OnCommand(kKwCmdRefreshRows);
}

int CIKWInsFirstWnd::Install() {
  const std::string location = KwResolveDeployLocation(Location());
  // A location that does not exist yet is made, as the other installers
  // make theirs; a refused one ("Program Files") is never created.
  if (!location.empty() && location.find("Program Files") == std::string::npos) {
    CreateFoldersForPath((location + "/probe").c_str());
  }
  if (const char* refusal = KwCheckDeployLocation(location)) {
    KwPagePrompt(this, refusal);
    return 1;
  }
  ::mkdir(KwDeployFolderPath(location).c_str(), 0755);
  target_ = KwDeployTargetPath(location);

  const KwFirstPageHooks hooks = Hooks();
  DeployContext context;
  context.page = this;
  context.owner = GetOwnerDlg();
  context.request.target = target_;
  context.request.iniSource = std::string(g_exeDir) + "/" + kKwDeployIni;
  context.request.bytes = KwCarriedInstaller(&context.request.size);
  context.request.settleMs = hooks.settleMs;
  // The deployed installer starts in the language chosen here.
  context.request.codePage =
      IKWLang::Instance()->CodePage() != 0 ? kKwCodePageChinese : kKwCodePageDefault;
  context.request.start = hooks.start;

  CKwDlgWait wait(this);
  wait.setObjectName("kwDeployWait");
  wait.SetMessage(Text("pleasewait"));
  wait.SetJob(&CIKWInsFirstWnd::DeployJob, &context);
  wait.exec();
  // The job has returned once the modal run ends.
  if (context.result == kKwDeployKeyMissing) {
    KwPagePrompt(this, "deploynokey");
  } else if (context.result != kKwDeployOk) {
    KwPagePrompt(this, "deployfailed");
  }
  return context.result;
}

void CIKWInsFirstWnd::DeployJob(void* userData, CKwDlgWait*) {
  auto* context = static_cast<DeployContext*>(userData);
  context->result = KwDeployInstaller(context->request);
  // Only a started installer ends this program; otherwise the page stays
  // so the user can choose another location.
  if (context->result == kKwDeployOk && context->owner != nullptr) {
    KwPostCommand(context->owner, kCmdFirstPageQuit);
  }
}
