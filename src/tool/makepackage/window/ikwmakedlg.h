// CIKWMakeDlg: the make-package dialog, a plain system dialog that the main
// install dialog opens modally when a click is released in the top-left
// corner of its client area.
//
// It asks for a source folder, an output folder and a package name (filled
// from make.ini), starts one maker on OK, shows the maker's reports in its
// status line, stops the run on Cancel and closes when the maker reports the
// end of its walk (command 120).  Cancel with no run, Escape and the close
// button close it at once.
//
// Ownership: whoever runs the dialog owns it; the dialog owns its controls
// (Qt children) and the maker it started.  The maker is destroyed only
// once it is done: closing while a run is under way stops the run and waits
// for it, so no maker outlives the dialog.  The maker's thread reaches the
// dialog only through queued calls and posted commands.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwmakeini.h"

class QLabel;
class QLineEdit;
class QPushButton;

inline constexpr const char* kKwMakeDlgCaption = "make pakage";

class CIKWMakeDlg : public QDialog, public IKWMakeCompletion {
  Q_OBJECT

 public:
  explicit CIKWMakeDlg(QWidget* parent = nullptr);
  ~CIKWMakeDlg() override;

  // The maker's completion command, on the maker's thread.
  void OnMakeCommand(int32_t command) override;

  IKWMakePkg* Maker() const { return maker_.get(); }
  // True from OK until the maker is done.
  bool RunUnderWay() const;
  // The controls of the template by ID (1, 2, 1006..1011); null otherwise.
  QWidget* Control(int id) const;
  // Pixel rectangle of a template rectangle in dialog units, with this
  // dialog's font.
  QRect MapDialogRect(int x, int y, int width, int height) const;

  // Escape and the close button come here as Cancel does.
  void reject() override;

 protected:
  bool event(QEvent* e) override;

 private:
  static int OnProgress(void* context, int32_t code, const char* text, int64_t total);
  void OnOk();
  void OnCancel();
  void Browse(QLineEdit* edit);
  void StopAndWait();

  QLineEdit* from_ = nullptr;
  QLineEdit* to_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLabel* status_ = nullptr;
  KwMakeSettings settings_;
  std::unique_ptr<IKWMakePkg> maker_;
};
