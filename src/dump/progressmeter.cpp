// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/progressmeter.h"

#include <QStringList>

#include <cmath>

namespace tarvik {

namespace {

const QString SpeedUnit = QStringLiteral(" KiB/s");
const QString LeftWord = QStringLiteral(" left");

QString clockText(qint64 seconds)
{
    const qint64 hours = seconds / 3600;
    const qint64 minutes = (seconds / 60) % 60;
    const qint64 secs = seconds % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(hours)
            .arg(minutes, 2, 10, QLatin1Char('0'))
            .arg(secs, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}

} // namespace

void ProgressMeter::start(int totalBlocks, int alreadyDone)
{
    m_total = totalBlocks;
    m_alreadyDone = alreadyDone;
    m_firstDone = 0;
    m_firstNs = -1;
}

QString ProgressMeter::update(int done)
{
    if (m_firstNs < 0) {
        if (done > m_alreadyDone) {
            m_firstNs = m_clock->nowNs();
            m_firstDone = done;
        }
        return format(done, m_total, -1);
    }
    double rate = -1;
    const qint64 ns = m_clock->nowNs() - m_firstNs;
    if (done > m_firstDone && ns > 0)
        rate = double(done - m_firstDone) * BlockBytes * 1e9 / double(ns);
    return format(done, m_total, rate);
}

QString ProgressMeter::format(int done, int total, double bytesPerSecond)
{
    QString text = QStringLiteral("%1 / %2 blocks").arg(done).arg(total);
    if (bytesPerSecond < 0 || !std::isfinite(bytesPerSecond))
        return text;
    text += Separator + QString::number(bytesPerSecond / 1024.0, 'f', 1) + SpeedUnit;
    if (done < total && bytesPerSecond > 0) {
        const double left = double(total - done) * BlockBytes / bytesPerSecond;
        text += Separator + clockText(qint64(std::floor(left))) + LeftWord;
    }
    return text;
}

ProgressMeter::Parts ProgressMeter::parts(const QString &text)
{
    Parts parts;
    const QStringList pieces = text.split(Separator);
    parts.counts = pieces.value(0);
    for (qsizetype i = 1; i < pieces.size(); ++i) {
        const QString &piece = pieces.at(i);
        if (piece.endsWith(SpeedUnit))
            parts.speed = piece;
        else if (piece.endsWith(LeftWord))
            parts.left = piece;
        else
            parts.counts += Separator + piece;
    }
    return parts;
}

QString ProgressMeter::ended(int done, int total, Ending ending)
{
    const QString why = ending == Ending::TotalCheckFailed ? QStringLiteral("total check failed")
                                                           : QStringLiteral("stopped");
    return format(done, total, -1) + Separator + why;
}

} // namespace tarvik
