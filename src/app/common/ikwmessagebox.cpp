#include "app/common/ikwmessagebox.h"

#include "baseview/kwdraw.h"
#include "images/kwstockimages.h"
#include "language/ikwlang.h"

namespace {

constexpr KwColor kBoxBackground = KwRGB(39, 39, 39);
constexpr KwColor kSaveBackground = KwRGB(37, 37, 37);

// A button of the boxes: centred text on a rounded face.
CKWBaseViewObject* Button(CKWOneLineForm* row, int id, const std::string& text, int size,
                          int radius, KwColor face) {
  CKWBaseViewObject* b = row->NewCell(id, kKwCellButton);
  b->text = text;
  b->fontSize = size;
  b->cornerRadius = radius;
  b->bkColor = face;
  return b;
}

// The warning icon and the wrapped message that the one- and two-button
// boxes open with.
void AddIconAndMessage(CKWOneLineForm* row, const std::string& message) {
  CKWBaseViewObject* icon = row->NewCell(1001, kKwCellImage);
  icon->image = CIKWImageIcon::Instance()->GetImage(2);
  icon->drawBackground = false;
  CKWBaseViewObject* text = row->NewCell(1002, kKwCellText);
  text->text = message;
  text->fontSize = 16;
  text->wordWrap = true;
  text->drawBackground = false;
}

std::string Lang(const char* key) {
  const char* text = IKWLang::Instance()->GetText(key);
  return text ? text : "";
}

}  // namespace

std::string KwCutUtf8(const std::string& text, size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  size_t cut = maxBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

int KwToolkitMeasure(const std::string& text, int size) {
  return KwMeasureText(size, text.c_str());
}

CIKWMessageBoxBase::CIKWMessageBoxBase(CIKWBaseDlg* owner, KwColor background)
    : CIKWBaseWnd(owner) {
  SetBackground(true, background);
}

void CIKWMessageBoxBase::SetMessage(const std::string& message) {
  message_ = KwCutUtf8(message, kKwBoxMessageMax);
  RequestRepaint();
}

CKWOneLineForm* CIKWMessageBoxBase::NewRow() {
  ClearLines();
  return AppendLine(std::make_unique<CKWOneLineForm>(std::max(ViewHeight(), 1)));
}

void CIKWMessageBoxBase::DrawLineBack(QPainter*, CKWOneLineForm* line, int, int, int, int) {
  // The message may change while the box is shown; every paint shows the
  // current one.
  if (CKWBaseViewObject* cell = line->GetCell(MessageCellId())) cell->text = message_;
}

void CIKWMessageBoxBase::Confirm(int command) {
  PullEditTexts();
  PostToOwner(command);
}

void CIKWMessageBoxBase::ApplyLayout(CKWOneLineForm* line, const KwMsgBoxLayout& layout, int left,
                                     int top) {
  for (const auto& kv : layout.cells) {
    if (CKWBaseViewObject* cell = line->GetCell(kv.first)) {
      const KwRect r = kv.second.Offset(left, top);
      cell->SetRect(r.left, r.top, r.Width(), r.Height());
    }
  }
  if (CKWBaseViewObject* message = line->GetCell(MessageCellId())) {
    message->wordWrap = layout.messageWrapped;
  }
}

// Kind 1.

CIKWMessageBox1::CIKWMessageBox1(CIKWBaseDlg* owner) : CIKWMessageBoxBase(owner, kBoxBackground) {
  // Enter is OK; Escape goes on to the dialog, which closes.
  SetKeyButtons(1003, 0);
}

void CIKWMessageBox1::BuildRow() {
  KwViewLockGuard lock(LineListMutex());
  CKWOneLineForm* row = NewRow();
  AddIconAndMessage(row, Message());
  Button(row, 1003, Lang("OK"), 16, 12, kKwBoxBlue);
}

void CIKWMessageBox1::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  ApplyLayout(line, KwLayoutMessageBox12(1, width, height, Message(), "", "", KwToolkitMeasure),
              left, top);
}

void CIKWMessageBox1::OnCommandId(int command) {
  if (command == 1003) Confirm(kKwCmdBoxOk);
}

// Kind 2.

CIKWMessageBox2::CIKWMessageBox2(CIKWBaseDlg* owner) : CIKWMessageBoxBase(owner, kBoxBackground) {
  // The blue second button confirms (Enter); the first is the way out (Escape).
  SetKeyButtons(1004, 1003);
}

void CIKWMessageBox2::SetButtonTexts(const std::string& first, const std::string& second) {
  first_ = KwCutUtf8(first, 79);
  second_ = KwCutUtf8(second, 79);
}

void CIKWMessageBox2::BuildRow() {
  KwViewLockGuard lock(LineListMutex());
  CKWOneLineForm* row = NewRow();
  AddIconAndMessage(row, Message());
  Button(row, 1003, first_, 16, 12, kKwCellBackground);
  Button(row, 1004, second_, 16, 12, kKwBoxBlue);
}

