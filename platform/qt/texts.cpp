#include "platform/qt/texts.h"

#include <QPixmap>

namespace quillon::platform::qt {

QString FromCrLf(const std::string& text) {
  QString s = Utf8(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

std::string ToCrLf(const QString& text) {
  QString s = text;
  s.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  return s.toStdString();
}

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 64}) {
    icon.addPixmap(QPixmap(QStringLiteral(":/icons/quillon-%1.png").arg(size)));
  }
  return icon;
}

}  // namespace quillon::platform::qt
