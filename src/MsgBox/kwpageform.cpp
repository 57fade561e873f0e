#include "MsgBox/kwpageform.h"

#include <QFileDialog>

#include "MsgBox/kwpagerules.h"
#include "baseview/basectrl/ikwbasewnd.h"
#include "language/ikwlang.h"

void KwPlaceCell(CKWOneLineForm* line, int id, const KwRect& r) {
  if (CKWBaseViewObject* cell = line->GetCell(id)) {
    cell->SetRect(r.left, r.top, r.Width(), r.Height());
  }
}

std::string KwChooseFolder(QWidget* parent, const std::string& start, const KwFolderChooser& hook) {
  if (hook) return hook(parent, start);
  // The chooser's title speaks the page's language, as Qt's own texts in it do.
  return QFileDialog::getExistingDirectory(
             parent, QString::fromUtf8(IKWLang::Instance()->GetText("choosefolder")),
             QString::fromStdString(start))
      .toStdString();
}

void KwSetEditCellText(CKWBaseView* view, int id, const std::string& text) {
  KwViewLockGuard lock(view->LineListMutex());
  if (!lock.owns()) return;
  if (CKWBaseViewObject* edit = view->FindCell(id)) {
    edit->text = text;
    if (IKwCellEditor* editor = edit->Editor()) editor->SetText(text);
  }
}

void KwPageLanguageList::Attach(CIKWBaseWnd* page, CKWBaseViewObject* cell) {
  // A screen reader calls the list by what it chooses.
  cell->accNameKey = "selectLanguage";
  cell->ComboBox()->SetChangeCallback([this, page](int, CSfDrawComboBox* box) {
    if (refilling_) return;
    IKWLang::Instance()->SetCodePage(box->SelectedIndex() == 1 ? kKwCodePageChinese
                                                               : kKwCodePageDefault);
    page->PostToOwner(kCmdCaption);
    page->RequestRepaint();
  });
  shown_ = -1;
  Fill(cell);
}

void KwPageLanguageList::Refresh(CKWOneLineForm* line, int id) {
  if (CKWBaseViewObject* cell = line->GetCell(id)) Fill(cell);
}

void KwPageLanguageList::Fill(CKWBaseViewObject* cell) {
  IKWLang* lang = IKWLang::Instance();
  const int codePage = lang->CodePage();
  if (shown_ == codePage) return;
  shown_ = codePage;
  CSfDrawComboBox* box = cell->ComboBox();
  refilling_ = true;
  box->Clear();
  box->AddItem(lang->GetText("english"));
  box->AddItem(lang->GetText("chinese"));
  box->Select(codePage != 0 ? 1 : 0);
  refilling_ = false;
}
