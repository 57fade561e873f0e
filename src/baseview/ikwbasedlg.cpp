#include "baseview/ikwbasedlg.h"

#include <QApplication>
#include <QFocusEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <QScreen>
#include <QTimerEvent>

#include "baseutil/ikwlog.h"
#include "baseview/kwcommand.h"
#include "baseview/kwdraw.h"
#include "baseview/kwplacement.h"
#include "images/kwembedded.h"
#include "images/kwimageregistry.h"
#include "images/kwimageutil.h"
#include "language/ikwlang.h"
#include "main/kwglobals.h"

namespace {

Qt::CursorShape ToShape(int cursor) {
  switch (cursor) {
    case kKwCursorSizeWE:
      return Qt::SizeHorCursor;
    case kKwCursorSizeNS:
      return Qt::SizeVerCursor;
    default:
      return Qt::ArrowCursor;
  }
}

int Flags(const QMouseEvent* event) {
  return static_cast<int>(event->buttons());
}

KwPoint ClientPoint(const QMouseEvent* event) {
  QPoint p = event->position().toPoint();
  return {p.x(), p.y()};
}

KwPoint ScreenPoint(const QMouseEvent* event) {
  QPoint p = event->globalPosition().toPoint();
  return {p.x(), p.y()};
}

}  // namespace

CIKWBaseDlg::CIKWBaseDlg(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setModal(true);
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  // The frame paints every pixel itself; no system background is erased.
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  setMinimumSize(1, 1);
  SetTitle(IKWLang::Instance()->GetText("tarnwick"));
  // The application icon, as window icon and for the caption.
  icon_ = std::make_unique<CKwImageUtil>();
  if (const KwEmbeddedImage* me = KwFindEmbeddedImage("me.png")) {
    if (icon_->Decode(me->bytes, me->count) == 0)
      setWindowIcon(QIcon(QPixmap::fromImage(icon_->Image())));
  }
}

CIKWBaseDlg::~CIKWBaseDlg() {
  // A derived dialog is already gone here, so only the frame's own part of
  // the destruction runs; EndDialog runs the hook while it still exists.
  timer_.stop();
}

void CIKWBaseDlg::SetTitle(const char* utf8) {
  KwCopyText(m_title, sizeof(m_title), utf8 ? utf8 : "");
}

void CIKWBaseDlg::EnsureInitialized() {
  if (!initialized_) InitDialog();
}

void CIKWBaseDlg::setVisible(bool visible) {
  // Initialisation runs before the window first appears, as a modal dialog's
  // does, so derived dialogs place themselves and create their pages first.
  if (visible && !initialized_) InitDialog();
  if (visible && isWindow()) {
    // Wherever a dialog placed itself, its caption and close button stay
    // on the screen.
    const KwRect area = AvailableArea();
    const QRect g = geometry();
    const KwRect now = KwRectXYWH(g.x(), g.y(), g.width(), g.height());
    if (!area.IsEmpty()) {
      const KwRect inside = KwKeepInside(area, now);
      if (inside != now) move(inside.left, inside.top);
    }
  }
  QDialog::setVisible(visible);
}

void CIKWBaseDlg::InitDialog() {
  initialized_ = true;
  destroyed_ = false;
  logic_.Reset();
  timer_.start(kKwFrameTimerMs, this);
  IKW_OnInitDialog();
}

void CIKWBaseDlg::DestroyDialog() {
  if (destroyed_ || !initialized_) return;
  destroyed_ = true;
  timer_.stop();
  IKW_OnDestroy();
  close_.reset();
  minimize_.reset();
  maximize_.reset();
  imagesLoaded_ = false;
  initialized_ = false;
}

void CIKWBaseDlg::done(int result) {
  QDialog::done(result);
  DestroyDialog();
}

void CIKWBaseDlg::reject() {
  // The design's fallback to an application-wide command callback is never
  // registered by the installer; dialogs that want Escape to close ask for
  // the close request instead, so it takes the close button's road.
  if (m_closeOnCancel != 0) {
    EndDialog(QDialog::Rejected);
  } else if (m_escapeRequestsClose != 0) {
    KwPostCommand(this, kKwCmdClose);
  }
}

