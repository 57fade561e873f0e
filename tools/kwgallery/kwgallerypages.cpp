#include "kwgallerypages.h"

#include <QPainter>

#include "baseview/kwdraw.h"
#include "baseview/kwframelogic.h"
#include "images/kwstockimages.h"
#include "language/ikwlang.h"

namespace {

constexpr KwColor kPageBackground = KwRGB(39, 39, 39);
constexpr KwColor kSectionText = KwRGB(150, 150, 156);
constexpr KwColor kBlue = KwRGB(68, 122, 250);
constexpr int kRowStep = 46;
constexpr int kFirstColumn = 130;

// Where each sample cell goes: section row and column (x offset, width).
struct Place {
  int id;
  int row;
  int x;
  int width;
  int height;
};

// Sections: 0 labels, 1 buttons, 2 button faces, 3 pictures, 4 edit boxes,
// 5 check boxes, 6 radio buttons and sliders, 7 combo boxes, 8 multi-line.
const Place kPlaces[] = {
    {101, 0, 0, 120, 30},   {102, 0, 130, 120, 30}, {103, 0, 260, 120, 30}, {104, 0, 390, 120, 30},
    {105, 0, 520, 200, 40},  // Wrapped label spills a little.
    {201, 1, 0, 110, 34},   {202, 1, 120, 110, 34}, {203, 1, 240, 110, 34}, {204, 1, 360, 110, 34},
    {301, 2, 0, 130, 34},   {302, 2, 140, 130, 34}, {303, 2, 280, 130, 34}, {304, 2, 420, 130, 34},
    {401, 3, 0, 90, 40},    {402, 3, 100, 90, 40},  {403, 3, 200, 90, 40},  {501, 4, 0, 170, 34},
    {502, 4, 180, 170, 34}, {503, 4, 360, 120, 34}, {504, 4, 490, 120, 34}, {601, 5, 0, 110, 30},
    {602, 5, 110, 110, 30}, {603, 5, 220, 110, 30}, {604, 5, 330, 90, 30},  {605, 5, 420, 90, 30},
    {606, 5, 510, 100, 30}, {607, 5, 610, 100, 30}, {701, 6, 0, 100, 30},   {702, 6, 100, 100, 30},
    {703, 6, 200, 110, 30}, {711, 6, 320, 140, 30}, {712, 6, 470, 140, 30}, {713, 6, 620, 100, 30},
    {801, 7, 0, 200, 32},   {802, 7, 220, 200, 32}, {803, 7, 440, 160, 32}, {505, 8, 0, 360, 70},
};

const char* SectionName(int section) {
  switch (section) {
    case 0:
      return KwGalleryText("Labels", "文本");
    case 1:
      return KwGalleryText("Buttons", "按钮");
    case 2:
      return KwGalleryText("Button faces", "按钮图片");
    case 3:
      return KwGalleryText("Pictures", "图片");
    case 4:
      return KwGalleryText("Edit boxes", "输入框");
    case 5:
      return KwGalleryText("Check boxes", "复选框");
    case 6:
      return KwGalleryText("Radio, slider", "单选、滑块");
    case 7:
      return KwGalleryText("Combo boxes", "下拉框");
    case 8:
      return KwGalleryText("Multi-line", "多行输入");
    default:
      return "";
  }
}

CKWBaseViewObject* Cell(CKWOneLineForm* row, int id, int type, const char* text) {
  CKWBaseViewObject* c = row->NewCell(id, type);
  c->text = text ? text : "";
  return c;
}

}  // namespace

const char* KwGalleryText(const char* english, const char* chinese) {
  return IKWLang::Instance()->CodePage() == 936 ? chinese : english;
}

KwCellsPage::KwCellsPage(CIKWBaseDlg* owner) : CIKWBaseWnd(owner) {
  SetBackground(true, kPageBackground);
}

