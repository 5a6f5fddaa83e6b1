// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/clock.h"

#include <chrono>

namespace tarvik {

namespace {

class SystemClock : public Clock
{
public:
    qint64 nowNs() const override
    {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    }
};

} // namespace

Clock &Clock::system()
{
    static SystemClock clock;
    return clock;
}

ClockTimer::ClockTimer(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &ClockTimer::fire);
}

ClockTimer::~ClockTimer()
{
    stop();
}

void ClockTimer::setClock(Clock &clock)
{
    stop();
    m_clock = &clock;
}

void ClockTimer::start(int ms)
{
    stop();
    m_active = true;
    m_dueNs = m_clock->nowNs() + qint64(ms) * 1000000;
    if (m_clock->firesTimers())
        m_clock->arm(this);
    else
        m_timer.start(ms);
}

void ClockTimer::stop()
{
    if (!m_active)
        return;
    m_active = false;
    m_timer.stop();
    if (m_clock->firesTimers())
        m_clock->disarm(this);
}

void ClockTimer::fire()
{
    stop();
    emit timeout();
}

} // namespace tarvik
