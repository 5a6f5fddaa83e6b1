// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transframe/hostobjects.h"

#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <utility>

namespace tarvik {

// The host's store for one control instance's saved properties. Keys match
// without regard to case. A value equal to its default is not stored (and
// drops an earlier entry of that key), so the store holds only what differs
// from the defaults. Font and picture objects (FontRef, PictureRef) compare
// by identity; numbers and Booleans compare by value, whatever their type.
class PropertyBag
{
public:
    QVariant ReadProperty(const QString &name, const QVariant &defaultValue = QVariant()) const;
    void WriteProperty(const QString &name, const QVariant &value,
                       const QVariant &defaultValue = QVariant());

    bool contains(const QString &name) const;
    // Stored keys in the order they were first written, spelled as last written.
    QStringList keys() const;

    static bool sameValue(const QVariant &a, const QVariant &b);

private:
    qsizetype indexOf(const QString &name) const;

    QList<std::pair<QString, QVariant>> m_entries;
};

// What the container tells a control about itself and the instance.
class AmbientProperties
{
public:
    AmbientProperties();
    AmbientProperties(const QFont &font, const QString &displayName, bool userMode);

    // A new font object at every call, as a container hands out a copy of its font.
    FontRef font() const;
    // The instance's name in the container, such as "headerFrame".
    QString displayName() const;
    // True while the program runs, false while it is being designed.
    bool userMode() const;

private:
    QFont m_font;
    QString m_displayName;
    bool m_userMode = true;
};

} // namespace tarvik
