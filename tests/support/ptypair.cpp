// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ptypair.h"

#include "pty/rawpty.h"

#include <QElapsedTimer>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    const tarvik::RawPty pty = tarvik::openRawPty();
    m_master = pty.master;
    m_slaveKeeper = pty.slave;
    m_slavePath = pty.slavePath;
}

PtyPair::~PtyPair()
{
    closeMaster();
    closeSlaveKeeper();
}

int PtyPair::takeMaster()
{
    const int fd = m_master;
    m_master = -1;
    return fd;
}

void PtyPair::closeMaster()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyPair::closeSlaveKeeper()
{
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    m_slaveKeeper = -1;
}

bool PtyPair::writeAll(const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(m_master, data.constData() + done, size_t(data.size() - done));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                pollfd p{m_master, POLLOUT, 0};
                ::poll(&p, 1, 100);
                continue;
            }
            return false;
        }
        done += n;
    }
    return true;
}

QByteArray PtyPair::readAvailable(int waitMs)
{
    QByteArray out;
    pollfd p{m_master, POLLIN, 0};
    int timeout = waitMs;
    while (::poll(&p, 1, timeout) > 0 && (p.revents & POLLIN)) {
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, n);
        timeout = 0;
    }
    return out;
}

QByteArray PtyPair::readExactly(int count, int timeoutMs)
{
    QByteArray out;
    QElapsedTimer clock;
    clock.start();
    while (out.size() < count && clock.elapsed() < timeoutMs) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, int(qMax<qint64>(1, timeoutMs - clock.elapsed()))) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, size_t(qMin<qsizetype>(sizeof buf, count - out.size())));
        if (n <= 0)
            break;
        out.append(buf, n);
    }
    return out;
}
