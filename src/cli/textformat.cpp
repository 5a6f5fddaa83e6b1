// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/textformat.h"

#include "dump/text.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <algorithm>

namespace tarvik::cli {

namespace {

QString orDash(const QString &text)
{
    const QString plain = plainText(text);
    return plain.isEmpty() ? QStringLiteral("-") : plain;
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

QString portTable(const QList<PortDetails> &ports)
{
    if (ports.isEmpty())
        return {};
    QList<QStringList> rows{{QStringLiteral("DEVICE"), QStringLiteral("BY-ID"), QStringLiteral("USB ID"),
                             QStringLiteral("MANUFACTURER"), QStringLiteral("PRODUCT"), QStringLiteral("SERIAL")}};
    for (const PortDetails &p : ports) {
        const QString usbId = p.vendorId.isEmpty() && p.productId.isEmpty()
                ? QString()
                : QStringLiteral("%1:%2").arg(orDash(p.vendorId), orDash(p.productId));
        rows << QStringList{orDash(p.device),       orDash(p.byId),    orDash(usbId),
                            orDash(p.manufacturer), orDash(p.product), orDash(p.serialNumber)};
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList &row : std::as_const(rows)) {
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row.at(i).size());
    }
    QString text;
    for (const QStringList &row : std::as_const(rows)) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row.at(i).leftJustified(widths.at(i) + 2) : row.at(i);
        text += line + u'\n';
    }
    return text;
}

QString portJsonLines(const QList<PortDetails> &ports)
{
    QString text;
    for (const PortDetails &p : ports) {
        QJsonObject o;
        o.insert(QStringLiteral("device"), p.device);
        o.insert(QStringLiteral("by_id"), orNull(p.byId));
        o.insert(QStringLiteral("vendor_id"), orNull(p.vendorId));
        o.insert(QStringLiteral("product_id"), orNull(p.productId));
        o.insert(QStringLiteral("manufacturer"), orNull(p.manufacturer));
        o.insert(QStringLiteral("product"), orNull(p.product));
        o.insert(QStringLiteral("serial_number"), orNull(p.serialNumber));
        text += compactJson(o) + u'\n';
    }
    return text;
}

QString compactJson(const QJsonObject &object)
{
    const QString json = QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    QString out;
    out.reserve(json.size());
    for (const QChar c : json) {
        // JSON escapes the C0 controls itself; DEL and the C1 controls (which
        // a terminal may take as escape sequences) get the same treatment.
        if (isControl(c) && c.unicode() >= 0x7F)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace tarvik::cli