void KwCellsPage::CreateAllLineFromData() {
  KwViewLockGuard lock(LineListMutex());
  ClearLines();
  CKWOneLineForm* row = AppendLine(std::make_unique<CKWOneLineForm>(std::max(height(), 1)));
  CKWBaseViewObject* c;

  c = Cell(row, 101, kKwCellText, KwGalleryText("Left", "左对齐"));
  c = Cell(row, 102, kKwCellText, KwGalleryText("Centred", "居中"));
  c->textAlign = 1;
  c = Cell(row, 103, kKwCellText, KwGalleryText("Right", "右对齐"));
  c->textAlign = 2;
  c = Cell(row, 104, kKwCellText, KwGalleryText("Disabled", "不可用"));
  c->enabled = false;
  c->textAlign = 1;
  c = Cell(row, 105, kKwCellText,
           KwGalleryText("A label that wraps its text onto a second line",
                         "这是一段会自动换行的较长文本，显示在第二行"));
  c->wordWrap = true;
  c->drawBackground = false;

  c = Cell(row, 201, kKwCellButton, KwGalleryText("Normal", "普通"));
  c = Cell(row, 202, kKwCellButton, KwGalleryText("Pressed", "按下"));
  c = Cell(row, 203, kKwCellButton, KwGalleryText("Disabled", "不可用"));
  c->enabled = false;
  c = Cell(row, 204, kKwCellButton, KwGalleryText("Blue 16", "蓝色 16"));
  c->bkColor = kBlue;
  c->fontSize = 16;
  c->cornerRadius = 12;
  for (int s = 0; s < 4; ++s) {
    c = Cell(row, 301 + s, kKwCellButton, KwGalleryText("Face", "图片按钮"));
    c->style = 101 + s;
  }

  c = Cell(row, 401, kKwCellImage, nullptr);
  c->image = CIKWImageIcon::Instance()->GetImage(0);
  c->drawBackground = false;
  c = Cell(row, 402, kKwCellImage, nullptr);
  c->image = CIKWImageIcon::Instance()->GetImage(0);
  c->textAlign = 1;  // Keep the aspect.
  c->drawBackground = false;
  c = Cell(row, 403, kKwCellImage, nullptr);  // No picture: draws nothing.

  c = Cell(row, 501, kKwCellEdit, "");
  c->SetPlaceholder(KwGalleryText("Type a folder", "请输入安装位置"));
  c = Cell(row, 502, kKwCellEdit, KwGalleryText("/home/user/tarnwick", "/home/用户/塔恩维克"));
  c = Cell(row, 503, kKwCellEdit, "secret");
  c->password = true;
  c = Cell(row, 504, kKwCellEdit, KwGalleryText("disabled", "不可用"));
  c->enabled = false;
  c = Cell(row, 505, kKwCellEdit,
           KwGalleryText("Several lines\nof text in a multi-line box", "多行文本\n第二行"));
  c->wordWrap = true;
  c->bkColor = KwRGB(27, 27, 27);

  const char* on = KwGalleryText("On", "选中");
  const char* off = KwGalleryText("Off", "未选");
  c = Cell(row, 601, kKwCellCheck, on);
  c->checked = true;
  c->drawBackground = false;
  c = Cell(row, 602, kKwCellCheck, off);
  c->drawBackground = false;
  c = Cell(row, 603, kKwCellCheck, KwGalleryText("Style 1", "样式 1"));
  c->style = 1;
  c->checked = true;
  c->drawBackground = false;
  c = Cell(row, 604, kKwCellCheck, KwGalleryText("Style 3", "样式 3"));
  c->style = 3;
  c->checked = true;
  c->drawBackground = false;
  c = Cell(row, 605, kKwCellCheck, "100");
  c->style = 100;
  c->checked = true;
  c->drawBackground = false;
  c = Cell(row, 606, kKwCellCheck, "100");
  c->style = 100;
  c->drawBackground = false;
  c = Cell(row, 607, kKwCellCheck, KwGalleryText("Disabled", "不可用"));
  c->enabled = false;
  c->drawBackground = false;

  c = Cell(row, 701, kKwCellRadio, on);
  c->checked = true;
  c->drawBackground = false;
  c = Cell(row, 702, kKwCellRadio, off);
  c->drawBackground = false;
  c = Cell(row, 703, kKwCellRadio, KwGalleryText("Disabled", "不可用"));
  c->enabled = false;
  c->drawBackground = false;
  c = Cell(row, 711, kKwCellSlider, nullptr);
  c->value = -50;
  c->drawBackground = false;
  c = Cell(row, 712, kKwCellSlider, nullptr);
  c->value = 30;
  c->style = 100;
  c->drawBackground = false;
  c = Cell(row, 713, kKwCellSlider, nullptr);
  c->value = 80;
  c->enabled = false;
  c->drawBackground = false;

  c = Cell(row, 801, kKwCellCombo, nullptr);
  for (const char* item : {KwGalleryText("English", "英文"), KwGalleryText("Chinese", "中文"),
                           KwGalleryText("Japanese", "日文")}) {
    c->ComboBox()->AddItem(item);
  }
  c->ComboBox()->Select(1);
  c = Cell(row, 802, kKwCellCombo, nullptr);  // Nothing selected yet.
  c->ComboBox()->AddItem("A");
  c = Cell(row, 803, kKwCellText, KwGalleryText("Last command: none", "最近命令：无"));
  c->drawBackground = false;
  c->textColor = kSectionText;
}

