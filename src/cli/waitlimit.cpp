// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/waitlimit.h"

namespace tarvik::cli {

WaitLimit::WaitLimit(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    // At least the seconds asked for: a coarse timer may fire 5 % early.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_stillWaiting && !m_stillWaiting())
            return;
        m_passed = true;
        emit passedUnanswered();
    });
}

void WaitLimit::start(int seconds)
{
    m_seconds = seconds;
    if (seconds > 0)
        m_timer.start(seconds * 1000);
}

} // namespace tarvik::cli
