#include "baseview/basectrl/CKwFreeForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QThread>
#include <QTimerEvent>
#include <QWheelEvent>

#include "baseview/kwcommand.h"

namespace {

int FlagsOf(const QMouseEvent* e) {
  int flags = 0;
  if (e->buttons() & Qt::LeftButton) flags |= kKwMkLButton;
  if (e->buttons() & Qt::RightButton) flags |= kKwMkRButton;
  if (e->modifiers() & Qt::ShiftModifier) flags |= kKwMkShift;
  if (e->modifiers() & Qt::ControlModifier) flags |= kKwMkControl;
  return flags;
}

}  // namespace

CKwFreeForm::CKwFreeForm(QWidget* parent) : QWidget(parent) {
  // The view paints every pixel itself from its back buffer, so Qt must
  // neither erase nor compose a background first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setCursor(Qt::ArrowCursor);
  StartTimer();
}

CKwFreeForm::~CKwFreeForm() {
  StopTimer();
}

bool CKwFreeForm::Create(QWidget* parent, const KwRect& rect, int controlId) {
  controlId_ = controlId;
  if (parent != nullptr && parentWidget() != parent) setParent(parent);
  setGeometry(rect.left, rect.top, rect.Width(), rect.Height());
  KwOnCreate();
  show();
  return true;
}

void CKwFreeForm::DestroyView() {
  if (destroyed_) return;
  destroyed_ = true;
  StopTimer();
  KwOnDestroy();
  backBuffer_ = QImage();
}

void CKwFreeForm::StartTimer() {
  if (timerId_ == 0 && autoRefresh_) timerId_ = startTimer(kKwRefreshPeriodMs);
}

void CKwFreeForm::StopTimer() {
  if (timerId_ != 0) {
    killTimer(timerId_);
    timerId_ = 0;
  }
}

void CKwFreeForm::SetAutoRefresh(bool on) {
  autoRefresh_ = on;
  if (on) {
    StartTimer();
  } else {
    StopTimer();
  }
}

void CKwFreeForm::RequestRepaint() {
  if (autoRefresh_ && !destroyed_) {
    KwViewLockGuard lock(repaintMutex_);
    if (lock.owns()) repaintRequested_ = true;
    return;
  }
  if (QThread::currentThread() == thread()) {
    update();
  } else {
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
  }
}

void CKwFreeForm::Repaint() {
  if (painting_ || autoRefresh_ || QThread::currentThread() != thread()) {
    RequestRepaint();
  } else {
    update();
  }
}

void CKwFreeForm::SetHandCursor(bool hand) {
  setCursor(hand ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

bool CKwFreeForm::event(QEvent* e) {
  if (e->type() == KwCommandEvent::EventType()) {
    OnCommand(static_cast<KwCommandEvent*>(e)->command());
    return true;
  }
  return QWidget::event(e);
}

void CKwFreeForm::paintEvent(QPaintEvent*) {
  painting_ = true;
  const QSize size = this->size();
  if (size.isEmpty()) {
    painting_ = false;
    return;
  }
  if (backBuffer_.size() != size) backBuffer_ = QImage(size, QImage::Format_RGB32);
  {
    QPainter dc(&backBuffer_);
    if (contentScale_ != 1.0) dc.scale(contentScale_, contentScale_);
    KwOnDraw(&dc);
  }
  if (!suppressCopy_) {
    QPainter screen(this);
    screen.drawImage(0, 0, backBuffer_);
  }
  ++paintCount_;
  if (!firstPaintDone_) {
    firstPaintDone_ = true;
    KwOnFirstPaint();
  }
  painting_ = false;
}

void CKwFreeForm::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  KwOnSize(ViewWidth(), ViewHeight());
}

int CKwFreeForm::ViewWidth() const {
  return contentScale_ == 1.0 ? width() : static_cast<int>(width() / contentScale_ + 0.5);
}

int CKwFreeForm::ViewHeight() const {
  return contentScale_ == 1.0 ? height() : static_cast<int>(height() / contentScale_ + 0.5);
}

void CKwFreeForm::SetContentScale(double scale) {
  if (!(scale > 0.05) || scale == contentScale_) return;
  contentScale_ = scale;
  KwOnSize(ViewWidth(), ViewHeight());
  update();
}

QRect CKwFreeForm::ToWidgetRect(const KwRect& r) const {
  const double s = contentScale_;
  const int left = static_cast<int>(r.left * s + 0.5);
  const int top = static_cast<int>(r.top * s + 0.5);
  const int right = static_cast<int>(r.right * s + 0.5);
  const int bottom = static_cast<int>(r.bottom * s + 0.5);
  return QRect(left, top, right - left, bottom - top);
}

KwPoint CKwFreeForm::ToView(const QPointF& p) const {
  if (contentScale_ == 1.0) return KwPoint{p.toPoint().x(), p.toPoint().y()};
  return KwPoint{static_cast<int>(p.x() / contentScale_), static_cast<int>(p.y() / contentScale_)};
}

void CKwFreeForm::timerEvent(QTimerEvent* e) {
  if (e->timerId() != timerId_) {
    QWidget::timerEvent(e);
    return;
  }
  bool wanted = false;
  {
    KwViewLockGuard lock(repaintMutex_);
    if (lock.owns()) {
      wanted = repaintRequested_;
      repaintRequested_ = false;
    }
  }
  if (wanted) update();
  KwOnRefreshTimer();
}

void CKwFreeForm::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    KwOnLButtonDown(FlagsOf(e), ToView(e->position()));
  } else if (e->button() == Qt::RightButton) {
    KwOnRButtonDown(FlagsOf(e), ToView(e->position()));
  }
}

