// Conversions between the window logic's plain values (UTF-8 texts, 0x00BBGGRR colours, pixel
// rectangles) and Qt's.
#pragma once

#include <QColor>
#include <QRect>
#include <QString>

#include <cstdint>
#include <string>

#include "ui/view_types.h"

namespace dorv::ui::qt {

inline QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
inline QString Q(const char* s) { return QString::fromUtf8(s); }
inline std::string Utf8(const QString& s) { return s.toUtf8().toStdString(); }

// Texts of the logic break lines with CR LF; Qt draws a CR as a glyph of its own.
inline QString DisplayText(const std::string& s) { return Q(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

// 0x00BBGGRR, the byte order of the stations' colour values.
inline QColor ColourOf(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF), static_cast<int>((bgr >> 16) & 0xFF));
}

// The logic's rectangles are right- and bottom-exclusive, as the stations' are.
inline QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }
inline Rect FromQRect(const QRect& r) { return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()}; }

}  // namespace dorv::ui::qt