KwRect CIKWBaseDlg::AvailableArea() const {
  QScreen* screen = nullptr;
  if (isVisible() || geometry().isValid()) {
    screen = QGuiApplication::screenAt(geometry().center());
  }
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return KwRect{};
  const QRect a = screen->availableGeometry();
  return KwRectXYWH(a.x(), a.y(), a.width(), a.height());
}

void CIKWBaseDlg::OnCommand(int command) {
  if (command == kKwCmdEndCancel) {
    EndDialog(QDialog::Rejected);
    return;
  }
  logic_.ClearCloseState();
  update();
  KW_LOG(4, "CIKWBaseDlg::OnCommand", "recv:%d", command);
  IKW_OnCommand(command);
}

bool CIKWBaseDlg::event(QEvent* event) {
  if (event->type() == KwCommandEvent::EventType()) {
    OnCommand(static_cast<KwCommandEvent*>(event)->command());
    return true;
  }
  return QDialog::event(event);
}

void CIKWBaseDlg::LoadCaptionImages() {
  if (imagesLoaded_) return;
  imagesLoaded_ = true;
  CKwImageRegistry* registry = CKwImageRegistry::Current();
  if (registry == nullptr) return;  // A missing picture is simply not drawn.
  close_.reset(registry->CreateImage("close.png"));
  minimize_.reset(registry->CreateImage("min.png"));
  maximize_.reset(registry->CreateImage("max.png"));
}

void CIKWBaseDlg::PaintCaption(QPainter* dc) {
  const int w = width();
  const int h = height();
  KwCaptionLayout layout = KwComputeCaptionLayout(w, m_drawIcon != 0);
  KwFrameStrips strips = KwComputeFrameStrips(w, h);
  KwFillRect(dc, layout.band, kKwCaptionColour);
  KwFillRect(dc, strips.top, kKwCaptionColour);
  KwFillRect(dc, strips.left, kKwFrameEdgeColour);
  KwFillRect(dc, strips.right, kKwFrameEdgeColour);
  KwFillRect(dc, strips.bottom, kKwFrameEdgeColour);
  if (m_drawCaption == 0) return;
  KwRect window{0, 0, w, h};
  IKW_BeforeCaption(dc, window, window);
  LoadCaptionImages();
  for (int b : {kKwBtnClose, kKwBtnMax, kKwBtnMin}) {
    if (b != kKwBtnClose && m_hasSizeButtons == 0) continue;
    const KwRect& r = layout.buttons[b];
    if (logic_.ButtonState(b) == kKwButtonHover) KwDrawOutline(dc, r, kKwHoverOutline, 1);
    if (logic_.ButtonState(b) == kKwButtonPressed) KwFillRect(dc, r, kKwPressedFill);
  }
  KwDrawTextLine(dc, layout.title, kKwTitleColour, m_title, 16, kKwAlignLeft);
  if (close_) close_->Draw(dc, layout.images[kKwBtnClose].x, layout.images[kKwBtnClose].y, 24, 24);
  if (m_hasSizeButtons != 0) {
    if (maximize_)
      maximize_->Draw(dc, layout.images[kKwBtnMax].x, layout.images[kKwBtnMax].y, 24, 24);
    if (minimize_)
      minimize_->Draw(dc, layout.images[kKwBtnMin].x, layout.images[kKwBtnMin].y, 24, 24);
  }
  if (m_drawIcon != 0 && icon_) {
    icon_->Draw(dc, layout.icon.left, layout.icon.top, layout.icon.Width(), layout.icon.Height());
  }
  IKW_AfterCaption(dc, window, window);
}

