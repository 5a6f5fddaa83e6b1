// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/output.h"

#include "cli/options.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarvik::cli {

namespace {

struct StreamState {
    bool failed = false;
    int error = 0; // errno of the first failure
};

StreamState outState;
StreamState errState;

StreamState &stateOf(std::FILE *stream)
{
    return stream == stdout ? outState : errState;
}

void noteFailure(std::FILE *stream, int error)
{
    StreamState &state = stateOf(stream);
    if (state.failed)
        return;
    state.failed = true;
    state.error = error != 0 ? error : EIO;
}

} // namespace

void guardStandardStreams()
{
    // In order, so that /dev/null lands on the lowest closed one each time.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            ::dup2(null, fd);
            ::close(null);
        }
        if (fd == STDOUT_FILENO)
            noteFailure(stdout, EBADF);
        else if (fd == STDERR_FILENO)
            noteFailure(stderr, EBADF);
    }
}

bool writeOut(std::FILE *stream, const QString &text)
{
    // A stream that failed once gets nothing more: its reader is gone, or the
    // disk is full, and half lines help nobody.
    if (stateOf(stream).failed)
        return false;
    const QByteArray bytes = text.toLocal8Bit();
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    if (written && std::fflush(stream) == 0 && !std::ferror(stream))
        return true;
    noteFailure(stream, errno);
    return false;
}

int settleOutput(int code)
{
    for (std::FILE *stream : {stdout, stderr}) {
        errno = 0;
        if (!stateOf(stream).failed && (std::fflush(stream) != 0 || std::ferror(stream)))
            noteFailure(stream, errno);
    }
    if (!outState.failed && !errState.failed)
        return code;
    if (outState.failed)
        writeOut(stderr, QStringLiteral("tarvik-dump: cannot write to standard output: %1\n")
                                 .arg(QString::fromLocal8Bit(std::strerror(outState.error))));
    // How the runs were ended matters more to the caller: a dropped session
    // also takes the terminal with it.
    if (code == ExitInterrupted || code == ExitHangUp)
        return code;
    return ExitFailed;
}

bool colourFor(std::FILE *stream, ColorMode mode)
{
    if (mode != ColorMode::Auto)
        return mode == ColorMode::Always;
    const QByteArray term = qgetenv("TERM");
    return qEnvironmentVariableIsEmpty("NO_COLOR") && ::isatty(::fileno(stream)) == 1 && !term.isEmpty()
           && term != "dumb";
}

} // namespace tarvik::cli
