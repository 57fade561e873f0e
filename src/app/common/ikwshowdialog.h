// CIKWShowDialog: the skinned modal dialog that shows one message box
// (kinds 1 to 5) and ends with the box's result.
//
// The caller sets the kind, message, caption, optional initial input and
// position, runs it with exec() and reads the result (and any typed text
// through Content()) before destroying it.  The dialog owns its content (a
// Qt child).  KwShowMessage is the one-call form the pages use.
// User-interface thread only.
#pragma once

#include <string>

#include "app/common/ikwmessagebox.h"
#include "baseview/ikwbasedlg.h"

inline constexpr int kKwShowDialogWidth = 560;
inline constexpr int kKwShowDialogHeight = 320;
inline constexpr int kKwShowContentId = 123;

// Modal return values: OK and Cancel.
inline constexpr int kKwIdOk = QDialog::Accepted;
inline constexpr int kKwIdCancel = QDialog::Rejected;

// Results.
enum KwShowResult : int {
  kKwShowCancelled = 0,
  kKwShowConfirmed = 1,
  kKwShowSave = 2,
  kKwShowSaveAs = 3,
};

class CIKWShowDialog : public CIKWBaseDlg {
  Q_OBJECT

 public:
  // `kind` 1..5 selects the content; any other shows an empty dialog.
  CIKWShowDialog(QWidget* parent, int kind);
  ~CIKWShowDialog() override;

  void SetMessage(const char* utf8);  // Kept up to 2179 bytes.
  void SetCaption(const char* utf8);  // Kept up to 499 bytes.
  // Initial text of the input field (kinds 3 to 5); copied at start.
  void SetInitialInput(const char* utf8) { initialInput_ = utf8 ? utf8 : ""; }
  void SetButtonTexts(const char* first, const char* second);  // Kind 2, up to 79 bytes each.
  void SetPosition(int x, int y) {
    x_ = x;
    y_ = y;
  }

  int Kind() const { return kind_; }
  int Result() const { return result_; }
  // The content view, null for an unknown kind or before the start.
  CIKWMessageBoxBase* Content() const { return content_; }
  // What was typed: the value of kind 3, the result text of kinds 4 and 5.
  std::string InputText() const;

 protected:
  void IKW_OnInitDialog() override;
  void IKW_OnSize(int width, int height) override;
  void IKW_OnCommand(int command) override;
  // A light edge around the whole box, so it stands apart from a page of
  // the same dark colour behind it.
  void IKW_AfterCaption(QPainter* dc, const KwRect& window, const KwRect& client) override;

 private:
  KwRect ContentRect() const;
  void End(int result, int code);

  int kind_;
  int result_ = kKwShowCancelled;
  int x_ = 0;
  int y_ = 0;
  std::string message_;
  std::string initialInput_;
  std::string first_;
  std::string second_;
  CIKWMessageBoxBase* content_ = nullptr;  // Qt child.
};

// Colour of the edge drawn around every message box.
inline constexpr KwColor kKwBoxEdge = KwRGB(120, 120, 128);

// Shows `message` in a kind-1 box with the caption, centred on the
// parent's window (or the screen without a parent) and kept inside the
// screen's available area, modally; returns 0.
int KwShowMessage(QWidget* parent, const char* message, const char* caption);

// Asks a question in a kind-2 box placed as above: `cancelText` on the
// first button, `okText` on the second (blue, Enter).  True when the user
// confirmed; the close button and Escape answer no.
bool KwAskQuestion(QWidget* parent, const char* message, const char* caption, const char* okText,
                   const char* cancelText);
