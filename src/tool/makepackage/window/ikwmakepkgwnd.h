// CIKWMakePkgWnd: the make-package window, the only page of the package
// maker's run mode.
//
// A release engineer types (or browses for) a source folder, an output
// folder and a package name, presses MAKE to pack the tree on the maker's
// own thread, watches the running total and the file being packed in the
// status line, stops a run with CANCEL (which, when idle, asks the main
// dialog to quit) and can write list.json for volumes named "%s_%03d.tmp".
// The three texts are remembered in make.ini beside the executable.
//
// Ownership: the main dialog owns the window.  The window owns the maker of
// the run it started and destroys it only once the maker is done; its
// destructor stops a run still under way and waits for it.  The maker's
// thread touches only the status text (under its own lock) and asks for a
// repaint; everything else happens on the user-interface thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "baseview/basectrl/ikwbasewnd.h"
#include "tool/makepackage/ikwmakepkg.h"
#include "tool/makepackage/kwmakeini.h"
#include "tool/makepackage/window/kwmakelayout.h"

inline constexpr KwColor kKwMakePkgBackground = 0x252525;

class CIKWMakePkgWnd : public CIKWBaseWnd, public IKWMakeCompletion {
  Q_OBJECT

 public:
  explicit CIKWMakePkgWnd(CIKWBaseDlg* owner = nullptr);
  ~CIKWMakePkgWnd() override;

  // Page hooks.
  void DrawLineBack(QPainter* dc, CKWOneLineForm* line, int left, int top, int right,
                    int height) override;
  void OnCommandId(int command) override;
  void LayoutLine(CKWOneLineForm* line, int left, int top, int width, int height) override;
  void CreateAllLineFromData() override;
  void KwOnRefreshTimer() override;

  // The maker's completion command, on the maker's thread.
  void OnMakeCommand(int32_t command) override;

  bool Running() const { return running_; }
  // The status line as the maker's reports left it ("%lld %s").
  std::string StatusText() const;
  // What the status cell shows: the status line, followed while the maker
  // works by the source bytes read so far (a single large file otherwise
  // shows no progress for minutes), and after a run that did not complete
  // by the reason, so a failed run never looks like a finished one.
  std::string ShownStatus() const;
  // The maker of the current run, or null; for tests that watch a run.
  IKWMakePkg* Maker() const { return maker_.get(); }

 private:
  static int OnProgress(void* context, int32_t code, const char* text, int64_t total);
  void SetStatusText(const std::string& text);
  // Copies what was typed into the cells and reads the three texts; shows
  // "Input error" and returns false when one of them is empty.
  bool ReadInputs(KwMakeSettings* s);
  void Make();
  void Cancel();
  void List();
  void Browse(int editId);

  mutable std::mutex statusMutex_;
  std::string statusText_;  // Guarded by statusMutex_.
  bool running_ = false;
  bool endShown_ = false;  // The done maker's outcome has been painted.
  std::unique_ptr<IKWMakePkg> maker_;
};