void CIKWBaseDlg::paintEvent(QPaintEvent*) {
  QPainter dc(this);
  // A minimised window is never painted where it could be seen here (the
  // window manager hides it), so there is no iconic look to draw; without a
  // window manager the window stays in place and keeps its normal look.
  // A plain ground first, so a derived dialog that paints nothing shows no
  // stale pixels.
  dc.fillRect(rect(), KwToQColor(m_colour1));
  IKW_OnPaint(&dc);
  PaintCaption(&dc);
}

void CIKWBaseDlg::RepaintButtons() {
  KwCaptionLayout layout = KwComputeCaptionLayout(width(), m_drawIcon != 0);
  for (const KwRect& r : layout.buttons) update(KwToQRect(r).adjusted(-1, -1, 2, 2));
}

void CIKWBaseDlg::Apply(const KwFrameActions& actions) {
  for (int command : actions.commands) KwPostCommand(this, command);
  if (actions.cursor != kKwCursorUnchanged) setCursor(ToShape(actions.cursor));
  if (actions.moveWindow) {
    const KwRect& r = actions.windowRect;
    if (r.Width() != width() || r.Height() != height()) {
      setGeometry(r.left, r.top, r.Width(), r.Height());
    } else {
      move(r.left, r.top);
    }
  }
  if (actions.maximize == 1) showMaximized();
  if (actions.maximize == 2) showNormal();
  if (actions.repaintAll) {
    update();
  } else if (actions.repaintButtons) {
    RepaintButtons();
  }
}

void CIKWBaseDlg::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QDialog::mousePressEvent(event);
    return;
  }
  IKW_OnPress();
  logic_.drawCaption = m_drawCaption != 0;
  logic_.hasSizeButtons = m_hasSizeButtons != 0;
  logic_.minWidth = m_minWidth;
  logic_.minHeight = m_minHeight;
  KwPoint p = ClientPoint(event);
  QRect g = geometry();
  Apply(logic_.Press(p.x, p.y, width(), height(), ScreenPoint(event),
                     KwRect{g.left(), g.top(), g.left() + g.width(), g.top() + g.height()}));
  IKW_OnLButtonDown(Flags(event), p);
}

void CIKWBaseDlg::mouseMoveEvent(QMouseEvent* event) {
  KwPoint p = ClientPoint(event);
  if (logic_.DragMode() == kKwDragNone) {
    setCursor(ToShape(logic_.HoverCursor(p.x, p.y, width(), height())));
  }
  Apply(logic_.Move(p.x, p.y, width(), ScreenPoint(event)));
  IKW_OnMouseMove(Flags(event), p);
}

void CIKWBaseDlg::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QDialog::mouseReleaseEvent(event);
    return;
  }
  Apply(logic_.Release(ScreenPoint(event)));
  IKW_OnLButtonUp(Flags(event), ClientPoint(event));
}

void CIKWBaseDlg::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click is a second press for the frame (a drag may start with
  // it), except on a caption button: there it is the one click the first
  // press already made, so close, minimise and maximise act once.
  const KwPoint p = ClientPoint(event);
  if (event->button() == Qt::LeftButton && logic_.ButtonAt(p.x, p.y, width(), height())) return;
  mousePressEvent(event);
}

void CIKWBaseDlg::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return;  // Enter does nothing.
    case Qt::Key_Escape:
      reject();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void CIKWBaseDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  IKW_OnSize(event->size().width(), event->size().height());
}

void CIKWBaseDlg::timerEvent(QTimerEvent* event) {
  if (event->timerId() == timer_.timerId()) {
    IKW_OnTimer(kKwFrameTimerId);
    return;
  }
  QDialog::timerEvent(event);
}

void CIKWBaseDlg::focusInEvent(QFocusEvent* event) {
  QDialog::focusInEvent(event);
  IKW_OnSetFocus(nullptr);
}

void CIKWBaseDlg::focusOutEvent(QFocusEvent* event) {
  QDialog::focusOutEvent(event);
  IKW_OnKillFocus(QApplication::focusWidget());
}

void CIKWBaseDlg::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) update();
  if (event->type() == QEvent::WindowStateChange) {
    logic_.SetWindowState(isMaximized() ? 2 : 1);
  }
}
