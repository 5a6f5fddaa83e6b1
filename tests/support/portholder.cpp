// SPDX-License-Identifier: GPL-3.0-or-later
// Holds a device open for the tests as another program would: opens it,
// claims it exclusively (TIOCEXCL; not with --shared, as a program that never
// asks for it), says "ready" on stdout and keeps it until its stdin is closed.
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const bool shared = argc == 3 && std::string(argv[1]) == "--shared";
    if (argc != 2 && !shared)
        return 2;
    const char *device = argv[argc - 1];
    const int fd = ::open(device, O_RDWR | O_NOCTTY);
    if (fd < 0 || (!shared && ::ioctl(fd, TIOCEXCL) != 0)) {
        std::perror(device);
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
