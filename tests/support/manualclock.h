// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/clock.h"

#include <QList>

// A clock that stands still until the test moves it on. Timers on it fire
// inside advance(), each at its own time, in the order they fall due.
class ManualClock : public tarvik::Clock
{
public:
    qint64 nowNs() const override { return m_ns; }

    void advance(qint64 ms)
    {
        const qint64 target = m_ns + ms * 1000000;
        for (;;) {
            tarvik::ClockTimer *next = nullptr;
            for (tarvik::ClockTimer *timer : std::as_const(m_armed)) {
                if (timer->dueNs() <= target && (!next || timer->dueNs() < next->dueNs()))
                    next = timer;
            }
            if (!next)
                break;
            m_ns = qMax(m_ns, next->dueNs());
            next->fire();
        }
        m_ns = target;
    }

    // Timers waiting for their time.
    int armedTimers() const { return int(m_armed.size()); }

protected:
    bool firesTimers() const override { return true; }
    void arm(tarvik::ClockTimer *timer) override { m_armed.append(timer); }
    void disarm(tarvik::ClockTimer *timer) override { m_armed.removeOne(timer); }

private:
    qint64 m_ns = qint64(3600) * 1000000000; // any start will do
    QList<tarvik::ClockTimer *> m_armed;
};
