// One QApplication for the whole test program (tests run offscreen).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTest>

#include "images/kwimageregistry.h"
#include "language/ikwlang.h"

inline QApplication* KwTestApp() {
  static int argc = 1;
  static char name[] = "kwtest";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    // Headless unless the caller chose a platform (for example xcb under Xvfb).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    auto* a = new QApplication(argc, argv);
    IKWLang::StartupLoadBuiltIn();
    IKWLang::Instance()->SetCodePage(0);
    static CKwImageRegistry registry;
    registry.RegisterCaptionImages();
    CKwImageRegistry::SetCurrent(&registry);
    return a;
  }();
  return app;
}

// Lets posted events and timers run for about `ms` milliseconds.
inline void KwPump(int ms = 30) {
  QElapsedTimer t;
  t.start();
  do {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTest::qWait(1);
  } while (t.elapsed() < ms);
}

// Sends the events a left double click brings on a real display: press,
// release, double-click, release.  (QTest::mouseDClick sends another set.)
inline void KwDoubleClick(QWidget* w, QPoint at) {
  for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                            QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
  }
}
