#include "app/common/ikwbasepopup.h"

#include <QHideEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QTimer>

#include "baseutil/ikwlog.h"
#include "baseview/basectrl/kwkeynav.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdraw.h"

namespace {

constexpr KwColor kPopupBackground = KwRGB(55, 55, 57);
constexpr KwColor kPopupHover = KwRGB(48, 48, 48);
constexpr KwColor kPopupOutline = KwRGB(99, 99, 99);

std::string CutItemText(const std::string& text) {
  if (text.size() <= kKwPopupItemTextMax) return text;
  size_t cut = kKwPopupItemTextMax;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return text.substr(0, cut);
}

}  // namespace

CIKWBasePopup::CIKWBasePopup(IKWMShowPopMenu* menu) : CIKWBaseWnd(menu), menu_(menu) {
  SetBackground(true, kPopupBackground);
  setFocusPolicy(Qt::StrongFocus);
}

void CIKWBasePopup::CreateAllLineFromData() {
  ClearLines();
  for (const KwPopupItem& item : items_) {
    KW_LOG(4, "CIKWBasePopup::CreateAllLineFromData", "%d cmd:%d",
           static_cast<int>(&item - items_.data()), item.command);
    auto line = std::make_unique<CKWOneLineForm>(kKwPopupRowHeight);
    CKWBaseViewObject* cell = line->NewCell(kKwPopupItemCell, kKwCellText);
    cell->text = CutItemText(item.text);
    cell->drawBackground = false;
    cell->fontSize = 14;
    AppendLine(std::move(line));
  }
}

void CIKWBasePopup::LayoutLine(CKWOneLineForm* line, int left, int top, int width, int) {
  if (CKWBaseViewObject* cell = line->GetCell(kKwPopupItemCell)) {
    cell->SetRect(left + 16, top + 4, width - 32, 28);
  }
}

void CIKWBasePopup::DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                                 int) {
  if (hover_ < 0 || GetLine(hover_) != line) return;
  KwFillRound(dc, KwRect{left + 10, top + 4, right - 10, top + 32}, kPopupHover, 8);
}

void CIKWBasePopup::KwAfterDraw(QPainter* dc) {
  KwDrawOutline(dc, KwRect{0, 0, width() - 1, height() - 1}, kPopupOutline, 1);
}

void CIKWBasePopup::KwOnSize(int, int) {
  RebuildRowTable();
}

void CIKWBasePopup::OnLButtonDownLine(int row, int, int) {
  if (row < 0 || row >= static_cast<int>(items_.size())) return;
  const int command = items_[static_cast<size_t>(row)].command;
  KW_LOG(4, "CIKWBasePopup::OnLButtonDownLine", "%d cmd:%d", row, command);
  // The window goes away inside Choose; finish the press first.
  QTimer::singleShot(0, menu_, [menu = menu_, command] { menu->Choose(command); });
}

void CIKWBasePopup::OnMouseMoveAfter(int flags, KwPoint point) {
  CIKWBaseWnd::OnMouseMoveAfter(flags, point);
  if (HoveredRow() != hover_) {
    hover_ = HoveredRow();
    Repaint();
  }
}

void CIKWBasePopup::KwOnMouseLeave() {
  CIKWBaseWnd::KwOnMouseLeave();
  if (hover_ >= 0) {
    hover_ = -1;
    Repaint();
  }
}

void CIKWBasePopup::KwOnKillFocus(QWidget* newWindow) {
  // Focus moving inside the popup window is not a loss.
  if (newWindow != nullptr && newWindow->window() == menu_) return;
  KwPostCommand(menu_, kKwCmdPopupClose);
}

void CIKWBasePopup::SetHighlight(int row) {
  if (row == hover_) return;
  hover_ = row;
  update();
}

