// SPDX-License-Identifier: GPL-3.0-or-later
#include "display.h"

#include "boxrun.h"
#include "options.h"
#include "output.h"
#include "text.h"

#include <cstdio>

namespace tarvik::cli {

namespace {

const QString ClearLine = QStringLiteral("\r\x1b[2K");
const QString ClearBelow = QStringLiteral("\x1b[J");

QString cursorUp(int lines)
{
    return QStringLiteral("\x1b[%1A").arg(lines);
}

} // namespace

Display::Display(const QList<BoxRun *> &boxes, const QStringList &names, bool live, bool quiet,
                 QObject *parent)
    : QObject(parent), m_boxes(boxes), m_live(live && !quiet), m_quiet(quiet)
{
    for (qsizetype i = 0; i < boxes.size() && i < names.size(); ++i)
        m_names.insert(boxes.at(i), names.at(i));
    m_timer.setInterval(RedrawMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_dirty)
            redraw();
    });
    if (m_live) {
        m_timer.start();
        redraw();
    }
}

void Display::write(const QString &text)
{
    writeOut(stderr, text);
}

void Display::notice(BoxRun *box, const QString &line, bool always)
{
    // The live lines show the rest.
    if ((m_quiet || m_live) && !always)
        return;
    clearLive();
    write(QStringLiteral("tarvik-dump: %1: %2\n").arg(box->device(), line));
    if (m_live && !m_closed)
        redraw();
}

void Display::progressed(BoxRun *box)
{
    if (m_quiet)
        return;
    if (m_live) {
        m_dirty = true;
        return;
    }
    const int total = box->blockCount();
    if (total <= 0)
        return;
    const int tenth = int(qint64(box->blocksDone()) * 10 / total);
    if (tenth <= m_tenthShown.value(box, 0))
        return;
    m_tenthShown.insert(box, tenth);
    write(QStringLiteral("%1: %2 % (%3)\n").arg(box->device()).arg(tenth * 10).arg(box->progressText()));
}

QString Display::liveLine(const BoxRun &box, const QString &name)
{
    QString line = name;
    if (!box.model().isEmpty())
        line += QStringLiteral("  ") + withoutControls(box.model());
    if (box.isDone() && !box.failure().isEmpty())
        return line + QStringLiteral("  ") + box.result();
    if (!box.isDone() && box.blocksDone() == 0 && box.model().isEmpty())
        return line + QStringLiteral("  waiting for the boot loader");
    const int total = box.blockCount();
    const int filled = total > 0 ? int(qint64(box.blocksDone()) * BarWidth / total) : BarWidth;
    line += QStringLiteral("  [") + QString(filled, u'#') + QString(BarWidth - filled, u'-')
            + QStringLiteral("]  ") + box.progressText();
    return line;
}

void Display::clearLive()
{
    if (m_drawnLines > 0)
        write(cursorUp(m_drawnLines) + ClearLine + ClearBelow);
    m_drawnLines = 0;
}

void Display::redraw()
{
    QString text;
    if (m_drawnLines > 0)
        text += cursorUp(m_drawnLines);
    for (const BoxRun *box : std::as_const(m_boxes))
        text += ClearLine + liveLine(*box, m_names.value(box, deviceName(box->device()))) + u'\n';
    write(text);
    m_drawnLines = int(m_boxes.size());
    m_dirty = false;
}

void Display::close()
{
    if (m_live && !m_closed)
        redraw();
    m_timer.stop();
    m_closed = true;
    m_drawnLines = 0;
}

} // namespace tarvik::cli
