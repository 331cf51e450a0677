// Small helpers of the Qt backend: UTF-8 texts, line ends, the window icon.
#pragma once

#include <QIcon>
#include <QString>

#include <string>

namespace quillon::platform::qt {

inline QString Utf8(const std::string& s) { return QString::fromStdString(s); }

// CR LF (and a lone CR) become LF, the line break of Qt's text widgets.
QString FromCrLf(const std::string& text);
// LF becomes CR LF again, as the Windows rich edit box gives its text back.
std::string ToCrLf(const QString& text);

// The program's icon: its 16, 24, 32 and 64 pixel images.
QIcon AppIcon();

}  // namespace quillon::platform::qt
