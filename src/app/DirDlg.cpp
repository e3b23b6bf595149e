#include "app/DirDlg.h"

#include <QDir>
#include <QFileDialog>

namespace zv {
namespace {

TFolderPicker& Picker() {
  static TFolderPicker picker;
  return picker;
}

QString FileDialogPicker(QWidget* parent, const QString& title, const QString& initialDirectory) {
  return QFileDialog::getExistingDirectory(parent, title, initialDirectory, QFileDialog::ShowDirsOnly);
}

} // namespace

bool BrowseForFolder(QWidget* parent, const QString& title, const QString& initialDirectory, QString& directory) {
  const TFolderPicker& picker = Picker();
  const QString chosen = picker ? picker(parent, title, initialDirectory) : FileDialogPicker(parent, title, initialDirectory);
  if (chosen.isEmpty()) return false;
  directory = QDir::toNativeSeparators(QDir(chosen).absolutePath());
  return true;
}

void SetFolderPicker(TFolderPicker picker) { Picker() = std::move(picker); }

} // namespace zv
