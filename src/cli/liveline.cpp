// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/liveline.h"

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

QString fitLine(const LiveLine &line, int columns, bool utf8)
{
    const int budget = columns - 1;
    if (budget <= 0)
        return QString();
    const QString ellipsis = forCharset(QStringLiteral("\u2026"), utf8);
    const QString device = forCharset(withoutControls(line.device), utf8);
    const QString model = line.model.isEmpty() ? QString() : Gap + forCharset(withoutControls(line.model), utf8);
    const QString status = line.status.isEmpty() ? QString()
                                                 : Gap + forCharset(withoutControls(line.status), utf8);
    const auto compose = [&](const QString &shownDevice, int barWidth) {
        if (!line.bar || barWidth <= 0)
            return shownDevice + model + status;
        const int filled = line.total > 0 ? int(qBound(qint64(0), qint64(line.done) * barWidth / line.total, qint64(barWidth)))
                                          : barWidth;
        return shownDevice + model + QStringLiteral("  [") + QString(filled, u'#') + QString(barWidth - filled, u'-')
               + u']' + status;
    };
    const int fixed = textColumns(model) + textColumns(status);
    const int deviceColumns = textColumns(device);

    // The whole device name and the widest bar that fits.
    int room = budget - fixed - deviceColumns;
    if (!line.bar && room >= 0)
        return compose(device, 0);
    if (line.bar && room - BarFrame >= MinBarWidth)
        return compose(device, qMin(BarWidth, room - BarFrame));
    // The end of the device name (which tells boxes apart) with the narrowest
    // bar, then without the bar.
    const int deviceMin = qMin(deviceColumns, DeviceKeep);
    room = budget - fixed - BarFrame - MinBarWidth;
    if (line.bar && room >= deviceMin)
        return compose(shortened(device, room, ellipsis, Keep::End), MinBarWidth);
    room = budget - fixed;
    if (room >= deviceMin)
        return compose(shortened(device, room, ellipsis, Keep::End), 0);
    // Still too long: the line loses its end.
    return shortened(compose(shortened(device, deviceMin, ellipsis, Keep::End), 0), budget, ellipsis, Keep::Start);
}

} // namespace tarvik::cli
