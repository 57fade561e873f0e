// Commands between windows, pages and worker threads.
//
// A posted command is a number with no parameters, delivered later on the
// receiver's thread as a KwCommandEvent.  Any thread may post; only the
// user-interface thread handles them, so worker threads never touch widgets.
// The receiver must outlive the call to KwPostCommand; Qt discards events
// still queued for an object that is destroyed.
#pragma once

#include <QEvent>
#include <QObject>

class KwCommandEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  explicit KwCommandEvent(int command) : QEvent(EventType()), command_(command) {}
  int command() const { return command_; }

 private:
  int command_;
};

// Queues `command` for `receiver`; safe from any thread.
void KwPostCommand(QObject* receiver, int command);
