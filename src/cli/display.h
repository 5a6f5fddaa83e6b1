// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QSocketNotifier;

namespace tarvik::cli {

class BoxRun;
struct LiveLine;

// What stderr is: a terminal that can take live lines (not TERM=dumb), how
// wide it is, and whether the locale's charset is UTF-8.
struct Terminal {
    bool live = false;
    int columns = 80;
    bool utf8 = true;

    static Terminal ofStderr();
    // The width of stderr's terminal; `fallback` when it does not say.
    static int stderrColumns(int fallback);
};

// What the user sees on stderr while the boxes are read: on a terminal one
// live line per box, stacked and redrawn in place a few times a second, each
// fitted to the terminal's width (again when it is resized); otherwise one
// plain line per box at every tenth of its blocks. Notices (waiting for a box,
// failures) go out at once, above the live lines.
class Display : public QObject
{
    Q_OBJECT
public:
    static constexpr int RedrawMs = 250;

    // `names`: what each box goes by in its live line, in the order of `boxes`.
    Display(const QList<BoxRun *> &boxes, const QStringList &names, const Terminal &terminal, bool quiet,
            QObject *parent = nullptr);
    ~Display() override;

    // A line for the box; unless `always`, only when there are no live lines and not quiet.
    void notice(BoxRun *box, const QString &line, bool always);
    void progressed(BoxRun *box);
    // The last picture of the live lines; nothing is redrawn afterwards.
    void close();

    // What the box's live line says, e.g. "ttyUSB0  KSF-2100  [#####...]  512 / 1024 blocks · 11.0 KiB/s · 0:46 left".
    static LiveLine liveLine(const BoxRun &box, const QString &name);

private:
    void redraw();
    void clearLive();
    void write(const QString &text);
    void watchResize();
    void onResized();

    QList<BoxRun *> m_boxes;
    Terminal m_terminal;
    bool m_live = false;
    bool m_quiet = false;
    bool m_dirty = false;
    bool m_closed = false;
    // Live lines on the screen above the cursor, each one row.
    int m_drawnLines = 0;
    QTimer m_timer;
    QSocketNotifier *m_resizeNotifier = nullptr;
    QHash<BoxRun *, int> m_tenthShown;
    QHash<const BoxRun *, QString> m_names;
};

} // namespace tarvik::cli
