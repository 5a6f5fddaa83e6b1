// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace tarvik::cli {

// --wait: how long a box may leave the handshake unanswered. Fires once, at
// least the seconds asked for after start().
class WaitLimit : public QObject
{
    Q_OBJECT
public:
    explicit WaitLimit(QObject *parent = nullptr);

    // 0 seconds: no limit.
    void start(int seconds);
    void stop() { m_timer.stop(); }
    int seconds() const { return m_seconds; }
    // The limit has passed while the box still had not answered.
    bool passed() const { return m_passed; }
    // Called when the limit passes; true when the box was still waiting, which
    // is then taken for no answer.
    void setStillWaiting(std::function<bool()> stillWaiting) { m_stillWaiting = std::move(stillWaiting); }

signals:
    void passedUnanswered();

private:
    QTimer m_timer;
    int m_seconds = 0;
    bool m_passed = false;
    std::function<bool()> m_stillWaiting;
};

} // namespace tarvik::cli
