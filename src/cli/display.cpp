// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/display.h"

#include "cli/boxrun.h"
#include "cli/liveline.h"
#include "cli/options.h"
#include "cli/output.h"
#include "dump/text.h"

#include <QSocketNotifier>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarvik::cli {

namespace {

const QString ClearLine = QStringLiteral("\r\x1b[2K");
const QString ClearBelow = QStringLiteral("\x1b[J");

QString cursorUp(int lines)
{
    return QStringLiteral("\x1b[%1A").arg(lines);
}

// SIGWINCH reaches the event loop through a socket pair.
int resizeSocket[2] = {-1, -1};

void onResizeSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(resizeSocket[1], &c, 1);
}

} // namespace

Terminal Terminal::ofStderr()
{
    Terminal terminal;
    const QByteArray term = qgetenv("TERM");
    terminal.live = ::isatty(STDERR_FILENO) == 1 && !term.isEmpty() && term != "dumb";
    terminal.columns = stderrColumns(terminal.columns);
    std::setlocale(LC_CTYPE, "");
    const QByteArray codeset = QByteArray(::nl_langinfo(CODESET)).toUpper().replace('-', QByteArray());
    terminal.utf8 = codeset == "UTF8";
    return terminal;
}

int Terminal::stderrColumns(int fallback)
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : fallback;
}

Display::Display(const QList<BoxRun *> &boxes, const QStringList &names, const Terminal &terminal,
                 bool quiet, QObject *parent)
    : QObject(parent), m_boxes(boxes), m_terminal(terminal), m_live(terminal.live && !quiet), m_quiet(quiet)
{
    for (qsizetype i = 0; i < boxes.size() && i < names.size(); ++i)
        m_names.insert(boxes.at(i), names.at(i));
    m_timer.setInterval(RedrawMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_dirty)
            redraw();
    });
    if (m_live) {
        watchResize();
        m_timer.start();
        redraw();
    }
}

Display::~Display()
{
    if (!m_resizeNotifier)
        return;
    std::signal(SIGWINCH, SIG_DFL);
    delete m_resizeNotifier;
    for (int &fd : resizeSocket) {
        ::close(fd);
        fd = -1;
    }
}

// A resized terminal gets its live lines fitted to the new width at once.
void Display::watchResize()
{
    if (resizeSocket[0] >= 0
        || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, resizeSocket) != 0)
        return;
    m_resizeNotifier = new QSocketNotifier(resizeSocket[0], QSocketNotifier::Read, this);
    connect(m_resizeNotifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(resizeSocket[0], buffer, sizeof buffer) > 0) {
        }
        onResized();
    });
    struct sigaction sa {};
    sa.sa_handler = onResizeSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGWINCH, &sa, nullptr);
}

void Display::onResized()
{
    m_terminal.columns = Terminal::stderrColumns(m_terminal.columns);
    if (m_live && !m_closed)
        redraw();
}

void Display::write(const QString &text)
{
    writeOut(stderr, forCharset(text, m_terminal.utf8));
}

void Display::notice(BoxRun *box, const QString &line, bool always)
{
    // The live lines show the rest.
    if ((m_quiet || m_live) && !always)
        return;
    clearLive();
    write(QStringLiteral("tarvik-dump: %1: %2\n").arg(box->device(), line));
    if (m_live && !m_closed)
        redraw();
}

void Display::progressed(BoxRun *box)
{
    if (m_quiet)
        return;
    if (m_live) {
        m_dirty = true;
        return;
    }
    const int total = box->blockCount();
    if (total <= 0)
        return;
    const int tenth = int(qint64(box->blocksDone()) * 10 / total);
    if (tenth <= m_tenthShown.value(box, 0))
        return;
    m_tenthShown.insert(box, tenth);
    write(QStringLiteral("%1: %2 % (%3)\n").arg(box->device()).arg(tenth * 10).arg(box->progressText()));
}

LiveLine Display::liveLine(const BoxRun &box, const QString &name)
{
    LiveLine line;
    line.device = name;
    line.model = box.model();
    if (box.isDone() && !box.failure().isEmpty()) {
        line.status = box.result();
    } else if (!box.isDone() && box.blocksDone() == 0 && box.model().isEmpty()) {
        line.status = QStringLiteral("waiting for the boot loader");
    } else {
        line.bar = true;
        line.done = box.blocksDone();
        line.total = box.blockCount();
        line.status = box.progressText();
    }
    return line;
}

void Display::clearLive()
{
    if (m_drawnLines > 0)
        write(cursorUp(m_drawnLines) + ClearLine + ClearBelow);
    m_drawnLines = 0;
}

// Every line is narrower than the terminal, so each takes one row and the
// cursor goes back up exactly as many rows as were drawn.
void Display::redraw()
{
    QString text;
    if (m_drawnLines > 0)
        text += cursorUp(m_drawnLines);
    for (const BoxRun *box : std::as_const(m_boxes))
        text += ClearLine + fitLine(liveLine(*box, m_names.value(box, deviceName(box->device()))), m_terminal.columns, m_terminal.utf8) + u'\n';
    write(text);
    m_drawnLines = int(m_boxes.size());
    m_dirty = false;
}

void Display::close()
{
    if (m_live && !m_closed) {
        m_terminal.columns = Terminal::stderrColumns(m_terminal.columns);
        redraw();
    }
    m_timer.stop();
    m_closed = true;
    m_drawnLines = 0;
}

} // namespace tarvik::cli
