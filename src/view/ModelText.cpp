#include "view/ModelText.h"

#include <QStringDecoder>

namespace zv {

QString FromModelText(const std::string& text) {
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  QString decoded = utf8(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
  if (!utf8.hasError()) return decoded;
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string ToModelText(const QString& text) { return text.toStdString(); }

} // namespace zv
