// SPDX-License-Identifier: GPL-3.0-or-later
#include "memoryport.h"

#include <utility>

namespace tarvik {

SerialService::OpenError MemoryPort::open()
{
    if (m_open)
        return OpenError::None;
    m_open = true;
    m_lost = false;
    m_buffer.clear();
    return OpenError::None;
}

void MemoryPort::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_lost = false;
    m_buffer.clear();
    emit portClosed();
}

void MemoryPort::discardInput()
{
    m_buffer.clear();
}

int MemoryPort::bytesWaiting() const
{
    return int(m_buffer.size());
}

QString MemoryPort::readText()
{
    return QString::fromLatin1(readBytes());
}

QByteArray MemoryPort::readBytes()
{
    return std::exchange(m_buffer, QByteArray());
}

void MemoryPort::send(const QByteArray &bytes)
{
    if (!m_open)
        m_faults << QStringLiteral("sent on a closed port: %1").arg(QString::fromLatin1(bytes.left(40)));
    if (m_sealed)
        m_faults << QStringLiteral("sent after the run had finished: %1").arg(QString::fromLatin1(bytes.left(40)));
    if (!m_open || m_lost || bytes.isEmpty())
        return;
    if (m_loseAt > 0 && ++m_sends == m_loseAt) {
        lose(QStringLiteral("Input/output error"));
        return;
    }
    m_wire += bytes;
}

void MemoryPort::deliver(const QByteArray &bytes)
{
    if (!m_open || m_lost || bytes.isEmpty())
        return;
    m_buffer += bytes;
    emit readyRead();
}

void MemoryPort::lose(const QString &reason)
{
    if (!m_open || m_lost)
        return;
    m_lost = true;
    m_buffer.clear();
    for (int i = 0; i < 2 && m_open; ++i)
        emit portLost(reason);
}

void MemoryPort::loseAtSend(int n)
{
    m_loseAt = n;
    m_sends = 0;
}

} // namespace tarvik
