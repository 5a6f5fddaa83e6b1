// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/designfont.h"

#include "window/designtable.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>

namespace tarvik::Design {

namespace {

bool captionsFit(const QString &family)
{
    for (const Control &c : controls()) {
        if (c.kind != Kind::Label || c.caption.isEmpty())
            continue;
        QFont f(family);
        f.setPointSizeF(FontSize);
        f.setBold(c.flags & Bold);
        f.setUnderline(c.flags & Link);
        const QFontMetricsF metrics(f);
        if (metrics.horizontalAdvance(c.caption) > toPixels(c.width, metrics.fontDpi()))
            return false;
    }
    return true;
}

} // namespace

QStringList fontStandIns()
{
    return {QStringLiteral("FreeSans"), QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
            QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica"), QStringLiteral("Arial"),
            QStringLiteral("DejaVu Sans")};
}

QString useFontStandIn()
{
    const QStringList installed = QFontDatabase::families();
    const auto isInstalled = [&installed](const QString &family) {
        return installed.contains(family, Qt::CaseInsensitive);
    };
    QFont::removeSubstitutions(FontName);
    if (isInstalled(FontName))
        return FontName;

    QString chosen;
    for (const QString &family : fontStandIns()) {
        if (!isInstalled(family))
            continue;
        if (captionsFit(family)) {
            chosen = family;
            break;
        }
        if (chosen.isEmpty())
            chosen = family;
    }
    if (!chosen.isEmpty())
        QFont::insertSubstitution(FontName, chosen);
    return chosen;
}

} // namespace tarvik::Design