void CIKWMessageBox2::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  ApplyLayout(line,
              KwLayoutMessageBox12(2, width, height, Message(), first_, second_, KwToolkitMeasure),
              left, top);
}

void CIKWMessageBox2::OnCommandId(int command) {
  if (command == 1003) PostToOwner(kKwCmdBoxCancel);
  if (command == 1004) Confirm(kKwCmdBoxOk);
}

// Kind 3.

CIKWMessageBox3::CIKWMessageBox3(CIKWBaseDlg* owner) : CIKWMessageBoxBase(owner, kSaveBackground) {
  SetKeyButtons(1006, 1004);
}

void CIKWMessageBox3::CreateAllLineFromData() {
  KwViewLockGuard lock(LineListMutex());
  CKWOneLineForm* row = NewRow();
  CKWBaseViewObject* text = row->NewCell(1002, kKwCellText);
  text->text = Message();
  text->fontSize = 16;
  text->textColor = KwRGB(254, 254, 255);
  text->wordWrap = true;
  text->drawBackground = false;
  CKWBaseViewObject* edit = row->NewCell(1003, kKwCellEdit);
  edit->text = initial_;
  edit->fontSize = 16;
  edit->borderWidth = 0;
  edit->zOrder = 2;
  edit->bkColor = KwRGB(45, 45, 45);
  edit->labelIds = {1002};
  CKWBaseViewObject* picture = row->NewCell(1007, kKwCellImage);
  picture->image = CIKWImageIcon::Instance()->GetImage(0);
  picture->drawBackground = false;
  Button(row, 1004, Lang("CANCEL"), -1, 4, KwRGB(146, 146, 146));
  Button(row, 1005, Lang("saveas"), -1, 4, kKwBoxBlue);
  Button(row, 1006, Lang("save"), -1, 4, kKwBoxBlue);
}

void CIKWMessageBox3::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  ApplyLayout(line, KwLayoutMessageBox3(width, height), left, top);
}

void CIKWMessageBox3::OnCommandId(int command) {
  if (command == 1004) {
    PostToOwner(kKwCmdBoxCancel);
    return;
  }
  if (command != 1005 && command != 1006) return;
  PullEditTexts();
  {
    KwViewLockGuard lock(LineListMutex());
    CKWOneLineForm* row = GetLine(0);
    CKWBaseViewObject* edit = row ? row->GetCell(1003) : nullptr;
    value_ = KwCutUtf8(edit ? edit->text : std::string(), kKwBoxValueMax);
  }
  PostToOwner(command == 1005 ? kKwCmdBoxSaveAs : kKwCmdBoxSave);
}

// Kinds 4 and 5.

CIKWMessageBox4::CIKWMessageBox4(CIKWBaseDlg* owner, int kind)
    : CIKWMessageBoxBase(owner, kBoxBackground), kind_(kind) {
  SetKeyButtons(10005, 10006);
}

void CIKWMessageBox4::SetInitialInput(const char* text) {
  initial_ = text ? text : "";
  KwViewLockGuard lock(LineListMutex());
  CKWOneLineForm* row = GetLine(0);
  if (CKWBaseViewObject* edit = row ? row->GetCell(10004) : nullptr) {
    edit->text = initial_;
    if (edit->Editor() != nullptr) edit->Editor()->SetText(initial_);
  }
}

void CIKWMessageBox4::CreateAllLineFromData() {
  KwViewLockGuard lock(LineListMutex());
  CKWOneLineForm* row = NewRow();
  CKWBaseViewObject* text = row->NewCell(10003, kKwCellText);
  text->text = Message();
  text->fontSize = 12;
  text->textColor = KwRGB(192, 192, 192);
  text->drawBackground = false;
  CKWBaseViewObject* edit = row->NewCell(10004, kKwCellEdit);
  edit->text = initial_;
  edit->bkColor = KwRGB(27, 27, 27);
  edit->labelIds = {10003};
  edit->wordWrap = kind_ == 5;
  Button(row, 10006, Lang("CANCEL"), 16, 12, kKwCellBackground);
  Button(row, 10005, Lang("OK"), 16, 12, kKwBoxBlue);
}

void CIKWMessageBox4::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int) {
  ApplyLayout(line, KwLayoutMessageBox45(kind_, width, Message(), KwToolkitMeasure), left, top);
}

void CIKWMessageBox4::OnCommandId(int command) {
  if (command == 10006) {
    PostToOwner(kKwCmdBoxCancel);
    return;
  }
  if (command != 10005) return;
  PullEditTexts();
  {
    KwViewLockGuard lock(LineListMutex());
    CKWOneLineForm* row = GetLine(0);
    CKWBaseViewObject* edit = row ? row->GetCell(10004) : nullptr;
    resultText_ = KwCutUtf8(edit ? edit->text : std::string(), kKwBoxResultTextMax);
  }
  PostToOwner(kKwCmdBoxOk);
}
