#include "tool/makepackage/window/ikwmakedlg.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "baseutil/ikwlog.h"
#include "baseview/kwcommand.h"
#include "main/kwglobals.h"
#include "tool/makepackage/window/kwmakelayout.h"
#include "tool/makepackage/window/kwmakeprompt.h"
#include "tool/makepackage/kwmakerun.h"

namespace {

QRect ToQRect(const KwRect& r) {
  return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

CIKWMakeDlg::CIKWMakeDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(kKwMakeDlgCaption);
  setObjectName("kwMakeDialog");
  const QRect client = MapDialogRect(0, 0, kKwMakeDlgWidthDu, kKwMakeDlgHeightDu);
  setFixedSize(client.size());

  for (size_t i = 0; i < kKwMakeDlgControlCount; ++i) {
    const KwDialogControl& c = kKwMakeDlgControls[i];
    QWidget* w = nullptr;
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
      case KwDialogControlKind::Button: {
        auto* button = new QPushButton(text, this);
        // Enter presses OK, as the template's default button.
        button->setAutoDefault(false);
        button->setDefault(c.id == kKwMakeDlgOk);
        w = button;
        break;
      }
      case KwDialogControlKind::Edit:
        w = new QLineEdit(this);
        break;
      case KwDialogControlKind::Static:
        w = new QLabel(text, this);
        break;
    }
    if (c.id != 0) w->setObjectName(QString::number(c.id));
    QRect r = MapDialogRect(c.x, c.y, c.width, c.height);
    // A label sized for the platform's dialog font may be too narrow in
    // this one; it grows to the right into the free space before the edits
    // rather than cutting its text.
    if (c.kind == KwDialogControlKind::Static && !text.isEmpty()) {
      r.setWidth(std::max(r.width(), QFontMetrics(font()).horizontalAdvance(text) + 2));
    }
    w->setGeometry(r);
  }
  from_ = findChild<QLineEdit*>(QString::number(kKwMakeDlgFrom));
  to_ = findChild<QLineEdit*>(QString::number(kKwMakeDlgTo));
  name_ = findChild<QLineEdit*>(QString::number(kKwMakeDlgName));
  status_ = findChild<QLabel*>(QString::number(kKwMakeDlgStatus));

  auto button = [this](int id) { return findChild<QPushButton*>(QString::number(id)); };
  connect(button(kKwMakeDlgOk), &QPushButton::clicked, this, [this] { OnOk(); });
  connect(button(kKwMakeDlgCancel), &QPushButton::clicked, this, [this] { OnCancel(); });
  connect(button(kKwMakeDlgBrowseFrom), &QPushButton::clicked, this, [this] { Browse(from_); });
  connect(button(kKwMakeDlgBrowseTo), &QPushButton::clicked, this, [this] { Browse(to_); });

  settings_ = KwReadMakeIni(g_exeDir);
  name_->setText(QString::fromStdString(settings_.package));
  from_->setText(QString::fromStdString(settings_.fromPath));
  to_->setText(QString::fromStdString(settings_.toPath));
}

CIKWMakeDlg::~CIKWMakeDlg() {
  StopAndWait();
}

QRect CIKWMakeDlg::MapDialogRect(int x, int y, int width, int height) const {
  const QFontMetrics fm(font());
  const int baseX = KwDialogBaseUnitX(
      fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return ToQRect(KwDialogUnitsToPixels(x, y, width, height, baseX, fm.height()));
}

QWidget* CIKWMakeDlg::Control(int id) const {
  return findChild<QWidget*>(QString::number(id));
}

bool CIKWMakeDlg::RunUnderWay() const {
  return maker_ != nullptr && !maker_->Done();
}

void CIKWMakeDlg::StopAndWait() {
  if (maker_ == nullptr) return;
  maker_->Cancel();
  maker_->WaitDone();
  maker_.reset();
}

void CIKWMakeDlg::OnMakeCommand(int32_t command) {
  KwPostCommand(this, command);
}

int CIKWMakeDlg::OnProgress(void* context, int32_t, const char* text, int64_t total) {
  auto* dlg = static_cast<CIKWMakeDlg*>(context);
  const QString line = QString::fromStdString(KwMakeStatusText(total, text));
  // The label belongs to the dialog's thread; the call is queued there.
  QMetaObject::invokeMethod(
      dlg, [dlg, line] { dlg->status_->setText(line); }, Qt::QueuedConnection);
  return 0;
}

void CIKWMakeDlg::OnOk() {
  // One run per dialog (it closes when the run ends): a second maker
  // would write the same volumes while the first is still at work.
  if (maker_ != nullptr) {
    KW_LOG(4, "CIKWMakeDlg::OnOk", "a run was started already");
    return;
  }
  KwMakeSettings s = settings_;
  s.fromPath = from_->text().toStdString();
  s.toPath = to_->text().toStdString();
  s.package = name_->text().toStdString();
  if (!KwMakeInputComplete(s)) return;
  settings_ = s;
  maker_ = KwStartMakeRun(g_exeDir, settings_, &CIKWMakeDlg::OnProgress, this, this);
}

void CIKWMakeDlg::OnCancel() {
  if (RunUnderWay()) {
    // Only this dialog's run stops; the maker still closes and lists what
    // it wrote and then reports its end, which closes the dialog.
    maker_->Cancel();
    return;
  }
  QDialog::reject();
}

void CIKWMakeDlg::reject() {
  OnCancel();
}

void CIKWMakeDlg::Browse(QLineEdit* edit) {
  const std::string chosen = KwMakeChooseFolder(this, edit->text().toStdString());
  if (!chosen.empty()) edit->setText(QString::fromStdString(chosen));
}

bool CIKWMakeDlg::event(QEvent* e) {
  if (e->type() == KwCommandEvent::EventType()) {
    const int command = static_cast<KwCommandEvent*>(e)->command();
    KW_LOG(4, "CIKWMakeDlg::OnCommand", "recv:%d", command);
    if (command == IKWMakePkg::kCommandDone) QDialog::reject();
    return true;
  }
  return QDialog::event(e);
}
