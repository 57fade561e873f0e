#include "baseview/kwcommand.h"

#include <QCoreApplication>

QEvent::Type KwCommandEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void KwPostCommand(QObject* receiver, int command) {
  if (receiver == nullptr) return;
  QCoreApplication::postEvent(receiver, new KwCommandEvent(command));
}