void KwCellsPage::LayoutLine(CKWOneLineForm* line, int left, int top, int, int) {
  for (const Place& p : kPlaces) {
    if (CKWBaseViewObject* c = line->GetCell(p.id)) {
      const int rowTop = top + 12 + p.row * kRowStep;
      const int y = p.height > 34 ? rowTop : rowTop + (34 - p.height) / 2;
      c->SetRect(left + kFirstColumn + p.x, y, p.width, p.height);
    }
  }
}

void KwCellsPage::LayoutCell(CKWOneLineForm*, int, int, int, int, CKWBaseViewObject* cell) {
  // Shows the held-down look without a real press.
  if (cell->id == 202) cell->pressed = true;
}

void KwCellsPage::DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int, int) {
  for (int s = 0; s <= 8; ++s) {
    KwDrawTextLine(dc, KwRectXYWH(left + 16, top + 12 + s * kRowStep, kFirstColumn - 20, 34),
                   kSectionText, SectionName(s), 13, kKwAlignLeft);
  }
  if (CKWBaseViewObject* status = line->GetCell(803)) {
    if (lastCommand_ != 0) {
      status->text =
          std::string(KwGalleryText("Last command: ", "最近命令：")) + std::to_string(lastCommand_);
    }
  }
}

void KwCellsPage::OnCommandId(int command) {
  if (command == kKwCmdRefreshRows || command == kKwCmdOwnerNotify) return;
  lastCommand_ = command;
  Repaint();
}

KwListPage::KwListPage(CIKWBaseDlg* owner) : CIKWBaseWnd(owner) {
  SetBackground(true, kPageBackground);
}

void KwListPage::CreateAllLineFromData() {
  KwViewLockGuard lock(LineListMutex());
  ClearLines();
  for (int i = 0; i < 40; ++i) {
    auto row = std::make_unique<CKWOneLineForm>(40 + (i % 3) * 8);
    CKWBaseViewObject* c = row->NewCell(1, kKwCellText);
    c->text = std::string(KwGalleryText("Row ", "第 ")) + std::to_string(i + 1) +
              KwGalleryText("", " 行");
    c->drawBackground = false;
    c = row->NewCell(2, kKwCellButton);
    c->text = KwGalleryText("Open", "打开");
    c = row->NewCell(3, kKwCellCheck);
    c->text = KwGalleryText("Keep", "保留");
    c->checked = i % 2 == 0;
    c->drawBackground = false;
    AppendLine(std::move(row));
  }
}

void KwListPage::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) {
  if (CKWBaseViewObject* c = line->GetCell(1)) c->SetRect(left + 16, top, 160, height);
  if (CKWBaseViewObject* c = line->GetCell(2)) {
    c->SetRect(left + width - 110, top + (height - 28) / 2, 90, 28);
  }
  if (CKWBaseViewObject* c = line->GetCell(3)) c->SetRect(left + 200, top, 120, height);
}

// The list keeps its own row heights when resized.
void KwListPage::KwOnSize(int, int) {
  RebuildRowTable();
}

KwGalleryDlg::KwGalleryDlg(CIKWBaseWnd* page, const char* title, int width, int height)
    : page_(page), width_(width), height_(height) {
  page_->setParent(this);
  page_->SetOwnerDlg(this);
  SetTitle(title);
  m_minWidth = 320;
  m_minHeight = 240;
}

void KwGalleryDlg::IKW_OnInitDialog() {
  resize(width_, height_);
  const KwRect r{0, kKwCaptionBand, width_, height_};
  page_->resize(r.Width(), r.Height());
  page_->CreateAllLineFromData();
  page_->Create(this, r, 1010);
  page_->RebuildRowTable();
  page_->update();
}

void KwGalleryDlg::IKW_OnSize(int width, int height) {
  page_->setGeometry(0, kKwCaptionBand, width, std::max(1, height - kKwCaptionBand));
}

void KwGalleryDlg::IKW_OnCommand(int command) {
  if (command == kKwCmdClose) EndDialog(QDialog::Rejected);
}
