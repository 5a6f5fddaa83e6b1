// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/colors.h"

namespace tarvik {

namespace {

constexpr quint32 SystemColorFlag = 0x80000000u;

// The light palette of Qt's Fusion style, as it stands without a desktop
// theme: the look the window was designed in.
QPalette makeDesignPalette()
{
    const QColor window(239, 239, 239);
    const QColor light = window.lighter(150);
    const QColor mid = window.darker(130);
    const QColor dark = window.darker(150);
    const QColor shadow = dark.darker(135);
    const QColor disabledText(190, 190, 190);
    QColor placeholder(Qt::black);
    placeholder.setAlpha(128);

    QPalette palette(Qt::black, window, light, dark, mid, Qt::black, Qt::white);
    palette.setBrush(QPalette::Midlight, mid.lighter(110));
    palette.setBrush(QPalette::Button, window);
    palette.setBrush(QPalette::Shadow, shadow);
    palette.setBrush(QPalette::BrightText, Qt::white);
    palette.setBrush(QPalette::HighlightedText, Qt::white);
    palette.setBrush(QPalette::AlternateBase, QColor(247, 247, 247));
    palette.setBrush(QPalette::ToolTipBase, QColor(255, 255, 220));
    palette.setBrush(QPalette::ToolTipText, Qt::black);
    palette.setBrush(QPalette::Link, QColor(0, 0, 255));
    palette.setBrush(QPalette::LinkVisited, QColor(255, 0, 255));
    palette.setBrush(QPalette::PlaceholderText, placeholder);
    palette.setBrush(QPalette::Highlight, QColor(48, 140, 198));
    palette.setBrush(QPalette::Disabled, QPalette::Highlight, QColor(145, 145, 145));
    palette.setBrush(QPalette::Disabled, QPalette::Text, disabledText);
    palette.setBrush(QPalette::Disabled, QPalette::WindowText, disabledText);
    palette.setBrush(QPalette::Disabled, QPalette::ButtonText, disabledText);
    palette.setBrush(QPalette::Disabled, QPalette::Base, window);
    palette.setBrush(QPalette::Disabled, QPalette::Dark, QColor(209, 209, 209).darker(110));
    palette.setBrush(QPalette::Disabled, QPalette::Shadow, shadow.lighter(150));

    // Mark every role as set, so that nothing is left for the application's
    // palette (or a palette it keeps for a class of widgets) to fill in.
    for (int group = 0; group < QPalette::NColorGroups; ++group) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            if (role == QPalette::NoRole)
                continue;
            const auto g = QPalette::ColorGroup(group);
            const auto r = QPalette::ColorRole(role);
            palette.setBrush(g, r, palette.brush(g, r));
        }
    }
    return palette;
}

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

const QPalette &designPalette()
{
    static const QPalette palette = makeDesignPalette();
    return palette;
}

QColor colorFromOle(quint32 value)
{
    if (value & SystemColorFlag) {
        QPalette::ColorRole role;
        if (!systemRole(value & 0xFFu, &role))
            return QColor();
        return designPalette().color(role);
    }
    return QColor(int(value & 0xFFu), int((value >> 8) & 0xFFu), int((value >> 16) & 0xFFu));
}

} // namespace tarvik
