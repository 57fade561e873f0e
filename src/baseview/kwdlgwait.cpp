#include "baseview/kwdlgwait.h"

#include <QResizeEvent>
#include <chrono>
#include <mutex>
#include <thread>

#include "baseutil/ikwthreadmanager.h"
#include "baseview/kwcommand.h"
#include "baseview/kwwaitfreeview.h"
#include "baseview/kwwaitlayout.h"

namespace {
// IDCANCEL, posted when the job has returned.
constexpr int kIdCancel = 2;
}  // namespace

// What the worker shares with the dialog: the dialog may be destroyed while
// the job runs, so the worker reaches it only through this link, under its
// lock, and finds null once the dialog is gone.
struct CKwDlgWait::JobLink {
  std::mutex mutex;
  CKwDlgWait* dialog = nullptr;
  KwWaitJob job = nullptr;
  void* userData = nullptr;
};

namespace {

void RunWaitJob(void* argument) {
  auto* holder = static_cast<std::shared_ptr<CKwDlgWait::JobLink>*>(argument);
  std::shared_ptr<CKwDlgWait::JobLink> link = *holder;
  delete holder;
  std::this_thread::sleep_for(std::chrono::milliseconds(kKwWaitMinimumMs));
  CKwDlgWait* dialog = nullptr;
  {
    std::lock_guard<std::mutex> lock(link->mutex);
    dialog = link->dialog;
  }
  if (link->job != nullptr && dialog != nullptr) link->job(link->userData, dialog);
  // The job's end is reported as IDCANCEL; the dialog marks itself done when
  // the command arrives, so it can never end (and be destroyed) between
  // "done" and the post.
  std::lock_guard<std::mutex> lock(link->mutex);
  if (link->dialog != nullptr) KwPostCommand(link->dialog, kIdCancel);
}

}  // namespace

CKwDlgWait::CKwDlgWait(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
  setModal(true);
  setAttribute(Qt::WA_OpaquePaintEvent, true);
  resize(kKwWaitWidth, kKwWaitHeight);
  view_ = new CKwWaitFreeView(this);
}

CKwDlgWait::~CKwDlgWait() {
  if (link_) {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->dialog = nullptr;
  }
}

void CKwDlgWait::setVisible(bool visible) {
  if (visible && !started_) InitDialog();
  QDialog::setVisible(visible);
}

void CKwDlgWait::InitDialog() {
  started_ = true;
  done_ = false;
  view_->BuildRow(height(), message_);
  view_->Create(this, KwRect{0, 0, width(), height()}, kKwWaitViewId);
  view_->RebuildRowTable();
  view_->update();
  link_ = std::make_shared<JobLink>();
  link_->dialog = this;
  link_->job = job_;
  link_->userData = userData_;
  CKWThreadManager::addThreadFunction("CKwDlgWait::call", RunWaitJob,
                                      new std::shared_ptr<JobLink>(link_));
}

void CKwDlgWait::accept() {
  if (done_) QDialog::accept();
}

void CKwDlgWait::reject() {
  if (done_) QDialog::reject();
}

bool CKwDlgWait::event(QEvent* event) {
  if (event->type() == KwCommandEvent::EventType()) {
    if (static_cast<KwCommandEvent*>(event)->command() == kIdCancel && !done_ && started_) {
      done_ = true;
      reject();
    }
    return true;
  }
  return QDialog::event(event);
}

void CKwDlgWait::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (view_ != nullptr && started_) view_->setGeometry(0, 0, width(), height());
}
