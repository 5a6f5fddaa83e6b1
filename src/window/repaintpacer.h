// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/clock.h"

#include <QObject>

class QWidget;

namespace tarvik {

// Paces the repaints of a top-level window. A fast loader changes the log and
// the progress bar for every block; painting each change would cost far more
// than the change itself. While the user works in the window (pointer, keys,
// wheel or touch in the last InputGraceMs; not the focus, which moves when
// the window is shown), it repaints at most once a display frame. Otherwise,
// when only the program changes what it shows, it repaints at most once every
// idle interval, which still reads as a live log and progress bar. Changes are
// never dropped: a deferred repaint paints everything that changed since.
// Exposing or resizing the window paints at once, as always.
class RepaintPacer : public QObject
{
    Q_OBJECT
public:
    static constexpr int FrameMs = 16;
    static constexpr int IdleMs = 250;
    static constexpr int InputGraceMs = 1000;

    explicit RepaintPacer(QWidget *window, int frameMs = FrameMs, int idleMs = IdleMs,
                          int inputGraceMs = InputGraceMs);

    // For tests: the clock the pacing goes by.
    void setClock(Clock &clock);

    // The interval that applies now.
    int intervalMs() const;

signals:
    // The window is about to repaint: last moment to bring what it shows up to date.
    void aboutToRepaint();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isInputToWindow(QObject *watched, const QEvent *event) const;

    QWidget *m_window;
    int m_frameMs;
    int m_idleMs;
    int m_inputGraceMs;
    // Since the last repaint and the last input, in ms; -1 before the first.
    qint64 sinceLastSync() const;
    qint64 sinceLastInput() const;

    qint64 m_lastSyncNs = -1;
    qint64 m_lastInputNs = -1;
    ClockTimer m_deferred;
};

} // namespace tarvik
