#include "tool/makepackage/window/ikwmakepkgwnd.h"

#include <sys/stat.h>

#include <cstdio>
#include <utility>

#include "baseutil/ikwlog.h"
#include "baseutil/kwfilehelpers.h"
#include "baseview/kwcommand.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"
#include "tool/makepackage/kwmakerun.h"
#include "tool/makepackage/kwpkglist.h"
#include "tool/makepackage/window/kwmakeprompt.h"

namespace {

constexpr int kExitRequest = 10001;

// A language text with its one "%s" or "%d" place filled; the text may come
// from a language file, so it is never used as a printf format.
std::string KwFormatLangText(const char* key, const std::string& value) {
  std::string text = IKWLang::Instance()->GetText(key);
  for (const char* place : {"%s", "%d"}) {
    const size_t at = text.find(place);
    if (at != std::string::npos) return text.replace(at, 2, value);
  }
  return text;
}

struct FixedCell {
  int id;
  int type;
  const char* text;
};

// The labels and buttons; the edit boxes take their texts from make.ini.
constexpr FixedCell kFixedCells[] = {
    {kKwMakeFromLabel, kKwCellText, "FROM"},
    {kKwMakeFromBrowse, kKwCellButton, "..."},
    {kKwMakeToLabel, kKwCellText, "TO"},
    {kKwMakeToBrowse, kKwCellButton, "..."},
    {kKwMakeNameLabel, kKwCellText, "PACKAGE NAME"},
    {kKwMakeStatus, kKwCellText, ""},
    {kKwMakeStart, kKwCellButton, "MAKE"},
    {kKwMakeCancel, kKwCellButton, "CANCEL"},
    {kKwMakeList, kKwCellButton, "LIST JSON"},
};

constexpr int kAllCells[] = {kKwMakeFromLabel, kKwMakeFromEdit, kKwMakeFromBrowse, kKwMakeToLabel,
                             kKwMakeToEdit,    kKwMakeToBrowse, kKwMakeNameLabel,  kKwMakeNameEdit,
                             kKwMakeStatus,    kKwMakeStart,    kKwMakeCancel,     kKwMakeList};

}  // namespace

CIKWMakePkgWnd::CIKWMakePkgWnd(CIKWBaseDlg* owner) : CIKWBaseWnd(owner) {
  SetBackground(true, kKwMakePkgBackground);
}

CIKWMakePkgWnd::~CIKWMakePkgWnd() {
  // The maker reports into this window until it is done: stop it and wait
  // before anything it touches goes away.
  if (maker_ != nullptr) {
    maker_->Cancel();
    maker_->WaitDone();
    maker_.reset();
  }
}

void CIKWMakePkgWnd::CreateAllLineFromData() {
  const KwMakeSettings ini = KwReadMakeIni(g_exeDir);
  auto line = std::make_unique<CKWOneLineForm>(height() > 0 ? height() : 600);
  for (const FixedCell& fixed : kFixedCells) {
    CKWBaseViewObject* cell = line->NewCell(fixed.id, fixed.type);
    cell->text = fixed.text;
    if (fixed.type == kKwCellText) cell->drawBackground = false;
    if (fixed.type == kKwCellButton) cell->textAlign = 1;
  }
  const std::pair<int, const std::string*> edits[] = {{kKwMakeFromEdit, &ini.fromPath},
                                                      {kKwMakeToEdit, &ini.toPath},
                                                      {kKwMakeNameEdit, &ini.package}};
  for (const auto& [id, text] : edits) line->NewCell(id, kKwCellEdit)->text = *text;
  // AppendLine waits at most a second for the line list.
  if (AppendLine(std::move(line)) == nullptr) {
    KW_LOG(4, "CIKWMakePkgWnd::CreateAllLineFromData", "line list busy");
  }
}

void CIKWMakePkgWnd::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int) {
  for (int id : kAllCells) {
    if (CKWBaseViewObject* cell = line->GetCell(id)) {
      const KwRect r = KwMakePkgCellRect(id, left, top, width);
      cell->SetRect(r.left, r.top, r.Width(), r.Height());
    }
  }
}

void CIKWMakePkgWnd::DrawLineBack(QPainter*, CKWOneLineForm* line, int, int, int, int) {
  if (CKWBaseViewObject* status = line->GetCell(kKwMakeStatus)) status->text = ShownStatus();
  if (maker_ != nullptr && maker_->Done()) endShown_ = true;
  if (CKWBaseViewObject* make = line->GetCell(kKwMakeStart)) make->enabled = !running_;
  if (CKWBaseViewObject* cancel = line->GetCell(kKwMakeCancel)) cancel->enabled = true;
}

void CIKWMakePkgWnd::OnCommandId(int command) {
  switch (command) {
    case kKwMakeFromBrowse:
      Browse(kKwMakeFromEdit);
      break;
    case kKwMakeToBrowse:
      Browse(kKwMakeToEdit);
      break;
    case kKwMakeStart:
      Make();
      break;
    case kKwMakeCancel:
      Cancel();
      break;
    case kKwMakeList:
      List();
      break;
    default:
      break;  // The maker's completion command among them.
  }
}

