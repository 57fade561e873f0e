// The application object: the single entry point of every installer
// executable.  It chooses the job of the run mode, prepares the common
// folders and settings, runs the main dialog and the stop sequence.
#pragma once

#include <memory>

class QApplication;

class CkwpanelApp {
 public:
  CkwpanelApp(int argc, char** argv);
  ~CkwpanelApp();
  CkwpanelApp(const CkwpanelApp&) = delete;
  CkwpanelApp& operator=(const CkwpanelApp&) = delete;

  // Does the run mode's job.  Returns false in the uninstall and bundling
  // run modes (their work is done without a window) and when no window
  // system is available; true after the main dialog has ended.
  bool InitInstance();
  // Releases the window system and returns the process's exit status.
  int ExitInstance();

 private:
  // Run mode 6: asks, removes and reports, or removes unattended.
  void RunUninstaller();
  int argc_;
  char** argv_;
  int exitStatus_ = 0;
  std::unique_ptr<QApplication> qt_;
};

// Runs the whole program; returns the process exit status.
int KwRunApplication(int argc, char** argv);
