#include "app/Prompter.h"

#include <QMessageBox>

namespace zv {
namespace {

QMessageBox::Icon IconOf(TMsgType type) {
  switch (type) {
  case TMsgType::Warning: return QMessageBox::Warning;
  case TMsgType::Error: return QMessageBox::Critical;
  case TMsgType::Information: return QMessageBox::Information;
  case TMsgType::Confirmation: return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// The platform's captions of this build.
QString CaptionOf(TMsgType type) {
  switch (type) {
  case TMsgType::Warning: return QStringLiteral("Upozornenie");
  case TMsgType::Error: return QStringLiteral("Chyba");
  case TMsgType::Information: return QStringLiteral("Informácia");
  case TMsgType::Confirmation: return QStringLiteral("Potvrdenie");
  }
  return {};
}

class MessageBoxPrompter : public TPrompter {
public:
  void Message(QWidget* parent, TMsgType type, const QString& text, const QString& details) override {
    QMessageBox box(IconOf(type), CaptionOf(type), text, QMessageBox::Ok, parent);
    if (!details.isEmpty()) box.setDetailedText(details);
    box.exec();
  }
  bool Ask(QWidget* parent, TMsgType type, const QString& text) override {
    QMessageBox box(IconOf(type), CaptionOf(type), text, QMessageBox::Yes | QMessageBox::No, parent);
    return box.exec() == QMessageBox::Yes;
  }
  TAnswer AskYesNoCancel(QWidget* parent, TMsgType type, const QString& text) override {
    QMessageBox box(IconOf(type), CaptionOf(type), text, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel,
                    parent);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes: return TAnswer::Yes;
    case QMessageBox::No: return TAnswer::No;
    default: return TAnswer::Cancel;
    }
  }
};

MessageBoxPrompter defaultPrompter;
TPrompter* current = &defaultPrompter;

} // namespace

TPrompter& Prompter() { return *current; }

void SetPrompter(TPrompter* prompter) { current = prompter ? prompter : &defaultPrompter; }

} // namespace zv
