// The screens of the gallery: a page with every cell kind in its states and
// a long list that scrolls, each hosted in a skinned dialog.
#pragma once

#include <string>

#include "baseview/basectrl/ikwbasewnd.h"
#include "baseview/ikwbasedlg.h"

// Picks the English or the Chinese sample text by the current code page.
const char* KwGalleryText(const char* english, const char* chinese);

// Every cell kind in its states: labels, buttons, pictures, edit boxes,
// check boxes, radio buttons, sliders and combo boxes.
class KwCellsPage : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit KwCellsPage(CIKWBaseDlg* owner);
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void LayoutCell(CKWOneLineForm* line, int left, int top, int width, int height,
                  CKWBaseViewObject* cell) override;
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void OnCommandId(int command) override;

  // Cell ID of the combo box whose popup the gallery opens.
  static constexpr int kComboId = 801;
  int LastCommand() const { return lastCommand_; }

 private:
  int lastCommand_ = 0;
};

// Forty rows of varying height, to show the scroll bar.
class KwListPage : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit KwListPage(CIKWBaseDlg* owner);
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void KwOnSize(int width, int height) override;
};

// A skinned dialog hosting one page below its caption; closes on its
// caption close button.
class KwGalleryDlg : public CIKWBaseDlg {
  Q_OBJECT

 public:
  // Takes ownership of the page (it becomes a Qt child).
  KwGalleryDlg(CIKWBaseWnd* page, const char* title, int width, int height);
  CIKWBaseWnd* Page() const { return page_; }

 protected:
  void IKW_OnInitDialog() override;
  void IKW_OnSize(int width, int height) override;
  void IKW_OnCommand(int command) override;

 private:
  CIKWBaseWnd* page_;
  int width_;
  int height_;
};
