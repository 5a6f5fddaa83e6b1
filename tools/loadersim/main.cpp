// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-loader-sim: a simulated KAON boot loader on a pseudo-terminal.
// Prints the device path on one line, then serves the host until the host
// closes the device (or, with --keep-running, until it is stopped).
// Exit status: 0 after a clean conversation, 1 when the host deviated from the
// protocol (each deviation is reported on stderr), 2 on bad arguments.

#include "loadersim/loadersim.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTextStream>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using tarvik::LoaderSim;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

struct Where {
    LoaderSim::Point at = LoaderSim::Point::None;
    int index = 0;
    int afterBytes = 0;
};

// "marker:I", "block:K" or "total", optionally followed by "+N" (bytes of the reply sent first).
bool parseWhere(const QString &text, Where *where)
{
    static const QRegularExpression re(QStringLiteral("^(marker|block|total)(?::(\\d+))?(?:\\+(\\d+))?$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return false;
    const QString kind = m.captured(1);
    const bool hasIndex = m.hasCaptured(2) && !m.captured(2).isEmpty();
    if (kind == QLatin1String("total")) {
        if (hasIndex)
            return false;
        where->at = LoaderSim::Point::Total;
    } else {
        if (!hasIndex)
            return false;
        where->at = kind == QLatin1String("marker") ? LoaderSim::Point::Marker : LoaderSim::Point::Block;
        where->index = m.captured(2).toInt();
        if (where->at == LoaderSim::Point::Marker && where->index > 2)
            return false;
    }
    where->afterBytes = m.captured(3).toInt();
    return true;
}

// Backslash escapes \r, \n, \\ and \xHH in a command-line text.
QByteArray unescape(const QString &text)
{
    const QByteArray in = text.toLocal8Bit();
    QByteArray out;
    for (qsizetype i = 0; i < in.size(); ++i) {
        if (in.at(i) != '\\' || i + 1 == in.size()) {
            out += in.at(i);
            continue;
        }
        const char c = in.at(++i);
        if (c == 'r')
            out += '\r';
        else if (c == 'n')
            out += '\n';
        else if (c == 'x' && i + 2 < in.size()) {
            bool ok = false;
            const int value = in.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                out += char(value);
                i += 2;
            } else {
                out += "\\x";
            }
        } else
            out += c;
    }
    return out;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-loader-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated KAON boot loader in host mode on a pseudo-terminal.\n"
        "Prints the device path, then answers the host until it closes the device.\n"
        "WHERE is marker:I (I = 0 \"PC___\", 1 \"0000\", 2 \"1984\"), block:K (block number K)\n"
        "or total, optionally followed by +N: N bytes of that reply go out first."));
    parser.addHelpOption();
    const QCommandLineOption imageOption(QStringLiteral("image"),
        QStringLiteral("Serve this flash image instead of the generated 1 MiB one."), QStringLiteral("file"));
    const QCommandLineOption modelOption(QStringLiteral("model"),
        QStringLiteral("Model name in the generated image (default KSF-2100)."), QStringLiteral("name"),
        QStringLiteral("KSF-2100"));
    const QCommandLineOption zeroFillOption(QStringLiteral("zero-fill"),
        QStringLiteral("Blocks beyond the image read as zeros (default: the image repeats)."));
    const QCommandLineOption linkOption(QStringLiteral("link"),
        QStringLiteral("Put a symbolic link to the device at this path."), QStringLiteral("path"));
    const QCommandLineOption expectOption(QStringLiteral("expect"),
        QStringLiteral("Expect exactly the blocks START to START+COUNT-1."), QStringLiteral("start,count"));
    const QCommandLineOption badCheckOption(QStringLiteral("bad-check"),
        QStringLiteral("Send a wrong check byte with block K."), QStringLiteral("K"));
    const QCommandLineOption badTotalOption(QStringLiteral("bad-total"),
        QStringLiteral("Send a wrong total check value."));
    const QCommandLineOption splitOption(QStringLiteral("split-markers"),
        QStringLiteral("Send each marker in several writes, with other text around it."));
    const QCommandLineOption extraOption(QStringLiteral("extra-after"),
        QStringLiteral("Send extra bytes right after the reply at WHERE."), QStringLiteral("where"));
    const QCommandLineOption extraBytesOption(QStringLiteral("extra-bytes"),
        QStringLiteral("The extra bytes, with \\r, \\n and \\xHH escapes (default \"\\r\\nOK\\r\\n\")."),
        QStringLiteral("text"), QStringLiteral("\\r\\nOK\\r\\n"));
    const QCommandLineOption stallOption(QStringLiteral("stall"),
        QStringLiteral("Stop sending at WHERE (after +N bytes of its reply)."), QStringLiteral("where"));
    const QCommandLineOption hangUpOption(QStringLiteral("hang-up"),
        QStringLiteral("Hang up at WHERE (after +N bytes of its reply)."), QStringLiteral("where"));
    const QCommandLineOption baudOption(QStringLiteral("baud"),
        QStringLiteral("Pace both directions at this rate, 10 bits per byte."), QStringLiteral("rate"));
    const QCommandLineOption keepOption(QStringLiteral("keep-running"),
        QStringLiteral("Serve one conversation after another until stopped."));
    const QCommandLineOption statsOption(QStringLiteral("stats"),
        QStringLiteral("At the end, print the bytes received and sent on stdout."));
    parser.addOptions({imageOption, modelOption, zeroFillOption, linkOption, expectOption, badCheckOption,
                       badTotalOption, splitOption, extraOption, extraBytesOption, stallOption, hangUpOption,
                       baudOption, keepOption, statsOption});
    parser.process(app);

    QTextStream err(stderr);
    const auto fail = [&err](const QString &message) {
        err << "tarvik-loader-sim: " << message << Qt::endl;
        return 2;
    };

    LoaderSim sim;
    if (parser.isSet(imageOption)) {
        QFile file(parser.value(imageOption));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        const QByteArray image = file.readAll();
        if (image.isEmpty())
            return fail(QStringLiteral("%1 is empty").arg(file.fileName()));
        sim.setImage(image);
    } else {
        sim.setImage(LoaderSim::defaultImage(parser.value(modelOption).toLatin1()));
    }
    if (parser.isSet(zeroFillOption))
        sim.setBeyond(LoaderSim::Beyond::ZeroFill);
    if (parser.isSet(expectOption)) {
        const QStringList parts = parser.value(expectOption).split(QLatin1Char(','));
        bool ok1 = false;
        bool ok2 = false;
        const int start = parts.value(0).toInt(&ok1);
        const int count = parts.value(1).toInt(&ok2);
        if (parts.size() != 2 || !ok1 || !ok2 || start < 0 || count < 0)
            return fail(QStringLiteral("--expect wants START,COUNT"));
        sim.setExpectedRange(start, count);
    }
    if (parser.isSet(badCheckOption)) {
        bool ok = false;
        const int k = parser.value(badCheckOption).toInt(&ok);
        if (!ok || k < 0)
            return fail(QStringLiteral("--bad-check wants a block number"));
        sim.setBadCheckBlock(k);
    }
    sim.setBadTotal(parser.isSet(badTotalOption));
    sim.setSplitMarkers(parser.isSet(splitOption));
    Where extraAt;
    Where stallAt;
    Where hangUpAt;
    for (const auto &[option, where] : {std::pair{&extraOption, &extraAt}, std::pair{&stallOption, &stallAt},
                                        std::pair{&hangUpOption, &hangUpAt}}) {
        if (parser.isSet(*option) && !parseWhere(parser.value(*option), where))
            return fail(QStringLiteral("--%1: cannot read \"%2\"").arg(option->names().constFirst(),
                                                                      parser.value(*option)));
    }
    if (extraAt.at != LoaderSim::Point::None)
        sim.setExtraAfterReply(extraAt.at, extraAt.index, unescape(parser.value(extraBytesOption)));
    if (stallAt.at != LoaderSim::Point::None)
        sim.setStall(stallAt.at, stallAt.index, stallAt.afterBytes);
    if (hangUpAt.at != LoaderSim::Point::None)
        sim.setHangUp(hangUpAt.at, hangUpAt.index, hangUpAt.afterBytes);
    if (parser.isSet(baudOption)) {
        bool ok = false;
        const int baud = parser.value(baudOption).toInt(&ok);
        if (!ok || baud <= 0)
            return fail(QStringLiteral("--baud wants a positive rate"));
        sim.setBaudRate(baud);
    }

    if (!sim.open())
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(sim.errorString()));

    const QString link = parser.value(linkOption);
    if (!link.isEmpty()) {
        const QByteArray target = QFile::encodeName(sim.slavePath());
        const QByteArray at = QFile::encodeName(link);
        QFileInfo info(link);
        if (info.isSymLink())
            ::unlink(at.constData());
        if (::symlink(target.constData(), at.constData()) != 0)
            return fail(QStringLiteral("cannot link %1: %2").arg(link, QString::fromLocal8Bit(std::strerror(errno))));
    }

    // SIGINT and SIGTERM end the run cleanly, so that the link goes away.
    if (::pipe2(signalPipe, O_CLOEXEC) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(130); });
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        ::sigemptyset(&sa.sa_mask);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }

    QObject::connect(&sim, &LoaderSim::deviation, &app, [&err](const QString &what) {
        err << "tarvik-loader-sim: deviation at " << what << Qt::endl;
    });
    const bool keepRunning = parser.isSet(keepOption);
    QObject::connect(&sim, &LoaderSim::hostClosed, &app, [keepRunning] {
        if (!keepRunning)
            QCoreApplication::exit(0);
    });
    QObject::connect(&sim, &LoaderSim::hungUp, &app, [] { QCoreApplication::exit(0); });

    {
        QTextStream out(stdout);
        out << sim.slavePath() << Qt::endl;
    }

    int rc = app.exec();
    sim.close();
    if (parser.isSet(statsOption)) {
        QTextStream out(stdout);
        out << "received " << sim.received().size() << " sent " << sim.sent().size() << Qt::endl;
    }
    if (!link.isEmpty())
        ::unlink(QFile::encodeName(link).constData());
    if (rc == 0 && !sim.deviations().isEmpty())
        rc = 1;
    return rc;
}
