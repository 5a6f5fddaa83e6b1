// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/repaintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace tarvik {

RepaintPacer::RepaintPacer(QWidget *window, int frameMs, int idleMs, int inputGraceMs)
    : QObject(window), m_window(window), m_frameMs(frameMs), m_idleMs(idleMs), m_inputGraceMs(inputGraceMs)
{
    m_deferred.setTimerType(Qt::PreciseTimer);
    connect(&m_deferred, &ClockTimer::timeout, this, [this] {
        QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    // Input goes to the widget under the pointer or in focus, not to the window.
    QCoreApplication::instance()->installEventFilter(this);
}

void RepaintPacer::setClock(Clock &clock)
{
    m_deferred.setClock(clock);
    m_lastSyncNs = -1;
    m_lastInputNs = -1;
}

qint64 RepaintPacer::sinceLastSync() const
{
    return m_lastSyncNs < 0 ? -1 : (m_deferred.clock().nowNs() - m_lastSyncNs) / 1000000;
}

qint64 RepaintPacer::sinceLastInput() const
{
    return m_lastInputNs < 0 ? -1 : (m_deferred.clock().nowNs() - m_lastInputNs) / 1000000;
}

int RepaintPacer::intervalMs() const
{
    const bool working = m_lastInputNs >= 0 && sinceLastInput() < m_inputGraceMs;
    return working ? m_frameMs : m_idleMs;
}

bool RepaintPacer::isInputToWindow(QObject *watched, const QEvent *event) const
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
        break;
    default:
        return false;
    }
    return watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == m_window;
}

bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (isInputToWindow(watched, event)) {
        m_lastInputNs = m_deferred.clock().nowNs();
        // A repaint held back for the idle interval now comes within a frame.
        if (m_deferred.isActive() && m_lastSyncNs >= 0)
            m_deferred.start(int(qMax<qint64>(0, m_frameMs - sinceLastSync())));
        return false;
    }
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    const int interval = intervalMs();
    if (m_lastSyncNs >= 0 && sinceLastSync() < interval) {
        if (!m_deferred.isActive())
            m_deferred.start(int(interval - sinceLastSync()));
        return true; // painted when the timer fires
    }
    m_deferred.stop();
    m_lastSyncNs = m_deferred.clock().nowNs();
    emit aboutToRepaint();
    return false;
}

} // namespace tarvik
