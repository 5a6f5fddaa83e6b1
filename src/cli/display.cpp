// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/display.h"

#include "cli/boxrun.h"
#include "cli/liveline.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/textformat.h"
#include "dump/text.h"

#include <QMap>
#include <QSocketNotifier>

#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <langinfo.h>
#include <numeric>
#include <tuple>
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
    terminal.readSize();
    std::setlocale(LC_CTYPE, "");
    const QByteArray codeset = QByteArray(::nl_langinfo(CODESET)).toUpper().replace('-', QByteArray());
    terminal.utf8 = codeset == "UTF8";
    return terminal;
}

void Terminal::readSize()
{
    winsize size{};
    const bool known = ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0;
    const auto take = [](int told, const char *variable, int &field) {
        const int value = told > 0 ? told : qEnvironmentVariableIntValue(variable);
        if (value > 0)
            field = value;
    };
    take(known ? size.ws_col : 0, "COLUMNS", columns);
    take(known ? size.ws_row : 0, "LINES", rows);
}

Display::Display(const QList<BoxRun *> &boxes, const QStringList &names, const Terminal &terminal,
                 bool quiet, bool colour, QObject *parent)
    : QObject(parent), m_boxes(boxes), m_terminal(terminal), m_live(terminal.live && !quiet), m_quiet(quiet),
      m_colour(colour)
{
    for (qsizetype i = 0; i < boxes.size() && i < names.size(); ++i)
        m_names.insert(boxes.at(i), names.at(i));
    for (const QString &name : names)
        m_deviceWidth = qMax(m_deviceWidth, textColumns(name));
    // Also while nothing progresses: the seconds that a box waits tick on.
    m_timer.setInterval(RedrawMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (showsLive())
            redraw();
        else
            remindWaiting();
    });
    if (m_quiet)
        return;
    m_timer.start();
    if (m_live) {
        watchResize();
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
    m_terminal.readSize();
    if (m_live && !m_closed)
        redraw(true);
}

void Display::write(const QString &text)
{
    writeOut(stderr, forCharset(text, m_terminal.utf8));
}

void Display::notice(BoxRun *box, const QString &line, bool always)
{
    // The live lines show the rest.
    if ((m_quiet || showsLive()) && !always)
        return;
    clearLive();
    write(QStringLiteral("tarvik-dump: %1: %2\n").arg(box->device(), line));
    if (m_live && !m_closed)
        redraw();
}

void Display::progressed(BoxRun *box)
{
    if (m_quiet || showsLive())
        return;
    const int total = box->blockCount();
    if (total <= 0)
        return;
    const int tenth = int(qint64(box->blocksDone()) * 10 / total);
    if (tenth <= m_tenthShown.value(box, 0))
        return;
    m_tenthShown.insert(box, tenth);
    write(QStringLiteral("%1: %2 % (%3)\n").arg(box->device()).arg(tenth * 10).arg(box->progressText()));
}

// Without live lines a box that waits is told of now and then, so that the
// program does not look stuck.
void Display::remindWaiting()
{
    for (BoxRun *box : std::as_const(m_boxes)) {
        if (stateOf(*box) != State::Waiting)
            continue;
        const int times = box->elapsedSeconds() / WaitNoticeSeconds;
        if (times <= m_waitShown.value(box, 0))
            continue;
        m_waitShown.insert(box, times);
        notice(box, waitingText(times * WaitNoticeSeconds), false);
    }
}

QString Display::waitingText(int seconds)
{
    return QStringLiteral("waiting for the boot loader \u00B7 %1 s \u00B7 %2").arg(seconds).arg(BoxRun::HostModeReminder);
}

Display::State Display::stateOf(const BoxRun &box)
{
    if (!box.isDone())
        return box.waitingForLoader() ? State::Waiting : State::Reading;
    if (box.result() == RunResult::Interrupted)
        return State::Interrupted;
    return box.failed() ? State::Failed : State::Done;
}

