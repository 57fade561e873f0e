// CKwDlgWait: a small modal window that shows one line of text while a job
// runs on a worker thread, and closes itself when the job has returned.
//
// The user cannot close it earlier: Enter and Escape are ignored until the
// job is done.  The opener makes the dialog, sets the message, the job and
// its user data, calls exec() (which returns once the job has finished) and
// destroys the dialog.  The dialog owns its content view.  The job runs on
// the thread manager as "CKwDlgWait::call"; it must not touch the dialog's
// widgets, only post commands to it (KwPostCommand).  Destroying the dialog
// while its job still runs is safe: the job's end is then not reported.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>

class CKwWaitFreeView;
class CKwDlgWait;

using KwWaitJob = void (*)(void* userData, CKwDlgWait* dialog);

class CKwDlgWait : public QDialog {
  Q_OBJECT

 public:
  explicit CKwDlgWait(QWidget* parent = nullptr);
  ~CKwDlgWait() override;

  void SetMessage(const char* utf8) { message_ = utf8 ? utf8 : ""; }
  const std::string& Message() const { return message_; }
  void SetJob(KwWaitJob job, void* userData) {
    job_ = job;
    userData_ = userData;
  }
  CKwWaitFreeView* View() const { return view_; }
  // Set once the job has returned (on the user-interface thread).
  bool Done() const { return done_; }

  void setVisible(bool visible) override;
  // IDOK and IDCANCEL: they end the dialog only once the job is done.
  void accept() override;
  void reject() override;

  struct JobLink;

 protected:
  bool event(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void InitDialog();

  CKwWaitFreeView* view_ = nullptr;  // Child widget, deleted with the dialog.
  std::string message_;
  KwWaitJob job_ = nullptr;
  void* userData_ = nullptr;
  bool done_ = false;
  bool started_ = false;
  std::shared_ptr<JobLink> link_;
};
