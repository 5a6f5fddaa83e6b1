// SPDX-License-Identifier: GPL-3.0-or-later
#include "transframe/propertybag.h"

#include <QGuiApplication>

namespace tarvik {

namespace {

bool isObject(const QVariant &value)
{
    const QMetaType type = value.metaType();
    return type == QMetaType::fromType<FontRef>() || type == QMetaType::fromType<PictureRef>();
}

const void *identity(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<FontRef>())
        return value.value<FontRef>().get();
    if (value.metaType() == QMetaType::fromType<PictureRef>())
        return value.value<PictureRef>().get();
    return nullptr; // "none"
}

bool isNumber(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Bool:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Float:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

QVariant PropertyBag::ReadProperty(const QString &name, const QVariant &defaultValue) const
{
    const qsizetype i = indexOf(name);
    return i < 0 ? defaultValue : m_entries.at(i).second;
}

void PropertyBag::WriteProperty(const QString &name, const QVariant &value,
                                const QVariant &defaultValue)
{
    const qsizetype i = indexOf(name);
    if (sameValue(value, defaultValue)) {
        if (i >= 0)
            m_entries.removeAt(i);
        return;
    }
    if (i >= 0)
        m_entries[i] = {name, value};
    else
        m_entries.append({name, value});
}

bool PropertyBag::contains(const QString &name) const
{
    return indexOf(name) >= 0;
}

QStringList PropertyBag::keys() const
{
    QStringList names;
    for (const auto &entry : m_entries)
        names.append(entry.first);
    return names;
}

bool PropertyBag::sameValue(const QVariant &a, const QVariant &b)
{
    if (isObject(a) || isObject(b)) {
        const bool aObjectOrNone = isObject(a) || !a.isValid();
        const bool bObjectOrNone = isObject(b) || !b.isValid();
        return aObjectOrNone && bObjectOrNone && identity(a) == identity(b);
    }
    if (isNumber(a) && isNumber(b))
        return a.toDouble() == b.toDouble();
    if (a.metaType().id() == QMetaType::QString && b.metaType().id() == QMetaType::QString)
        return a.toString() == b.toString();
    return a == b;
}

qsizetype PropertyBag::indexOf(const QString &name) const
{
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries.at(i).first.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

AmbientProperties::AmbientProperties()
    : m_font(QGuiApplication::font())
{
}

AmbientProperties::AmbientProperties(const QFont &font, const QString &displayName, bool userMode)
    : m_font(font), m_displayName(displayName), m_userMode(userMode)
{
}

FontRef AmbientProperties::font() const
{
    return makeFontObject(m_font);
}

QString AmbientProperties::displayName() const
{
    return m_displayName;
}

bool AmbientProperties::userMode() const
{
    return m_userMode;
}

} // namespace tarvik
