// CIKWBaseWnd: the base of every installer page and message-box content.
//
// It links the page to the skinned dialog that hosts it (the owner, not
// owned), tells the owner about every press and focus gain (command 90001),
// and gives pages the shared behaviour they all need: the first row fills
// the page's height, and the edit controls are made on the first paint and
// follow their cells after a resize.  Pages override
// CreateAllLineFromData, LayoutLine, DrawLineBack and OnCommandId.
#pragma once

#include "baseview/basectrl/CKWBaseView.h"

class CIKWBaseDlg;

class CIKWBaseWnd : public CKWBaseView {
  Q_OBJECT

 public:
  explicit CIKWBaseWnd(CIKWBaseDlg* owner = nullptr);
  ~CIKWBaseWnd() override;

  void SetOwnerDlg(CIKWBaseDlg* owner);
  CIKWBaseDlg* GetOwnerDlg() const { return owner_; }
  // Posts a command to the owner dialog (nothing without an owner).
  void PostToOwner(int command);

  // Builds all rows of the page (added slot).
  virtual void CreateAllLineFromData();

  // Shared page behaviour.
  void KwOnSize(int width, int height) override;
  void KwOnFirstPaint() override;
  void KwOnSetFocus() override;

 private:
  CIKWBaseDlg* owner_ = nullptr;
};