void CKwFreeForm::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    KwOnLButtonUp(FlagsOf(e), ToView(e->position()));
  } else if (e->button() == Qt::RightButton) {
    KwOnRButtonUp(FlagsOf(e), ToView(e->position()));
  }
}

void CKwFreeForm::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) {
    // A double click is a second press as far as the rows are concerned;
    // the rows decide what it clicks (a check box toggles again, a button
    // does not count it as another click).
    KwOnLButtonDblClk(FlagsOf(e), ToView(e->position()));
  } else if (e->button() == Qt::RightButton) {
    KwOnRButtonDown(FlagsOf(e), ToView(e->position()));
  }
}

void CKwFreeForm::mouseMoveEvent(QMouseEvent* e) {
  KwOnMouseMove(FlagsOf(e), ToView(e->position()));
}

void CKwFreeForm::wheelEvent(QWheelEvent* e) {
  const KwPoint p = ToView(e->position());
  int flags = 0;
  if (e->buttons() & Qt::LeftButton) flags |= kKwMkLButton;
  const int delta = e->angleDelta().y();
  if (delta == 0 || KwOnMouseWheel(flags, delta, p) == 0) {
    e->ignore();
    return;
  }
  e->accept();
}

void CKwFreeForm::leaveEvent(QEvent* e) {
  KwOnMouseLeave();
  QWidget::leaveEvent(e);
}

void CKwFreeForm::keyPressEvent(QKeyEvent* e) {
  KwOnKeyDown(e->key(), e->isAutoRepeat() ? 1 : 0, static_cast<int>(e->modifiers()));
  const QString text = e->text();
  if (!text.isEmpty()) KwOnChar(text.at(0).unicode(), 1, 0);
  // The hosting dialog still sees the key (Escape, Enter, Tab).
  QWidget::keyPressEvent(e);
}

void CKwFreeForm::keyReleaseEvent(QKeyEvent* e) {
  KwOnKeyUp(e->key(), e->isAutoRepeat() ? 1 : 0, static_cast<int>(e->modifiers()));
  QWidget::keyReleaseEvent(e);
}

void CKwFreeForm::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  KwOnSetFocus();
}

void CKwFreeForm::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  KwOnKillFocus(QApplication::focusWidget());
}

void CKwFreeForm::closeEvent(QCloseEvent* e) {
  KwOnClose();
  QWidget::closeEvent(e);
}

void CKwFreeForm::OnCommand(int command) {
  KwOnChildCommand(command, 0);
}

void CKwFreeForm::KwOnChildCommand(int command, int value) {
  if (KwOnNotify(command, value) != 0) Repaint();
}
void CKwFreeForm::KwOnSize(int, int) {}
void CKwFreeForm::KwReservedHook1() {}
void CKwFreeForm::KwOnFirstPaint() {}
void CKwFreeForm::KwPasteText(const char*) {}
int CKwFreeForm::KwOnNotify(int, int) {
  return 0;
}
int CKwFreeForm::KwOnNotifyEx(int, int) {
  return 0;
}
void CKwFreeForm::KwOnRefreshTimer() {}
void CKwFreeForm::KwOnDraw(QPainter*) {}
void CKwFreeForm::KwOnElementPressed(KwFreeElement*) {}
void CKwFreeForm::KwOnElementReleased(KwFreeElement*) {}
void CKwFreeForm::KwOnElementClicked(KwFreeElement*) {}
void CKwFreeForm::KwOnLButtonDblClk(int, KwPoint) {}
void CKwFreeForm::KwOnLButtonDown(int, KwPoint) {}
void CKwFreeForm::KwOnLButtonUp(int, KwPoint) {}
void CKwFreeForm::KwOnRButtonDown(int, KwPoint) {}
void CKwFreeForm::KwOnRButtonUp(int, KwPoint) {}
void CKwFreeForm::KwOnMouseMove(int, KwPoint) {}
void CKwFreeForm::KwOnClose() {}
void CKwFreeForm::KwOnCreate() {}
void CKwFreeForm::KwOnElementEnter(KwFreeElement*) {}
void CKwFreeForm::KwOnElementLeave(KwFreeElement*) {}
void CKwFreeForm::KwOnVScroll(int, int, QWidget*) {}
void CKwFreeForm::KwOnHScroll(int, int, QWidget*) {}
int CKwFreeForm::KwOnMouseWheel(int, int, KwPoint) {
  return 0;
}
void CKwFreeForm::KwOnDestroy() {}
void CKwFreeForm::KwOnKeyDown(int, int, int) {}
void CKwFreeForm::KwOnKeyUp(int, int, int) {}
void CKwFreeForm::KwOnKillFocus(QWidget*) {}
void CKwFreeForm::KwOnChar(int, int, int) {}
void CKwFreeForm::KwOnMouseLeave() {}
void CKwFreeForm::KwOnSetFocus() {}
int CKwFreeForm::KwOnSetCursor(QWidget*, int, int) {
  return 0;
}
