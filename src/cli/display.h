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

// What stderr is: a terminal that can take live lines (not TERM=dumb), its
// size, and whether the locale's charset is UTF-8.
struct Terminal {
    bool live = false;
    int columns = 80;
    int rows = 24;
    bool utf8 = true;

    static Terminal ofStderr();
    // Reads the size of stderr's terminal again; what it does not say stays as it was.
    void readSize();
};

// What the user sees on stderr while the boxes are read: on a terminal a block
// of live lines, one per box, redrawn in place a few times a second, each
// fitted to the terminal's width; with several boxes a tally line below them.
// The block stays below the terminal's height, so that nothing scrolls: the
// boxes that do not fit are left out, those still at work shown first. It is
// fitted again when the terminal is resized. Elsewhere (or on a terminal of
// fewer than two rows) one plain line per box at every tenth of its blocks.
// Notices (waiting for a box, failures) go out at once, above the live lines.
class Display : public QObject
{
    Q_OBJECT
public:
    static constexpr int RedrawMs = 250;
    // How often the plain lines remind of a box that is still waiting.
    static constexpr int WaitNoticeSeconds = 10;

    // `names`: what each box goes by in its live line, in the order of `boxes`.
    // `colour`: the tally that ends the run is coloured.
    Display(const QList<BoxRun *> &boxes, const QStringList &names, const Terminal &terminal, bool quiet,
            bool colour = false, QObject *parent = nullptr);
    ~Display() override;

    // A line for the box; unless `always`, only when there are no live lines and not quiet.
    void notice(BoxRun *box, const QString &line, bool always);
    void progressed(BoxRun *box);
    // The end of the live lines: with several boxes they go (the summary
    // lines say the rest), one box's line stays as it ended. Nothing is
    // redrawn afterwards.
    void close();
    // With several boxes: the tally line that ends the run.
    void sumUp();

    // What the box's live line says, e.g. "ttyUSB0  KSF-2100  [#####...]  512 / 1024 blocks · 11.0 KiB/s · 0:46 left".
    static LiveLine liveLine(const BoxRun &box, const QString &name);
    // "8 boxes: 5 reading, 2 done, 1 failed", with `colour` the ended ones coloured.
    static QString tally(const QList<BoxRun *> &boxes, bool colour = false);

private:
    enum class State { Reading, Waiting, Failed, Interrupted, Done };
    static State stateOf(const BoxRun &box);
    static QString waitingText(int seconds);

    // How many live lines the terminal takes: one row stays for the cursor.
    int liveRows() const;
    bool showsLive() const { return m_live && liveRows() > 0; }
    QStringList liveLines() const;
    void redraw(bool force = false);
    void clearLive();
    void remindWaiting();
    void write(const QString &text);
    void watchResize();
    void onResized();

    QList<BoxRun *> m_boxes;
    Terminal m_terminal;
    bool m_live = false;
    bool m_quiet = false;
    bool m_colour = false;
    bool m_closed = false;
    // The live lines on the screen above the cursor, each one row.
    QStringList m_drawn;
    int m_deviceWidth = 0;
    QTimer m_timer;
    QSocketNotifier *m_resizeNotifier = nullptr;
    QHash<BoxRun *, int> m_tenthShown;
    QHash<const BoxRun *, int> m_waitShown;
    QHash<const BoxRun *, QString> m_names;
};

} // namespace tarvik::cli
