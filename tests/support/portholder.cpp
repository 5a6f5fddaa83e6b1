// SPDX-License-Identifier: GPL-3.0-or-later
// Holds a device open for the tests as another program would: opens it,
// claims it exclusively (TIOCEXCL; not with --shared, as a program that never
// asks for it), says "ready" on stdout and keeps it until its stdin is closed.
// With --name, it goes by that command name (15 bytes at most).
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    int at = 1;
    bool shared = false;
    for (; at + 1 < argc; ++at) {
        const std::string option = argv[at];
        if (option == "--shared")
            shared = true;
        else if (option == "--name" && at + 2 < argc)
            ::prctl(PR_SET_NAME, argv[++at]);
        else
            return 2;
    }
    if (at != argc - 1)
        return 2;
    const char *device = argv[at];
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
