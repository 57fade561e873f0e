// CKwFreeForm: the drawn window at the bottom of every view.
//
// It paints through a back buffer of the client size (made again only when
// the size changes), turns Qt's window events into the overridable Kw...
// hooks below, delivers posted commands (KwPostCommand) to OnCommand, and
// coalesces repaint requests from any thread on a 100 ms refresh timer.
// The free-form element tree of the widget library is not used by views;
// its hooks exist so derived classes keep one hook table.
//
// Lifetime: a child widget owned by its Qt parent (the hosting dialog) or
// by whoever created it without a parent.  Everything in it is touched on
// the user-interface thread only, except RequestRepaint, which any thread
// may call while the view exists.
#pragma once

#include <QImage>
#include <QWidget>
#include <atomic>

#include "baseview/basectrl/kwviewlocks.h"
#include "baseview/kwrect.h"

class QPainter;
class KwFreeElement;  // Element of the widget library's free-form tree (unused).

inline constexpr int kKwRefreshTimerId = 3098;
inline constexpr int kKwRefreshPeriodMs = 100;

class CKwFreeForm : public QWidget {
  Q_OBJECT

 public:
  explicit CKwFreeForm(QWidget* parent = nullptr);
  ~CKwFreeForm() override;

  // Makes the view a visible child of `parent` at `rect` (parent client
  // coordinates) with a control ID, as a dialog creates its pages.
  bool Create(QWidget* parent, const KwRect& rect, int controlId);
  int ControlId() const { return controlId_; }
  // Calls KwOnDestroy and stops the refresh timer; the owner then deletes
  // the object.  Safe to call twice.
  void DestroyView();

  // Asks for a repaint.  Safe from any thread: with auto-refresh on, the
  // request only sets a flag that the next refresh tick turns into one
  // repaint; otherwise it is queued to the user-interface thread.
  void RequestRepaint();
  // Auto-refresh is on by default; turning it off stops the timer.
  void SetAutoRefresh(bool on);
  bool AutoRefresh() const { return autoRefresh_.load(); }

  // Suppress-copy: draw into the back buffer without showing it.
  void SetSuppressCopy(bool on) { suppressCopy_ = on; }
  bool FirstPaintDone() const { return firstPaintDone_; }
  bool IsPainting() const { return painting_; }
  // The content of the last paint (the back buffer).
  const QImage& BackBuffer() const { return backBuffer_; }
  // Number of completed paints; tests use it to see repaints coalesce.
  int PaintCount() const { return paintCount_.load(); }

  // The page's own size: the widget's size divided by the content scale.
  // Layouts, hit-tests and painting all work in these units.
  KwRect ClientRect() const { return KwRect{0, 0, ViewWidth(), ViewHeight()}; }
  int ViewWidth() const;
  int ViewHeight() const;

  // Draws the view scaled down (or up) by `scale`, for a window that had to
  // be made smaller than designed to fit its screen.  Pointer positions are
  // scaled back, so the page never knows.  1 draws at the designed size.
  void SetContentScale(double scale);
  double ContentScale() const { return contentScale_; }
  // A view rectangle in widget pixels.
  QRect ToWidgetRect(const KwRect& r) const;

  // Hooks, in table order.  Defaults do nothing (or return 0).
  virtual void KwOnChildCommand(int command, int value);
  virtual void KwOnSize(int width, int height);
  virtual void KwReservedHook1();
  virtual void KwOnFirstPaint();
  virtual void KwPasteText(const char* text);
  virtual int KwOnNotify(int command, int value);
  virtual int KwOnNotifyEx(int command, int value);
  virtual void KwOnRefreshTimer();
  virtual void KwOnDraw(QPainter* dc);
  virtual void KwOnElementPressed(KwFreeElement* element);
  virtual void KwOnElementReleased(KwFreeElement* element);
  virtual void KwOnElementClicked(KwFreeElement* element);
  virtual void KwOnLButtonDblClk(int flags, KwPoint point);
  virtual void KwOnLButtonDown(int flags, KwPoint point);
  virtual void KwOnLButtonUp(int flags, KwPoint point);
  virtual void KwOnRButtonDown(int flags, KwPoint point);
  virtual void KwOnRButtonUp(int flags, KwPoint point);
  virtual void KwOnMouseMove(int flags, KwPoint point);
  virtual void KwOnClose();
  virtual void KwOnCreate();
  virtual void KwOnElementEnter(KwFreeElement* element);
  virtual void KwOnElementLeave(KwFreeElement* element);
  virtual void KwOnVScroll(int code, int position, QWidget* scrollBar);
  virtual void KwOnHScroll(int code, int position, QWidget* scrollBar);
  virtual int KwOnMouseWheel(int flags, int delta, KwPoint point);
  virtual void KwOnDestroy();
  virtual void KwOnKeyDown(int key, int repeat, int flags);
  virtual void KwOnKeyUp(int key, int repeat, int flags);
  virtual void KwOnKillFocus(QWidget* newWindow);
  virtual void KwOnChar(int key, int repeat, int flags);
  virtual void KwOnMouseLeave();
  virtual void KwOnSetFocus();
  virtual int KwOnSetCursor(QWidget* window, int hitTest, int message);

  // A posted command (KwPostCommand) arrives here on the user-interface
  // thread.  The default hands it to KwOnChildCommand.
  virtual void OnCommand(int command);

 protected:
  // Repaint now when called on the user-interface thread outside painting;
  // goes through the request flag otherwise.
  void Repaint();
  void SetHandCursor(bool hand);

  bool event(QEvent* e) override;
  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

  KwViewMutex repaintMutex_{kKwLockRepaint};

 private:
  void StartTimer();
  void StopTimer();

  KwPoint ToView(const QPointF& p) const;

  QImage backBuffer_;
  double contentScale_ = 1.0;
  int controlId_ = 0;
  int timerId_ = 0;
  // Read by worker threads in RequestRepaint.
  std::atomic<bool> autoRefresh_{true};
  bool repaintRequested_ = false;  // Guarded by repaintMutex_.
  bool painting_ = false;
  bool firstPaintDone_ = false;
  bool suppressCopy_ = false;
  std::atomic<bool> destroyed_{false};
  std::atomic<int> paintCount_{0};
};

// Mouse flags passed to the hooks, as the platform's key-state bits.
enum KwMouseFlags : int {
  kKwMkLButton = 0x0001,
  kKwMkRButton = 0x0002,
  kKwMkShift = 0x0004,
  kKwMkControl = 0x0008,
};
