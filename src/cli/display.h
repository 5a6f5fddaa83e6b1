// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

namespace tarvik::cli {

class BoxRun;

// What the user sees on stderr while the boxes are read: on a terminal one
// live line per box, stacked and redrawn in place a few times a second;
// otherwise one plain line per box at every tenth of its blocks. Notices
// (waiting for a box, failures) go out at once, above the live lines.
class Display : public QObject
{
    Q_OBJECT
public:
    static constexpr int RedrawMs = 250;
    static constexpr int BarWidth = 20;

    // `names`: what each box goes by in its live line, in the order of `boxes`.
    Display(const QList<BoxRun *> &boxes, const QStringList &names, bool live, bool quiet,
            QObject *parent = nullptr);

    // A line for the box; unless `always`, only when there are no live lines and not quiet.
    void notice(BoxRun *box, const QString &line, bool always);
    void progressed(BoxRun *box);
    // The last picture of the live lines; nothing is redrawn afterwards.
    void close();

    // One live line, e.g. "ttyUSB0  KSF-2100  [#####...]  512 / 1024 blocks · 11.0 KiB/s · 0:46 left".
    static QString liveLine(const BoxRun &box, const QString &name);

private:
    void redraw();
    void clearLive();
    void write(const QString &text);

    QList<BoxRun *> m_boxes;
    bool m_live = false;
    bool m_quiet = false;
    bool m_dirty = false;
    bool m_closed = false;
    int m_drawnLines = 0;
    QTimer m_timer;
    QHash<BoxRun *, int> m_tenthShown;
    QHash<const BoxRun *, QString> m_names;
};

} // namespace tarvik::cli