void CIKWMakePkgWnd::OnMakeCommand(int32_t command) {
  KwPostCommand(this, command);
}

void CIKWMakePkgWnd::KwOnRefreshTimer() {
  CIKWBaseWnd::KwOnRefreshTimer();
  if (maker_ != nullptr && (!maker_->Done() || !endShown_)) RequestRepaint();
}

std::string CIKWMakePkgWnd::ShownStatus() const {
  std::string shown = StatusText();
  if (maker_ == nullptr) return shown;
  if (!maker_->Done()) {
    char read[64];
    std::snprintf(read, sizeof read, "   (%lld bytes read)",
                  static_cast<long long>(maker_->BytesRead()));
    return shown + read;
  }
  if (maker_->Result() != 0) shown += "   (" + maker_->ErrorText() + ")";
  return shown;
}

std::string CIKWMakePkgWnd::StatusText() const {
  std::lock_guard<std::mutex> lock(statusMutex_);
  return statusText_;
}

void CIKWMakePkgWnd::SetStatusText(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(statusMutex_);
    statusText_ = text;
  }
  RequestRepaint();
}

int CIKWMakePkgWnd::OnProgress(void* context, int32_t, const char* text, int64_t total) {
  static_cast<CIKWMakePkgWnd*>(context)->SetStatusText(KwMakeStatusText(total, text));
  return 0;
}

bool CIKWMakePkgWnd::ReadInputs(KwMakeSettings* s) {
  PullEditTexts();
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* c = FindCell(kKwMakeFromEdit)) s->fromPath = c->text;
      if (CKWBaseViewObject* c = FindCell(kKwMakeToEdit)) s->toPath = c->text;
      if (CKWBaseViewObject* c = FindCell(kKwMakeNameEdit)) s->package = c->text;
    }
  }
  const char* missing = KwMakeMissingInputKey(*s);
  if (missing == nullptr) return true;
  KwMakeInputError(this, missing);
  return false;
}

void CIKWMakePkgWnd::Make() {
  // MAKE is drawn disabled while running; a click that races the repaint
  // must not start a second maker on the same output.
  if (running_) return;
  KwMakeSettings s;
  if (!ReadInputs(&s)) return;
  // A new output folder is made, as the installers make theirs; one that
  // cannot be made is said before any run starts.
  CreateFoldersForPath((s.toPath + "/list.json").c_str());
  struct stat st;
  if (::stat(s.toPath.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    SetStatusText(KwFormatLangText("makenooutput", s.toPath));
    return;
  }
  running_ = true;
  endShown_ = false;
  RequestRepaint();
  maker_ = KwStartMakeRun(g_exeDir, s, &CIKWMakePkgWnd::OnProgress, this, this);
  if (maker_ == nullptr) running_ = false;
  RequestRepaint();
}

void CIKWMakePkgWnd::Cancel() {
  if (!running_) {
    PostToOwner(kExitRequest);
    return;
  }
  running_ = false;
  if (maker_ != nullptr) {
    // The maker stops after the chunk in hand and still closes and lists
    // what it wrote; waiting keeps it from outliving its window.
    maker_->Cancel();
    maker_->WaitDone();
    // The last report read "... end"; a stopped run says so instead.
    if (maker_->Cancelled()) SetStatusText(IKWLang::Instance()->GetText("makecancelled"));
    maker_.reset();
  }
  RequestRepaint();
}

void CIKWMakePkgWnd::List() {
  KwMakeSettings s;
  if (!ReadInputs(&s)) return;
  const int32_t count = KwMakeVolumeListJson(s.toPath, s.package);
  KW_LOG(4, "CIKWMakePkgWnd::List", "%s/list.json: %d", s.toPath.c_str(), count);
  // A run's own reports own the status line while it lasts.
  if (running_) return;
  if (count < 0) {
    SetStatusText("cannot write " + s.toPath + "/list.json");
  } else if (count == 0) {
    SetStatusText(KwFormatLangText("makelistnone", s.toPath));
  } else {
    SetStatusText(KwFormatLangText("makelisted", std::to_string(count)));
  }
}

void CIKWMakePkgWnd::Browse(int editId) {
  std::string start;
  PullEditTexts();
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* c = FindCell(editId)) start = c->text;
    }
  }
  const std::string chosen = KwMakeChooseFolder(this, start);
  if (chosen.empty()) return;
  {
    KwViewLockGuard lock(LineListMutex());
    if (lock.owns()) {
      if (CKWBaseViewObject* c = FindCell(editId)) {
        c->text = chosen;
        if (IKwCellEditor* editor = c->Editor()) editor->SetText(chosen);
      }
    }
  }
  OnCommand(kKwCmdRefreshRows);
}
