// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QTimer>

namespace tarvik {

// The log pane. Its text is the log, with CR LF line ends; the program appends
// to it at the end and never sets the whole text again except to replace it.
// The user cannot change it: typed characters go to the window's key handler.
class LogPane : public QPlainTextEdit
{
    Q_OBJECT
public:
    explicit LogPane(QWidget *parent = nullptr);

    // The whole log, lines ended by CR LF, including what post() holds back.
    QString text();
    // Replaces the log; what post() held back is dropped.
    void replaceText(const QString &text);
    void appendText(const QString &piece);
    // Appends `piece` with the next flush(): right before the pane is next
    // drawn (the window calls flush() then), at the latest after the flush
    // delay. The pieces posted until then go in with one edit: a dump run logs
    // twice for every block, and each edit lays out, scrolls and moves the
    // caret. text() takes them in at once.
    void post(const QString &piece);
    void flush();
    // 0 (the default): the next time control returns to the event loop.
    void setFlushDelay(int ms) { m_flushTimer.setInterval(ms); }

private:
    QString m_pending;
    QTimer m_flushTimer;
};

} // namespace tarvik
