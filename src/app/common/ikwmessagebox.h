// The five contents of the show dialog: a message with OK (kind 1), a
// two-button question (2), the save-as box (3), a one-line input (4) and a
// multi-line input (5).
//
// Each is a page with one row that fills it.  A button click posts the
// box's command to its owner dialog (CIKWShowDialog), which turns it into
// the result.  Confirming buttons first copy what was typed into the box
// (value for kind 3, result text for kinds 4 and 5), so the owner reads it
// before destroying the box.  Owned by the show dialog (a Qt child).
#pragma once

#include <string>

#include "app/common/kwmsgboxlayout.h"
#include "baseview/basectrl/ikwbasewnd.h"

// Commands the contents post to the show dialog.
inline constexpr int kKwCmdBoxOk = 10004;
inline constexpr int kKwCmdBoxCancel = 10005;
inline constexpr int kKwCmdBoxSaveAs = 10025;
inline constexpr int kKwCmdBoxSave = 10026;

inline constexpr size_t kKwBoxMessageMax = 2179;
inline constexpr size_t kKwBoxValueMax = 71;        // Kind 3.
inline constexpr size_t kKwBoxResultTextMax = 999;  // Kinds 4 and 5.

inline constexpr KwColor kKwBoxBlue = KwRGB(68, 122, 250);

// Cuts UTF-8 text to at most `maxBytes` bytes without splitting a character.
std::string KwCutUtf8(const std::string& text, size_t maxBytes);
// Width of a text in the toolkit font: the measure used by the layouts.
int KwToolkitMeasure(const std::string& text, int size);

// What the five contents share: the message, the row and the post to the
// owner.
class CIKWMessageBoxBase : public CIKWBaseWnd {
  Q_OBJECT

 public:
  explicit CIKWMessageBoxBase(CIKWBaseDlg* owner, KwColor background);

  // The message is kept up to 2179 bytes; the row shows it from the next
  // repaint on.
  void SetMessage(const std::string& message);
  const std::string& Message() const { return message_; }
  // Row of the box, made by CreateAllLineFromData (or the dialog).
  CKWOneLineForm* Row() { return GetLine(0); }

  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;

 protected:
  // The cell that shows the message.
  virtual int MessageCellId() const = 0;
  // Copies the texts of the edit controls into their cells, then posts.
  void Confirm(int command);
  // Puts the cells of a finished layout into the row.
  void ApplyLayout(CKWOneLineForm* line, const KwMsgBoxLayout& layout, int left, int top);
  CKWOneLineForm* NewRow();

 private:
  std::string message_;
};

class CIKWMessageBox1 : public CIKWMessageBoxBase {
  Q_OBJECT

 public:
  explicit CIKWMessageBox1(CIKWBaseDlg* owner = nullptr);
  // Row of kind 1: icon, message and OK (built by the dialog).
  void BuildRow();
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void OnCommandId(int command) override;

 protected:
  int MessageCellId() const override { return 1002; }
};

class CIKWMessageBox2 : public CIKWMessageBoxBase {
  Q_OBJECT

 public:
  explicit CIKWMessageBox2(CIKWBaseDlg* owner = nullptr);
  // Button captions (up to 79 bytes each), set before BuildRow.
  void SetButtonTexts(const std::string& first, const std::string& second);
  void BuildRow();
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void OnCommandId(int command) override;

 protected:
  int MessageCellId() const override { return 1002; }

 private:
  std::string first_;
  std::string second_;
};

class CIKWMessageBox3 : public CIKWMessageBoxBase {
  Q_OBJECT

 public:
  explicit CIKWMessageBox3(CIKWBaseDlg* owner = nullptr);
  void SetInitialInput(const char* text) { initial_ = text ? text : ""; }
  // What was typed, at most 71 bytes, after save or save as.
  const std::string& Value() const { return value_; }
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void OnCommandId(int command) override;

 protected:
  int MessageCellId() const override { return 1002; }

 private:
  std::string initial_;
  std::string value_;
};

// Kinds 4 and 5 differ only in the input field (kind 5 is multi-line).
class CIKWMessageBox4 : public CIKWMessageBoxBase {
  Q_OBJECT

 public:
  explicit CIKWMessageBox4(CIKWBaseDlg* owner = nullptr, int kind = 4);
  // The input field gets the text at once (cell 10004).
  void SetInitialInput(const char* text);
  // What was typed, at most 999 bytes, after OK.
  const std::string& ResultText() const { return resultText_; }
  void CreateAllLineFromData() override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void OnCommandId(int command) override;

 protected:
  int MessageCellId() const override { return 10003; }

 private:
  int kind_;
  std::string initial_;
  std::string resultText_;
};

class CIKWMessageBox5 : public CIKWMessageBox4 {
  Q_OBJECT

 public:
  explicit CIKWMessageBox5(CIKWBaseDlg* owner = nullptr) : CIKWMessageBox4(owner, 5) {}
};
