// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/liveline.h"

#include "dump/progressmeter.h"
#include "dump/text.h"

#include <QList>

namespace tarvik::cli {

namespace {

const QString Gap = QStringLiteral("  ");
// "  [" and "]" around the bar.
constexpr int BarFrame = 4;

bool isWide(char32_t c)
{
    return c >= 0x1100
           && (c <= 0x115F || c == 0x2329 || c == 0x232A || (c >= 0x2E80 && c <= 0xA4CF && c != 0x303F)
               || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE10 && c <= 0xFE19)
               || (c >= 0xFE30 && c <= 0xFE6F) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6)
               || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF)
               || (c >= 0x20000 && c <= 0x2FFFD) || (c >= 0x30000 && c <= 0x3FFFD));
}

int columnsOf(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        return isWide(c) ? 2 : 1;
    }
}

enum class Keep { Start, End };

// The text, or as much of its start (or end) as fits with the ellipsis.
QString shortened(const QString &text, int columns, const QString &ellipsis, Keep keep)
{
    if (textColumns(text) <= columns)
        return text;
    const QString mark = textColumns(ellipsis) <= columns ? ellipsis : QString();
    const int room = columns - textColumns(mark);
    const QList<uint> codePoints = text.toUcs4();
    qsizetype count = 0;
    for (int used = 0; count < codePoints.size(); ++count) {
        used += columnsOf(codePoints.at(keep == Keep::Start ? count : codePoints.size() - 1 - count));
        if (used > room)
            break;
    }
    const auto *data = reinterpret_cast<const char32_t *>(codePoints.constData());
    if (keep == Keep::Start)
        return QString::fromUcs4(data, count) + mark;
    return mark + QString::fromUcs4(data + codePoints.size() - count, count);
}

// The text in a column `width` wide: padded, or shortened keeping its start (or end).
QString inColumn(const QString &text, int width, const QString &ellipsis, Keep keep)
{
    const QString shown = shortened(text, width, ellipsis, keep);
    return shown + QString(qMax(0, width - textColumns(shown)), u' ');
}

} // namespace

int textColumns(const QString &text)
{
    int columns = 0;
    for (const uint c : text.toUcs4())
        columns += columnsOf(c);
    return columns;
}

QString forCharset(const QString &text, bool utf8)
{
    if (utf8)
        return text;
    QString out;
    out.reserve(text.size());
    for (const uint c : text.toUcs4()) {
        if (c < 0x80)
            out += QChar(c);
        else if (c == 0x00B7)
            out += u'-';
        else if (c == 0x2026)
            out += QStringLiteral("...");
        else
            out += u'?';
    }
    return out;
}

QString fitText(const QString &text, int columns, bool utf8)
{
    if (columns <= 1)
        return QString();
    return shortened(forCharset(withoutControls(text), utf8), columns - 1,
                     forCharset(QStringLiteral("\u2026"), utf8), Keep::Start);
}

QString fitLine(const LiveLine &line, int columns, bool utf8)
{
    const int budget = columns - 1;
    if (budget <= 0)
        return QString();
    const auto plain = [utf8](const QString &text) { return forCharset(withoutControls(text), utf8); };
    const QString ellipsis = plain(QStringLiteral("\u2026"));
    const QString separator = plain(ProgressMeter::Separator);
    const QString device = plain(line.device);
    const QString model = plain(line.model);
    ProgressMeter::Parts parts;
    if (line.bar)
        parts = ProgressMeter::parts(line.status);
    else
        parts.counts = line.status;
    const QString counts = plain(parts.counts);
    const QString speed = plain(parts.speed);
    const QString left = plain(parts.left);

    const int deviceColumns = textColumns(device);
    const int deviceFull = qMax(deviceColumns, line.deviceWidth);
    const bool hasModel = line.bar || !model.isEmpty();
    const int modelOwn = qMin(textColumns(model), ModelWidth);

    const auto status = [&](bool withSpeed) {
        QString text = counts;
        if (withSpeed && !speed.isEmpty())
            text += separator + speed;
        if (!left.isEmpty())
            text += separator + left;
        return text.isEmpty() ? text : Gap + text;
    };
    // Device, model and bar columns this wide (0: no model column, no bar).
    const auto width = [&](int deviceWidth, int modelWidth, int barWidth, bool withSpeed) {
        return deviceWidth + (modelWidth > 0 ? Gap.size() + modelWidth : 0) + (barWidth > 0 ? BarFrame + barWidth : 0)
               + textColumns(status(withSpeed));
    };
    const auto compose = [&](int deviceWidth, int modelWidth, int barWidth, bool withSpeed) {
        QString text = inColumn(device, deviceWidth, ellipsis, Keep::End);
        if (modelWidth > 0)
            text += Gap + inColumn(model, modelWidth, ellipsis, Keep::Start);
        if (barWidth > 0) {
            const int filled = line.total > 0 ? int(qBound(qint64(0), qint64(line.done) * barWidth / line.total,
                                                           qint64(barWidth)))
                                              : barWidth;
            text += QStringLiteral("  [") + QString(filled, u'#') + QString(barWidth - filled, u'-') + u']';
        }
        return text + status(withSpeed);
    };

    // The bar gets what is left beside the widest status of the run.
    int bar = 0;
    if (line.bar) {
        const QString widestCounts = plain(ProgressMeter::parts(ProgressMeter::format(line.total, line.total, -1)).counts);
        const int widest = int(Gap.size()) + textColumns(widestCounts) + 2 * textColumns(separator) + SpeedRoom + LeftRoom;
        const int room = budget - deviceFull - int(Gap.size()) - ModelWidth - BarFrame - widest;
        bar = room >= MinBarWidth ? qMin(BarWidth, room) : 0;
    }

    struct Try {
        int model;
        bool speed;
    };
    const int modelFull = hasModel ? ModelWidth : 0;
    const Try tries[] = {{modelFull, true}, {modelOwn, true}, {0, true}, {0, false}};
    for (const int barWidth : {bar, 0}) {
        for (const Try &t : tries) {
            if (width(deviceFull, t.model, barWidth, t.speed) <= budget)
                return compose(deviceFull, t.model, barWidth, t.speed);
        }
        if (barWidth == 0)
            break;
    }
    // The device name keeps its end, which tells boxes apart.
    const int deviceRoom = budget - width(0, 0, 0, false);
    if (deviceRoom >= qMin(deviceColumns, DeviceKeep))
        return compose(deviceRoom, 0, 0, false);
    // Still too long: the line loses its end.
    return shortened(compose(qMin(deviceColumns, DeviceKeep), 0, 0, false), budget, ellipsis, Keep::Start);
}

} // namespace tarvik::cli
