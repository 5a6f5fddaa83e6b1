#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paces the repaints of a top-level window to at most one per interval (a
// display frame by default). A fast loader changes the log and the progress
// bar for every block; painting each change would cost far more than the
// change itself, and no screen shows more frames than it refreshes. Changes
// are never dropped: a deferred repaint paints everything that changed since.
class RepaintPacer : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultIntervalMs = 16;

    explicit RepaintPacer(QWidget *window, int intervalMs = DefaultIntervalMs);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    int m_intervalMs;
    QElapsedTimer m_lastSync;
    QTimer m_deferred;
    bool m_posting = false;
};
