// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty/rawpty.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>

namespace tarvik {

void setRawMode(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
}

RawPty openRawPty()
{
    RawPty pty;
    char name[256] = {};
    if (::openpty(&pty.master, &pty.slave, name, nullptr, nullptr) != 0) {
        pty.error = errno;
        pty.master = pty.slave = -1;
        return pty;
    }
    setRawMode(pty.slave);
    ::fcntl(pty.master, F_SETFD, FD_CLOEXEC);
    ::fcntl(pty.slave, F_SETFD, FD_CLOEXEC);
    pty.slavePath = QString::fromLocal8Bit(name);
    return pty;
}

} // namespace tarvik
