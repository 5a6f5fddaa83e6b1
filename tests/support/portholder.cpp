// SPDX-License-Identifier: GPL-3.0-or-later
// Holds a device open for the tests as another program would: opens it,
// claims it exclusively (TIOCEXCL), says "ready" on stdout and keeps it until
// its stdin is closed.
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 2;
    const int fd = ::open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    ::close(fd);
    return 0;
}
