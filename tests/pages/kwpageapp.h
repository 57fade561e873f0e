// The QApplication of a page test program: made before the first test,
// with the built-in texts loaded, and destroyed after the last.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#include "language/ikwlang.h"

namespace kwpagetest {

class AppEnvironment : public ::testing::Environment {
 public:
  // `codePage` < 0 keeps the language the texts were loaded with;
  // `afterStart` (may be null) runs once the application exists.
  AppEnvironment(const char* name, int codePage = -1, void (*afterStart)() = nullptr)
      : name_(name), codePage_(codePage), afterStart_(afterStart) {}

  void SetUp() override {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name_), nullptr};
    app_ = new QApplication(argc, argv);
    IKWLang::StartupLoadBuiltIn();
    if (codePage_ >= 0) IKWLang::Instance()->SetCodePage(codePage_);
    if (afterStart_ != nullptr) afterStart_();
  }
  void TearDown() override {
    delete app_;
    IKWLang::DestroyInstance();
  }

 private:
  const char* name_;
  int codePage_;
  void (*afterStart_)();
  QApplication* app_ = nullptr;
};

}  // namespace kwpagetest
