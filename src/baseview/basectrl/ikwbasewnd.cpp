#include "baseview/basectrl/ikwbasewnd.h"

#include <QTimer>

#include "baseview/ikwbasedlg.h"
#include "baseview/kwcommand.h"

CIKWBaseWnd::CIKWBaseWnd(CIKWBaseDlg* owner) : CKWBaseView(nullptr), owner_(owner) {}

CIKWBaseWnd::~CIKWBaseWnd() = default;

void CIKWBaseWnd::SetOwnerDlg(CIKWBaseDlg* owner) {
  owner_ = owner;
}

void CIKWBaseWnd::PostToOwner(int command) {
  if (owner_ != nullptr) KwPostCommand(owner_, command);
}

void CIKWBaseWnd::CreateAllLineFromData() {}

void CIKWBaseWnd::KwOnSize(int, int height) {
  {
    KwViewLockGuard lock(LineListMutex());
    if (CKWOneLineForm* first = GetLine(0)) first->height = height;
  }
  RebuildRowTable();
  // Cells get their new rectangles at the next paint; the edit controls
  // follow a little later, on this thread (widgets never move from another).
  QTimer::singleShot(100, this, [this] { PlaceEditControls(); });
}

void CIKWBaseWnd::KwOnFirstPaint() {
  CreateEditControls();
}

void CIKWBaseWnd::KwOnSetFocus() {
  PostToOwner(kKwCmdOwnerNotify);
}
