#pragma once

#include <QByteArray>
#include <QIODevice>

// A file device that takes `room` bytes and then fails as a full disk does, or
// refuses to open at all. What it took lands in `sink`, when one is given.
class FailingDevice : public QIODevice
{
public:
    FailingDevice(qint64 room, bool refuseOpen, QByteArray *sink = nullptr)
        : m_sink(sink), m_room(room), m_refuseOpen(refuseOpen)
    {
    }

    bool open(OpenMode mode) override
    {
        if (m_refuseOpen) {
            setErrorString(QStringLiteral("Permission denied"));
            return false;
        }
        return QIODevice::open(mode);
    }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        if (m_room <= 0) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        const qint64 n = qMin(len, m_room);
        if (m_sink)
            m_sink->append(data, n);
        m_room -= n;
        return n;
    }

private:
    QByteArray *m_sink;
    qint64 m_room;
    bool m_refuseOpen;
};
