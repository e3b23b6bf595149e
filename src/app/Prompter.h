#pragma once

#include <QString>

class QWidget;

namespace zv {

enum class TMsgType { Warning, Error, Information, Confirmation };
enum class TAnswer { Yes, No, Cancel };

// Every message box and question of the program goes through here, so tests
// can answer them without a modal loop.
class TPrompter {
public:
  virtual ~TPrompter() = default;
  // A message box with the type's icon and one OK button. details, when not
  // empty, is the box's detailed text.
  virtual void Message(QWidget* parent, TMsgType type, const QString& text, const QString& details = {}) = 0;
  // A question with Yes and No; true for Yes.
  virtual bool Ask(QWidget* parent, TMsgType type, const QString& text) = 0;
  // A question with Yes, No and Cancel. Prompters that do not offer it
  // answer through Ask, and so never cancel.
  virtual TAnswer AskYesNoCancel(QWidget* parent, TMsgType type, const QString& text) {
    return Ask(parent, type, text) ? TAnswer::Yes : TAnswer::No;
  }
};

// The prompter in use: QMessageBox unless one was installed.
TPrompter& Prompter();
// Installs prompter (not owned); null brings back the QMessageBox one.
void SetPrompter(TPrompter* prompter);

} // namespace zv
