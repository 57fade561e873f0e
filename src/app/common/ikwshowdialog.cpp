#include "app/common/ikwshowdialog.h"

#include <QGuiApplication>
#include <QScreen>

#include "baseutil/ikwlog.h"
#include "baseview/kwdraw.h"
#include "baseview/kwframelogic.h"
#include "baseview/kwplacement.h"

CIKWShowDialog::CIKWShowDialog(QWidget* parent, int kind) : CIKWBaseDlg(parent), kind_(kind) {
  m_closeOnCancel = 0;
  // Escape answers as the close button does: cancelled.
  m_escapeRequestsClose = 1;
  m_hasSizeButtons = 0;
  m_drawIcon = 0;
  m_minWidth = kKwShowDialogWidth;
  m_minHeight = kKwShowDialogHeight;
}

CIKWShowDialog::~CIKWShowDialog() = default;

void CIKWShowDialog::SetMessage(const char* utf8) {
  message_ = KwCutUtf8(utf8 ? utf8 : "", kKwBoxMessageMax);
  if (content_ != nullptr) content_->SetMessage(message_);
}

void CIKWShowDialog::SetCaption(const char* utf8) {
  SetTitle(utf8);
}

void CIKWShowDialog::SetButtonTexts(const char* first, const char* second) {
  first_ = KwCutUtf8(first ? first : "", 79);
  second_ = KwCutUtf8(second ? second : "", 79);
}

std::string CIKWShowDialog::InputText() const {
  if (auto* box3 = dynamic_cast<CIKWMessageBox3*>(content_)) return box3->Value();
  if (auto* box4 = dynamic_cast<CIKWMessageBox4*>(content_)) return box4->ResultText();
  return {};
}

KwRect CIKWShowDialog::ContentRect() const {
  // Below the drawn caption, so its title and close button stay visible,
  // and one pixel inside the edge.
  return KwRect{1, kKwCaptionBand, std::max(width() - 1, 2),
                std::max(height() - 1, kKwCaptionBand + 1)};
}

void CIKWShowDialog::IKW_OnInitDialog() {
  KW_LOG(4, "CIKWShowDialog::IKW_OnInitDialog", "begin:%d", kind_);
  KW_LOG(4, "CIKWShowDialog::IKW_OnInitDialog", "%d", kind_ >= 1 && kind_ <= 5 ? kind_ : 6);
  setGeometry(x_, y_, kKwShowDialogWidth, kKwShowDialogHeight);
  if (kind_ < 1 || kind_ > 5) {
    KW_LOG(4, "CIKWShowDialog::IKW_OnInitDialog", "end");
    return;
  }
  const KwRect r = ContentRect();
  switch (kind_) {
    case 1: {
      auto* box = new CIKWMessageBox1(this);
      box->resize(r.Width(), r.Height());
      box->SetMessage(message_);
      box->BuildRow();
      content_ = box;
      break;
    }
    case 2: {
      auto* box = new CIKWMessageBox2(this);
      box->resize(r.Width(), r.Height());
      box->SetMessage(message_);
      box->SetButtonTexts(first_, second_);
      box->BuildRow();
      content_ = box;
      break;
    }
    case 3: {
      auto* box = new CIKWMessageBox3(this);
      box->resize(r.Width(), r.Height());
      box->SetMessage(message_);
      box->SetInitialInput(initialInput_.c_str());
      box->CreateAllLineFromData();
      content_ = box;
      break;
    }
    default: {
      auto* box = new CIKWMessageBox4(this, kind_);
      box->resize(r.Width(), r.Height());
      box->SetMessage(message_);
      box->CreateAllLineFromData();
      box->SetInitialInput(initialInput_.c_str());
      content_ = box;
      break;
    }
  }
  content_->SetOwnerDlg(this);
  content_->Create(this, r, kKwShowContentId);
  content_->RebuildRowTable();
  content_->update();
  // Keys go to the box at once: Enter answers with the default button.
  content_->setFocus(Qt::OtherFocusReason);
  KW_LOG(4, "CIKWShowDialog::IKW_OnInitDialog", "end");
}

void CIKWShowDialog::IKW_OnSize(int, int) {
  if (content_ == nullptr) return;
  const KwRect r = ContentRect();
  content_->setGeometry(r.left, r.top, r.Width(), r.Height());
}

void CIKWShowDialog::IKW_AfterCaption(QPainter* dc, const KwRect&, const KwRect&) {
  KwDrawOutline(dc, KwRect{0, 0, width() - 1, height() - 1}, kKwBoxEdge, 1);
}

void CIKWShowDialog::End(int result, int code) {
  result_ = result;
  EndDialog(code);
}

void CIKWShowDialog::IKW_OnCommand(int command) {
  if (command == kKwCmdClose) {
    End(kKwShowCancelled, kKwIdCancel);
    return;
  }
  switch (kind_) {
    case 1:
      if (command == kKwCmdBoxOk) End(kKwShowConfirmed, kKwIdOk);
      break;
    case 2:
    case 4:
    case 5:
      if (command == kKwCmdBoxCancel) End(kKwShowCancelled, kKwIdCancel);
      if (command == kKwCmdBoxOk) End(kKwShowConfirmed, kKwIdOk);
      break;
    case 3:
      if (command == kKwCmdBoxCancel) End(kKwShowCancelled, kKwIdCancel);
      if (command == kKwCmdBoxSaveAs) End(kKwShowSaveAs, kKwIdOk);
      if (command == kKwCmdBoxSave) End(kKwShowSave, kKwIdOk);
      break;
    default:
      break;
  }
}

namespace {

// Centred on the parent's window, inside the available area of its screen.
void PlaceBox(CIKWShowDialog* dlg, QWidget* parent) {
  QRect around;
  QScreen* screen = nullptr;
  if (parent != nullptr) {
    around = parent->window()->frameGeometry();
    screen = QGuiApplication::screenAt(around.center());
  }
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  KwRect area;
  if (screen != nullptr) {
    const QRect a = screen->availableGeometry();
    area = KwRectXYWH(a.x(), a.y(), a.width(), a.height());
    if (parent == nullptr) around = a;
  }
  const KwRect owner = KwRectXYWH(around.x(), around.y(), around.width(), around.height());
  const KwRect r = area.IsEmpty()
                       ? KwPlaceAround(owner, owner, kKwShowDialogWidth, kKwShowDialogHeight)
                       : KwPlaceAround(area, owner, kKwShowDialogWidth, kKwShowDialogHeight);
  dlg->SetPosition(r.left, r.top);
}

}  // namespace

int KwShowMessage(QWidget* parent, const char* message, const char* caption) {
  CIKWShowDialog dlg(parent, 1);
  dlg.SetMessage(message);
  dlg.SetCaption(caption);
  PlaceBox(&dlg, parent);
  dlg.exec();
  return 0;
}

bool KwAskQuestion(QWidget* parent, const char* message, const char* caption, const char* okText,
                   const char* cancelText) {
  CIKWShowDialog dlg(parent, 2);
  dlg.setObjectName("kwQuestion");
  dlg.SetMessage(message);
  dlg.SetCaption(caption);
  dlg.SetButtonTexts(cancelText, okText);
  PlaceBox(&dlg, parent);
  dlg.exec();
  return dlg.Result() == kKwShowConfirmed;
}
