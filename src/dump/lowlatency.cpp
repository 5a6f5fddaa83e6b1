// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/lowlatency.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace tarvik {

void LowLatencyMode::enable(int fd)
{
    m_setHere = false;
    serial_struct info {};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY))
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    m_setHere = ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}

void LowLatencyMode::restore(int fd)
{
    if (!m_setHere)
        return;
    m_setHere = false;
    // A device that is gone takes its setting with it.
    serial_struct info {};
    if (fd < 0 || ::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

} // namespace tarvik
