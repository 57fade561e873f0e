// CIKWBaseDlg: the borderless modal dialog every window of the installer is
// built on.
//
// It paints its own dark caption (title, application icon, close, maximise
// and minimise buttons), lets the user move it by the caption and resize it
// by its edges, and relays button presses as command numbers posted to
// itself (10001 close request, 10002 minimise request), which the derived
// dialog handles in IKW_OnCommand.  Any thread may post commands to it with
// KwPostCommand; everything else happens on the user-interface thread.
// The dialog owns its caption images; derived dialogs own their pages as
// Qt children.
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <memory>

#include "baseview/kwframelogic.h"
#include "baseview/kwrect.h"

class CKwImageUtil;
class QPainter;

class CIKWBaseDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CIKWBaseDlg(QWidget* parent = nullptr);
  ~CIKWBaseDlg() override;

  // Ends the modal run with `result` (QDialog::Accepted / Rejected or any
  // other code), then runs the destroy hook once.  QDialog::done does the
  // same.  A dialog deleted while still shown skips the hook (its derived
  // part is already gone by then).
  void EndDialog(int result) { done(result); }
  void done(int result) override;

  // Escape (and a window-manager close) end the dialog only when this is set.
  int m_closeOnCancel = 0;
  // Without close-on-cancel, Escape asks to close as the caption's close
  // button does (command 10001) when this is set.
  int m_escapeRequestsClose = 0;
  // Background colours offered to derived dialogs.
  KwColor m_colour1 = KwRGB(55, 55, 57);
  KwColor m_colour2 = KwRGB(27, 27, 27);
  // Caption text, UTF-8; the language text of "tarnwick" at construction.
  char m_title[500] = {};
  int m_hasSizeButtons = 1;
  int m_drawCaption = 1;
  int m_drawIcon = 1;
  int m_minWidth = 240;
  int m_minHeight = 360;

  void SetTitle(const char* utf8);
  const KwFrameLogic& FrameLogic() const { return logic_; }
  int WindowState() const { return logic_.WindowState(); }

  // Runs the initialisation now if it has not run (showing does it too).
  void EnsureInitialized();

  // The available area (less panels and docks) of the screen the window is
  // on, or of the main screen; empty without a screen.
  KwRect AvailableArea() const;

 protected:
  // Hooks for derived dialogs, all empty by default.
  virtual void IKW_OnInitDialog() {}
  virtual void IKW_OnDestroy() {}
  virtual void IKW_OnSize(int width, int height) { (void)width, (void)height; }
  virtual void IKW_OnTimer(int timerId) { (void)timerId; }
  virtual void IKW_BeforeCaption(QPainter* dc, const KwRect& window, const KwRect& client) {
    (void)dc, (void)window, (void)client;
  }
  virtual void IKW_AfterCaption(QPainter* dc, const KwRect& window, const KwRect& client) {
    (void)dc, (void)window, (void)client;
  }
  virtual void IKW_OnLButtonDown(int flags, const KwPoint& point) { (void)flags, (void)point; }
  virtual void IKW_OnLButtonUp(int flags, const KwPoint& point) { (void)flags, (void)point; }
  virtual void IKW_OnMouseMove(int flags, const KwPoint& point) { (void)flags, (void)point; }
  virtual void IKW_OnCommand(int command) { (void)command; }
  virtual void IKW_OnKillFocus(QWidget* newWindow) { (void)newWindow; }
  virtual void IKW_OnSetFocus(QWidget* oldWindow) { (void)oldWindow; }
  virtual void IKW_OnPaint(QPainter* dc) { (void)dc; }
  // Called first on every left-button press.
  virtual void IKW_OnPress() {}

  // Handles one command number: 54321 ends the dialog as cancelled; any
  // other is logged as "recv:%d" and handed to IKW_OnCommand.
  virtual void OnCommand(int command);
  // Paints the caption and the frame strips (after IKW_OnPaint).
  void PaintCaption(QPainter* dc);

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

 public:
  void setVisible(bool visible) override;
  // Enter does nothing.
  void accept() override {}
  // Escape: ends the dialog only with close-on-cancel set.
  void reject() override;

 private:
  void InitDialog();
  void DestroyDialog();
  void LoadCaptionImages();
  void Apply(const KwFrameActions& actions);
  void RepaintButtons();

  KwFrameLogic logic_;
  bool initialized_ = false;
  bool destroyed_ = false;
  bool imagesLoaded_ = false;
  std::unique_ptr<CKwImageUtil> close_;
  std::unique_ptr<CKwImageUtil> minimize_;
  std::unique_ptr<CKwImageUtil> maximize_;
  std::unique_ptr<CKwImageUtil> icon_;
  QBasicTimer timer_;
};
