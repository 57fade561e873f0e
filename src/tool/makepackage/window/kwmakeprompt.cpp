#include "tool/makepackage/window/kwmakeprompt.h"

#include <QFileDialog>
#include <QMessageBox>
#include <utility>

#include "language/ikwlang.h"

namespace {
KwMakeFolderChooser g_chooser;
}  // namespace

std::string KwMakeChooseFolder(QWidget* parent, const std::string& start) {
  if (g_chooser) return g_chooser(parent, kKwMakeChooseTitle, start);
  // Folders only, as the platform's chooser was asked for.
  return QFileDialog::getExistingDirectory(parent, QString::fromUtf8(kKwMakeChooseTitle),
                                           QString::fromStdString(start), QFileDialog::ShowDirsOnly)
      .toStdString();
}

void KwSetMakeFolderChooser(KwMakeFolderChooser chooser) {
  g_chooser = std::move(chooser);
}

void KwMakeInputError(QWidget* parent, const char* key) {
  IKWLang* lang = IKWLang::Instance();
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(lang->GetText("error")),
                  QString::fromUtf8(lang->GetText(key)), QMessageBox::Ok, parent);
  box.setObjectName("kwMakeInputError");
  box.exec();
}
