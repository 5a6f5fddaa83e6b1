// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QMetaType>
#include <QPixmap>
#include <QString>

#include <memory>

namespace tarvik {

// A font as the host and the control hand it to each other: a shared object
// whose identity counts, so that two holders of one FontRef see each other's
// changes. A size of 0 is kept as given; toQFont() then keeps the base size.
struct FontObject
{
    QString name;
    float size = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikethrough = false;

    QFont toQFont(const QFont &base) const;
};

using FontRef = std::shared_ptr<FontObject>;

// A new font object that describes the given font.
FontRef makeFontObject(const QFont &font);

// A picture object: an image that belongs to whoever holds it, compared by
// identity. A null PictureRef is "no picture".
using PictureRef = std::shared_ptr<const QPixmap>;

} // namespace tarvik

Q_DECLARE_METATYPE(tarvik::FontRef)
Q_DECLARE_METATYPE(tarvik::PictureRef)
