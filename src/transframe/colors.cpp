#include "colors.h"

#include <QGuiApplication>
#include <QPalette>

namespace tarvik {

namespace {

constexpr quint32 SystemColorFlag = 0x80000000u;

bool systemRole(quint32 index, QPalette::ColorRole *role)
{
    switch (index) {
    case 5: // window background
        *role = QPalette::Base;
        return true;
    case 8: // window text
        *role = QPalette::Text;
        return true;
    case 10: // active border: the palette's mid tone, a plain grey divider
        *role = QPalette::Mid;
        return true;
    case 15: // button face
        *role = QPalette::Button;
        return true;
    case 16: // button shadow
        *role = QPalette::Dark;
        return true;
    case 18: // button text
        *role = QPalette::ButtonText;
        return true;
    case 20: // 3-D highlight
        *role = QPalette::Light;
        return true;
    case 21: // 3-D dark shadow
        *role = QPalette::Shadow;
        return true;
    default:
        return false;
    }
}

} // namespace

QColor colorFromOle(quint32 value)
{
    if (value & SystemColorFlag) {
        QPalette::ColorRole role;
        if (!systemRole(value & 0xFFu, &role))
            return QColor();
        return QGuiApplication::palette().color(role);
    }
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

} // namespace tarvik
