// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/text.h"

#include <cstring>

namespace tarvik {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString hexByte(quint8 value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

bool isControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

QString withoutControls(QString text, QChar replacement)
{
    for (QChar &c : text) {
        if (isControl(c))
            c = replacement;
    }
    return text;
}

} // namespace tarvik
