#include "repaintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

RepaintPacer::RepaintPacer(QWidget *window, int intervalMs)
    : QObject(window), m_window(window), m_intervalMs(intervalMs)
{
    m_deferred.setSingleShot(true);
    m_deferred.setTimerType(Qt::PreciseTimer);
    connect(&m_deferred, &QTimer::timeout, this, [this] {
        QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
    });
    window->installEventFilter(this);
}

bool RepaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_lastSync.isValid() && m_lastSync.elapsed() < m_intervalMs) {
        if (!m_deferred.isActive())
            m_deferred.start(int(m_intervalMs - m_lastSync.elapsed()));
        return true; // painted when the timer fires
    }
    m_deferred.stop();
    m_lastSync.start();
    return false;
}