void CIKWBasePopup::keyPressEvent(QKeyEvent* e) {
  KwKeyInput in;
  in.key = e->key();
  in.shift = (e->modifiers() & Qt::ShiftModifier) != 0;
  in.control = (e->modifiers() & Qt::ControlModifier) != 0;
  in.alt = (e->modifiers() & Qt::AltModifier) != 0;
  in.autoRepeat = e->isAutoRepeat();
  const KwListKeyAction action = KwMapListKey(in);
  const int count = static_cast<int>(items_.size());
  switch (action) {
    case KwListKeyAction::None:
      e->ignore();
      return;
    case KwListKeyAction::Choose:
      if (hover_ >= 0 && hover_ < count) {
        const int command = items_[static_cast<size_t>(hover_)].command;
        QTimer::singleShot(0, menu_, [menu = menu_, command] { menu->Choose(command); });
      } else {
        QTimer::singleShot(0, menu_, [menu = menu_] { menu->Dismiss(); });
      }
      break;
    case KwListKeyAction::Close:
      QTimer::singleShot(0, menu_, [menu = menu_] { menu->Dismiss(); });
      break;
    default:
      SetHighlight(KwMoveListHighlight(hover_, count, action));
      break;
  }
  e->accept();
}

// The list is not a page: a press tells nobody.
void CIKWBasePopup::KwOnSetFocus() {}

IKWMShowPopMenu::IKWMShowPopMenu(QWidget* parent) : CIKWBaseDlg(parent) {
  // A popup closes itself on a press outside it, which is when the list
  // loses its focus.
  setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
  setModal(false);
  setAttribute(Qt::WA_DeleteOnClose);
  m_drawCaption = 0;
  m_drawIcon = 0;
  m_hasSizeButtons = 0;
  m_minWidth = 1;
  m_minHeight = 1;
  // Escape and a press outside end the popup like a cancel.
  m_closeOnCancel = 1;
  list_ = new CIKWBasePopup(this);
  list_->setParent(this);
}

IKWMShowPopMenu::~IKWMShowPopMenu() = default;

void IKWMShowPopMenu::SetItems(const std::vector<KwPopupItem>& items) {
  items_ = items;
  list_->SetItems(items_);
}

void IKWMShowPopMenu::Popup(int screenX, int screenY, int width) {
  setGeometry(screenX, screenY, width, std::max(KwPopupHeight(static_cast<int>(items_.size())), 1));
  show();
  raise();
  activateWindow();
  list_->setFocus(Qt::PopupFocusReason);
}

void IKWMShowPopMenu::IKW_OnInitDialog() {
  list_->CreateAllLineFromData();
  list_->SetHighlight(current_);
  list_->Create(this, KwRect{0, 0, width(), height()}, kKwPopupListId);
  list_->RebuildRowTable();
  list_->update();
}

void IKWMShowPopMenu::IKW_OnSize(int width, int height) {
  list_->setGeometry(0, 0, width, height);
  list_->RebuildRowTable();
}

void IKWMShowPopMenu::IKW_OnCommand(int command) {
  if (command == kKwCmdPopupClose) Dismiss();
}

void IKWMShowPopMenu::IKW_OnSetFocus(QWidget*) {
  list_->setFocus(Qt::OtherFocusReason);
}

void IKWMShowPopMenu::Choose(int command) {
  Finish(command);
}

void IKWMShowPopMenu::Dismiss() {
  Finish(-1);
}

void IKWMShowPopMenu::Finish(int command) {
  if (finished_) return;
  finished_ = true;
  if (choice_) choice_(command);
  QPointer<QObject> notify = notify_;
  if (notify) {
    if (command >= 0) KwPostCommand(notify, command);
    KwPostCommand(notify, kKwCmdOwnerNotify);
  }
  if (isVisible()) EndDialog(command >= 0 ? QDialog::Accepted : QDialog::Rejected);
}

void IKWMShowPopMenu::hideEvent(QHideEvent* e) {
  CIKWBaseDlg::hideEvent(e);
  // Closed from outside (a press elsewhere, the window system): no choice.
  if (!finished_) Finish(-1);
}
