// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump: the Tarvik dump from a shell, for scripts, headless benches and
// several boxes at once. All boxes run on one event loop.

#include "boxrun.h"
#include "display.h"
#include "options.h"
#include "portmap.h"
#include "text.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPortInfo>
#include <QSet>
#include <QSocketNotifier>

#include <csignal>
#include <functional>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace tarvik::cli;

namespace {

int signalSocket[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalSocket[1], &c, 1);
}

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

// SIGINT and SIGTERM reach the event loop through a socket pair.
bool catchSignals(QObject *context, std::function<void()> handler)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return false;
    auto *notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler] {
        char buffer[16];
        [[maybe_unused]] const ssize_t n = ::read(signalSocket[0], buffer, sizeof buffer);
        handler();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
    return true;
}

int listPorts()
{
    QHash<QString, QString> byId;
    QDirIterator links(QStringLiteral("/dev/serial/by-id"), QDir::System | QDir::Files);
    while (links.hasNext()) {
        const QString link = links.next();
        byId.insert(QFileInfo(link).canonicalFilePath(), link);
    }
    QHash<QString, QString> descriptions;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        descriptions.insert(info.systemLocation(), info.description());
    const auto orNone = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    for (const QString &path : tarvik::PortMap::presentPorts())
        print(stdout, QStringLiteral("%1\t%2\t%3\n")
                              .arg(path, orNone(descriptions.value(path)),
                                   orNone(byId.value(QFileInfo(path).canonicalFilePath()))));
    return ExitOk;
}

// JSON escapes the C0 controls itself; DEL and the C1 controls (which a
// terminal may take as escape sequences) get the same treatment. They only
// occur inside strings.
QString escapeControls(const QString &json)
{
    QString out;
    out.reserve(json.size());
    for (const QChar c : json) {
        if (tarvik::isControl(c) && c.unicode() >= 0x7F)
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

QString jsonLine(const BoxRun &box, bool verify)
{
    QJsonObject o;
    o.insert(QStringLiteral("port"), box.device());
    o.insert(QStringLiteral("model"), box.model());
    if (!verify && !box.filePath().isEmpty())
        o.insert(QStringLiteral("file"), box.filePath());
    if (!verify && !box.previousKeptAs().isEmpty())
        o.insert(QStringLiteral("previous_kept_as"), box.previousKeptAs());
    o.insert(QStringLiteral("bytes"), box.bytes());
    o.insert(QStringLiteral("sha256"), box.sha256().isEmpty() ? QJsonValue() : QJsonValue(box.sha256()));
    o.insert(QStringLiteral("blocks"), box.blocksDone());
    o.insert(QStringLiteral("seconds"), qRound(box.seconds() * 1000) / 1000.0);
    o.insert(QStringLiteral("result"), box.result());
    if (verify) {
        QJsonArray differing;
        for (const int n : box.differingBlocks())
            differing.append(n);
        o.insert(QStringLiteral("differing_blocks"), differing);
    }
    if (!box.failure().isEmpty())
        o.insert(QStringLiteral("error"), box.failure());
    return escapeControls(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact))) + u'\n';
}

QString summaryLine(const BoxRun &box, bool verify)
{
    QString line = box.device() + QStringLiteral(": ") + box.result();
    if (verify && box.result() == BoxRun::ResultDifferent)
        line += QStringLiteral(" in blocks ") + BoxRun::blockList(box.differingBlocks());
    if (!verify && !box.filePath().isEmpty())
        line += QStringLiteral(", ") + box.filePath();
    line += QStringLiteral(", %1 bytes").arg(box.bytes());
    if (!box.sha256().isEmpty())
        line += QStringLiteral(", SHA-256 ") + box.sha256();
    line += QStringLiteral(", %1 s").arg(box.seconds(), 0, 'f', 1);
    if (!verify && !box.previousKeptAs().isEmpty())
        line += QStringLiteral(", earlier dump kept as ") + box.previousKeptAs();
    return line + u'\n';
}

int exitCode(const QList<BoxRun *> &boxes)
{
    bool different = false;
    bool failed = false;
    for (const BoxRun *box : boxes) {
        if (box->result() == BoxRun::ResultInterrupted)
            return ExitInterrupted;
        if (box->result() == BoxRun::ResultDifferent)
            different = true;
        else if (box->result() != BoxRun::ResultOk && box->result() != BoxRun::ResultIdentical)
            failed = true;
    }
    return failed ? ExitFailed : different ? ExitDifferent : ExitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-dump"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION_STRING));

    const ParseResult parsed = parseArguments(QCoreApplication::arguments());
    switch (parsed.action) {
    case ParseResult::Action::Help:
        print(stdout, parsed.helpText);
        return ExitOk;
    case ParseResult::Action::Version:
        print(stdout, QStringLiteral("tarvik-dump %1\n").arg(QCoreApplication::applicationVersion()));
        return ExitOk;
    case ParseResult::Action::Usage:
        print(stderr, QStringLiteral("tarvik-dump: %1\nTry \"tarvik-dump --help\".\n").arg(parsed.error));
        return ExitUsage;
    case ParseResult::Action::List:
        return listPorts();
    case ParseResult::Action::Run:
        break;
    }
    const Options &options = parsed.options;
    const bool verify = !options.verifyPath.isEmpty();

    QList<BoxRun *> boxes;
    const bool several = options.ports.size() > 1;
    // Two boxes that report the same model do not share a file: the later one
    // gets its device's name before ".bin".
    QSet<QString> claimedNames;
    for (const QString &port : options.ports) {
        auto *box = new BoxRun(options, port, several, &app);
        const QString tag = u'_' + deviceName(port);
        box->setNameTag([&claimedNames, tag](const QString &name) {
            if (claimedNames.contains(name))
                return tag;
            claimedNames.insert(name);
            return QString();
        });
        boxes.append(box);
    }

    Display display(boxes, Terminal::ofStderr(), options.quiet);
    bool ended = false;
    const auto checkDone = [&] {
        if (ended)
            return;
        for (const BoxRun *box : std::as_const(boxes)) {
            if (!box->isDone())
                return;
        }
        ended = true;
        display.close();
        for (const BoxRun *box : std::as_const(boxes)) {
            if (options.json)
                print(stdout, jsonLine(*box, verify));
            print(options.json ? stderr : stdout, summaryLine(*box, verify));
        }
        QMetaObject::invokeMethod(&app, [&boxes] { QCoreApplication::exit(exitCode(boxes)); },
                                  Qt::QueuedConnection);
    };
    for (BoxRun *box : std::as_const(boxes)) {
        QObject::connect(box, &BoxRun::progressed, &display, [&display, box] { display.progressed(box); });
        QObject::connect(box, &BoxRun::notice, &display, [&display, box](const QString &line) {
            display.notice(box, line, !box->failure().isEmpty());
        });
        QObject::connect(box, &BoxRun::finished, &app, checkDone, Qt::QueuedConnection);
    }
    if (!catchSignals(&app, [&boxes] {
            for (BoxRun *box : std::as_const(boxes))
                box->interrupt();
        }))
        print(stderr, QStringLiteral("tarvik-dump: Ctrl+C will not end the runs cleanly\n"));

    for (BoxRun *box : std::as_const(boxes))
        box->start();
    return app.exec();
}
