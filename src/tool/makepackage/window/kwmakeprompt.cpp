#include "tool/makepackage/window/kwmakeprompt.h"

#include <QFileDialog>
#include <QMessageBox>
#include <utility>

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

void KwMakeInputError(QWidget* parent) {
  QMessageBox box(QMessageBox::NoIcon, "error", "Input error", QMessageBox::Ok, parent);
  box.setObjectName("kwMakeInputError");
  box.exec();
}
