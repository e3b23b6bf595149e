#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace zv {

// The folder picker: a title and a starting folder in, a full directory path
// out. False on cancel, leaving directory as it was.
bool BrowseForFolder(QWidget* parent, const QString& title, const QString& initialDirectory, QString& directory);

// What runs the picker: returns the chosen folder, or an empty text on cancel.
using TFolderPicker = std::function<QString(QWidget* parent, const QString& title, const QString& initialDirectory)>;
// Tests install their own picker; an empty one brings back the file dialog.
void SetFolderPicker(TFolderPicker picker);

} // namespace zv
