// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QTimer>

namespace tarvik {

class ClockTimer;

// The time that stall watches, throughput and repaint pacing go by. The
// system clock is the default everywhere; tests hand in a clock that they
// move on by hand, and then the timers on it fire when it passes their time.
class Clock
{
public:
    virtual ~Clock() = default;

    // Monotonic time in nanoseconds from an arbitrary start.
    virtual qint64 nowNs() const = 0;
    qint64 nowMs() const { return nowNs() / 1000000; }

    // The system's monotonic clock; its timers are QTimers.
    static Clock &system();

protected:
    friend class ClockTimer;
    // A clock that fires its timers itself takes them here; the system clock
    // leaves them to the event loop.
    virtual bool firesTimers() const { return false; }
    virtual void arm(ClockTimer *) { }
    virtual void disarm(ClockTimer *) { }
};

// A single-shot timer on a Clock, used as a QTimer is.
class ClockTimer : public QObject
{
    Q_OBJECT
public:
    explicit ClockTimer(QObject *parent = nullptr);
    ~ClockTimer() override;

    // Takes effect at the next start().
    void setClock(Clock &clock);
    Clock &clock() const { return *m_clock; }
    void setTimerType(Qt::TimerType type) { m_timer.setTimerType(type); }

    void start(int ms);
    void stop();
    bool isActive() const { return m_active; }
    // When it falls due, on its clock.
    qint64 dueNs() const { return m_dueNs; }

    // For a clock that fires its timers itself.
    void fire();

signals:
    void timeout();

private:
    Clock *m_clock = &Clock::system();
    QTimer m_timer;
    qint64 m_dueNs = 0;
    bool m_active = false;
};

} // namespace tarvik
