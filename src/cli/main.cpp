// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump: the Tarvik dump from a shell, for scripts, headless benches and
// several boxes at once. All boxes run on one event loop.

#include "cli/boxrun.h"
#include "cli/display.h"
#include "cli/options.h"
#include "cli/output.h"
#include "cli/textformat.h"
#include "dump/portinfo.h"
#include "dump/portmap.h"
#include "dump/text.h"
#include "dump/version.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace tarvik;
using namespace tarvik::cli;

namespace {

int signalSocket[2] = {-1, -1};

void onSignal(int number)
{
    const char c = char(number);
    [[maybe_unused]] const ssize_t n = ::write(signalSocket[1], &c, 1);
}

// SIGINT, SIGTERM and SIGHUP reach the event loop through a socket pair; the
// handler gets the signal's number. A signal that was ignored when the program
// started (SIGHUP under nohup, SIGINT for a job started in the background by a
// script) stays ignored.
bool catchSignals(QObject *context, std::function<void(int)> handler)
{
    // A reader that went away makes a write fail, which is reported, rather
    // than end the program in the middle of its runs.
    std::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler] {
        char buffer[16];
        const ssize_t n = ::read(signalSocket[0], buffer, sizeof buffer);
        for (ssize_t i = 0; i < n; ++i)
            handler(buffer[i]);
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ::sigaction(number, &sa, nullptr);
    }
    return true;
}

// The ports present with what the system knows about them: an aligned table,
// or one JSON object per port and line.
int listPorts(bool json)
{
    const QList<tarvik::PortDetails> ports = tarvik::collectPortDetails(tarvik::PortMap::presentPorts());
    writeOut(stdout, json ? portJsonLines(ports) : portTable(ports));
    return ExitOk;
}


// `signal`: the one that ended the runs, 0 for none.
int exitCode(const QList<BoxRun *> &boxes, int signal)
{
    // An interruption decides, then a failure, then a difference.
    bool different = false;
    bool failed = false;
    for (const BoxRun *box : boxes) {
        switch (resultRow(box->result()).exitCode) {
        case ExitInterrupted:
            return signal == SIGHUP ? ExitHangUp : ExitInterrupted;
        case ExitDifferent:
            different = true;
            break;
        case ExitOk:
            break;
        default:
            failed = true;
        }
    }
    return failed ? ExitFailed : different ? ExitDifferent : ExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    guardStandardStreams();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-dump"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tarvik::Version));

    const ParseResult parsed = parseArguments(QCoreApplication::arguments());
    switch (parsed.action) {
    case ParseResult::Action::Help:
        writeOut(stdout, parsed.helpText);
        return settleOutput(ExitOk);
    case ParseResult::Action::Version:
        writeOut(stdout, QStringLiteral("tarvik-dump %1\n").arg(QCoreApplication::applicationVersion()));
        return settleOutput(ExitOk);
    case ParseResult::Action::Refused:
        writeOut(stderr, QStringLiteral("tarvik-dump: %1\n").arg(parsed.error)
                                 + (parsed.nextStep.isEmpty() ? QString() : parsed.nextStep + u'\n'));
        return settleOutput(ExitUsage);
    case ParseResult::Action::Usage:
        writeOut(stderr, QStringLiteral("tarvik-dump: %1\nTry \"tarvik-dump --help\".\n").arg(parsed.error));
        return settleOutput(ExitUsage);
    case ParseResult::Action::List:
        return settleOutput(listPorts(parsed.options.json));
    case ParseResult::Action::Run:
        break;
    }
    const Options &options = parsed.options;

    QList<BoxRun *> boxes;
    const bool several = options.ports.size() > 1;
    // With several ports every box's files carry its device's name before
    // ".bin", whichever box answers first: a re-run or a continued run finds its own.
    for (const QString &port : options.ports) {
        auto *box = new BoxRun(options, port, several, &app);
        if (several) {
            const QString tag = u'_' + options.nameOf(port);
            box->setNameTag([tag](const QString &) { return tag; });
        }
        boxes.append(box);
    }

    QStringList names;
    for (const QString &port : options.ports)
        names << options.nameOf(port);
    Display display(boxes, names, Terminal::ofStderr(), options.quiet, colourFor(stderr, options.color));
    bool ended = false;
    int endingSignal = 0;
    const auto checkDone = [&] {
        if (ended)
            return;
        for (const BoxRun *box : std::as_const(boxes)) {
            if (!box->isDone())
                return;
        }
        ended = true;
        display.close();
        std::FILE *summaries = options.json ? stderr : stdout;
        const bool colour = colourFor(summaries, options.color);
        for (const BoxRun *box : std::as_const(boxes)) {
            if (options.json)
                writeOut(stdout, jsonLine(box->summary()));
            writeOut(summaries, summaryLine(box->summary(), colour));
        }
        display.sumUp();
        QMetaObject::invokeMethod(&app, [&boxes, &endingSignal] {
            QCoreApplication::exit(exitCode(boxes, endingSignal));
        }, Qt::QueuedConnection);
    };
    for (BoxRun *box : std::as_const(boxes)) {
        QObject::connect(box, &BoxRun::progressed, &display, [&display, box] { display.progressed(box); });
        QObject::connect(box, &BoxRun::notice, &display, [&display, box](const QString &line, bool always) {
            display.notice(box, line, always);
        });
        QObject::connect(box, &BoxRun::finished, &app, checkDone, Qt::QueuedConnection);
    }
    if (!catchSignals(&app, [&boxes, &endingSignal](int signal) {
            if (endingSignal == 0)
                endingSignal = signal;
            for (BoxRun *box : std::as_const(boxes))
                box->interrupt();
        }))
        writeOut(stderr, QStringLiteral("tarvik-dump: Ctrl+C will not end the runs cleanly\n"));

    // A log that cannot be used stops everything before any port is opened.
    for (BoxRun *box : std::as_const(boxes)) {
        if (QString error; !box->openLog(&error)) {
            writeOut(stderr, QStringLiteral("tarvik-dump: %1\n").arg(error));
            return settleOutput(ExitUsage);
        }
    }
    for (BoxRun *box : std::as_const(boxes))
        box->start();
    return settleOutput(app.exec());
}
