// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/hostobjects.h"

#include <QFontInfo>

namespace tarvik {

QFont FontObject::toQFont(const QFont &base) const
{
    QFont font = base;
    if (!name.isEmpty())
        font.setFamily(name);
    if (size > 0)
        font.setPointSizeF(size);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    font.setStrikeOut(strikethrough);
    return font;
}

FontRef makeFontObject(const QFont &font)
{
    auto object = std::make_shared<FontObject>();
    object->name = font.family();
    object->size = float(font.pointSizeF() > 0 ? font.pointSizeF() : QFontInfo(font).pointSizeF());
    object->bold = font.bold();
    object->italic = font.italic();
    object->underline = font.underline();
    object->strikethrough = font.strikeOut();
    return object;
}

} // namespace tarvik