QString Display::tally(const QList<BoxRun *> &boxes, bool colour)
{
    QMap<State, int> counts;
    for (const BoxRun *box : boxes)
        ++counts[stateOf(*box)];
    QStringList parts;
    const std::tuple<State, QString, Tone> words[] = {
        {State::Waiting, QStringLiteral("waiting"), Tone::Plain},
        {State::Reading, QStringLiteral("reading"), Tone::Plain},
        {State::Done, QStringLiteral("done"), Tone::Good},
        {State::Failed, QStringLiteral("failed"), Tone::Bad},
        {State::Interrupted, QStringLiteral("interrupted"), Tone::Caution}};
    for (const auto &[state, word, tone] : words) {
        if (counts.value(state) > 0)
            parts << painted(QStringLiteral("%1 %2").arg(counts.value(state)).arg(word), tone, colour);
    }
    return QStringLiteral("%1 boxes: %2").arg(boxes.size()).arg(parts.join(QStringLiteral(", ")));
}

LiveLine Display::liveLine(const BoxRun &box, const QString &name)
{
    LiveLine line;
    line.device = name;
    line.model = box.model();
    switch (stateOf(box)) {
    case State::Waiting:
        line.status = waitingText(box.elapsedSeconds());
        break;
    case State::Failed:
    case State::Interrupted:
        // How far it got.
        line.status = resultWord(box.result());
        if (box.endedAtBlock() >= 0)
            line.status += QStringLiteral(" at block ") + DumpRun::logNumber(box.endedAtBlock());
        if (box.endedAtBlock() >= 0 || box.blocksDone() > 0)
            line.status += QStringLiteral(", %1 / %2").arg(box.blocksDone()).arg(box.blockCount());
        break;
    case State::Reading:
    case State::Done:
        line.bar = true;
        line.done = box.blocksDone();
        line.total = box.blockCount();
        line.status = box.progressText();
        break;
    }
    return line;
}

int Display::liveRows() const
{
    return m_terminal.rows - 1;
}

// The boxes that fit, in their order, those still at work chosen first; with
// several boxes the tally below them.
QStringList Display::liveLines() const
{
    const bool several = m_boxes.size() > 1;
    const int room = liveRows() - (several ? 1 : 0);
    if (room < 0)
        return {};
    QList<qsizetype> shown(m_boxes.size());
    std::iota(shown.begin(), shown.end(), 0);
    std::stable_sort(shown.begin(), shown.end(), [this](qsizetype a, qsizetype b) {
        return stateOf(*m_boxes.at(a)) < stateOf(*m_boxes.at(b));
    });
    shown.resize(qMin(shown.size(), qsizetype(room)));
    std::sort(shown.begin(), shown.end());
    QStringList lines;
    for (const qsizetype i : std::as_const(shown)) {
        const BoxRun *box = m_boxes.at(i);
        LiveLine line = liveLine(*box, m_names.value(box, deviceName(box->device())));
        line.deviceWidth = m_deviceWidth;
        lines << fitLine(line, m_terminal.columns, m_terminal.utf8);
    }
    if (several)
        lines << fitText(tally(m_boxes), m_terminal.columns, m_terminal.utf8);
    return lines;
}

void Display::clearLive()
{
    if (!m_drawn.isEmpty())
        write(cursorUp(int(m_drawn.size())) + ClearLine + ClearBelow);
    m_drawn.clear();
}

// Every line is narrower than the terminal, so each takes one row and the
// cursor goes back up exactly as many rows as were drawn. A picture like the
// last is not drawn again, unless the terminal changed.
void Display::redraw(bool force)
{
    const QStringList lines = showsLive() ? liveLines() : QStringList();
    if ((lines == m_drawn && !force) || (lines.isEmpty() && m_drawn.isEmpty()))
        return;
    QString text;
    if (!m_drawn.isEmpty())
        text += cursorUp(int(m_drawn.size()));
    for (const QString &line : lines)
        text += ClearLine + line + u'\n';
    // What is left of a taller block.
    text += ClearLine + ClearBelow;
    write(text);
    m_drawn = lines;
}

void Display::close()
{
    m_timer.stop();
    if (m_live && !m_closed) {
        m_terminal.readSize();
        if (m_boxes.size() > 1)
            clearLive();
        else
            redraw();
    }
    m_closed = true;
    m_drawn.clear();
}

void Display::sumUp()
{
    if (m_quiet || m_boxes.size() < 2)
        return;
    // Fitted as it reads; the colour goes around the words that stay.
    QString line = tally(m_boxes, m_colour);
    if (m_live && textColumns(tally(m_boxes)) >= m_terminal.columns)
        line = fitText(tally(m_boxes), m_terminal.columns, m_terminal.utf8);
    write(line + u'\n');
}

} // namespace tarvik::cli
