// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/options.h"

#include "cli/commandline.h"
#include "dump/blockrange.h"
#include "dump/dumpname.h"
#include "dump/ownfile.h"
#include "dump/portinfo.h"
#include "dump/protocol.h"
#include "dump/stoppeddump.h"
#include "dump/text.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <limits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik::cli {

namespace {

// The parser's own text with the program's name in the usage line (the
// parser shows the path it was started by) and a few examples at the end.
QString helpText(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    text.replace(0, text.indexOf(u'\n'),
                 QStringLiteral("Usage: tarvik-dump -p DEVICE [-p DEVICE ...] [options]"));
    return text + QStringLiteral(
        "\nExamples:\n"
        "  tarvik-dump -p /dev/ttyUSB0\n"
        "  tarvik-dump -p /dev/ttyUSB0 -p /dev/ttyUSB1 -o ~/dumps --log run.log\n"
        "  tarvik-dump -p /dev/ttyUSB0 --verify ~/dumps/KSF-2100.bin\n");
}

// Which of the given options keep --header from reading the whole flash.
QString headerNeedsWholeFlash(qint16 startBlock, qint16 blockCount)
{
    QStringList drop;
    if (startBlock != 0)
        drop << QStringLiteral("--start %1").arg(startBlock);
    if (blockCount != protocol::FullReadBlocks)
        drop << QStringLiteral("--count %1").arg(blockCount);
    return QStringLiteral("--header needs the whole flash: drop %1, or drop --header.")
            .arg(drop.join(QStringLiteral(" and ")));
}

// Different devices may share their last path part (/dev/ttyUSB0 and a link
// /tmp/box/ttyUSB0 to another one): the later ones get "-2", "-3" ... so
// that their files do not meet.
QHash<QString, QString> uniqueNames(const QStringList &ports)
{
    QSet<QString> taken;
    for (const QString &port : ports)
        taken.insert(deviceName(port));
    QSet<QString> used;
    QHash<QString, QString> renamed;
    for (const QString &port : ports) {
        const QString name = deviceName(port);
        if (!used.contains(name)) {
            used.insert(name);
            continue;
        }
        QString unique;
        for (int n = 2; unique.isEmpty() || taken.contains(unique) || used.contains(unique); ++n)
            unique = QStringLiteral("%1-%2").arg(name).arg(n);
        used.insert(unique);
        renamed.insert(port, unique);
    }
    return renamed;
}

// The options, with their help texts.
struct CliOptions {
    CliOptions() { stall.setFlags(QCommandLineOption::HiddenFromHelp); }

    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit.")};
    const QCommandLineOption port{{QStringLiteral("p"), QStringLiteral("port")},
        QStringLiteral("Serial device, e.g. /dev/ttyUSB0 or a /dev/serial/by-id/ link; repeat it to "
                       "read several boxes at once."), QStringLiteral("DEVICE")};
    const QCommandLineOption output{{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Folder for the dump files (default: the current folder)."), QStringLiteral("DIR")};
    const QCommandLineOption header{QStringLiteral("header"),
        QStringLiteral("Full read with the KUP-loader header.")};
    const QCommandLineOption start{QStringLiteral("start"), QStringLiteral("First block (default 0)."),
                                   QStringLiteral("N"), QStringLiteral("0")};
    const QCommandLineOption count{QStringLiteral("count"),
        QStringLiteral("Number of blocks (default 1024)."), QStringLiteral("N"), QStringLiteral("1024")};
    const QCommandLineOption verify{QStringLiteral("verify"),
        QStringLiteral("Read the box and compare it with FILE block by block; write no dump. FILE is a "
                       "whole dump (a KUP header in front is skipped) or a dump of just the range."),
        QStringLiteral("FILE")};
    const QCommandLineOption json{QStringLiteral("json"),
        QStringLiteral("One JSON object per box on standard output, one line each.")};
    const QCommandLineOption log{QStringLiteral("log"),
        QStringLiteral("Append each run's protocol log to FILE (CR LF lines), between \"# \" lines "
                       "that say what was asked and how it went; with several ports FILE gets "
                       "\"-<device name>\" before its extension."), QStringLiteral("FILE")};
    const QCommandLineOption quiet{{QStringLiteral("q"), QStringLiteral("quiet")},
                                   QStringLiteral("No progress display.")};
    const QCommandLineOption color{QStringLiteral("color"),
        QStringLiteral("Colour the result words: auto (on a terminal, unless NO_COLOR is set; the "
                       "default), always or never."), QStringLiteral("WHEN"), QStringLiteral("auto")};
    const QCommandLineOption list{QStringLiteral("list"),
        QStringLiteral("List the serial ports present and exit: device, /dev/serial/by-id link, USB "
                       "vendor:product, manufacturer, product and serial number; with --json one "
                       "JSON object per port and line.")};
    const QCommandLineOption resume{QStringLiteral("resume"),
        QStringLiteral("Continue the stopped dump in FILE.part (one --port): ask the box again for "
                       "the range's first block and up to 14 more kept blocks, then for the blocks "
                       "from the last whole block but one to the end of the range; compare the kept "
                       "ones with FILE.part and write the rest into it. The record beside FILE.part "
                       "gives the range; without one, --start and --count give it."),
        QStringLiteral("FILE.part")};
    const QCommandLineOption restart{QStringLiteral("restart"),
        QStringLiteral("Start a stopped dump's .part again instead of refusing to.")};
    const QCommandLineOption wait{QStringLiteral("wait"),
        QStringLiteral("Give up when the boot loader has not answered the handshake within SECONDS "
                       "(default: wait for as long as it takes)."), QStringLiteral("SECONDS")};
    // For tests and slow benches: the time a box may stay silent within a reply.
    QCommandLineOption stall{QStringLiteral("stall-ms"), QStringLiteral("Stall time-out in ms."),
                             QStringLiteral("MS")};

    QList<QCommandLineOption> all() const
    {
        return {help, version, port, output, header, start, count, verify, resume, restart, wait, json,
                log, quiet, color, list, stall};
    }
};

// What a step found wrong: bad usage (the default), or what the options name
// cannot be used (a folder, a file), which --help does not mend.
struct Problem {
    Problem() = default;
    Problem(const QString &text) : text(text) {} // NOLINT: a usage error
    static Problem refused(const QString &text)
    {
        Problem problem(text);
        problem.usage = false;
        return problem;
    }
    bool isEmpty() const { return text.isEmpty(); }

    QString text;
    bool usage = true;
};

// Each step reads its options into `o` and returns what is wrong, empty when nothing is.

Problem takePorts(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    o.ports = parser.values(opt.port);
    if (o.ports.isEmpty())
        return QStringLiteral("Name at least one serial device with --port.");
    for (qsizetype i = 0; i < o.ports.size(); ++i) {
        const QString &p = o.ports.at(i);
        if (p.isEmpty())
            return QStringLiteral("--port wants a device.");
        // A device reached by two paths (a link, /dev/serial/by-id) is still one box.
        for (qsizetype j = 0; j < i; ++j) {
            if (sameFile(o.ports.at(j), p))
                return QStringLiteral("%1 and %2 are the same device.").arg(o.ports.at(j), p);
        }
    }
    o.renamedPorts = uniqueNames(o.ports);
    return {};
}

Problem takeRange(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    if (parseBlockNumber(parser.value(opt.start)) < 0)
        return QStringLiteral("--start wants a whole number from 0 to %1.").arg(BlockRange::MaxBlock);
    if (parseBlockNumber(parser.value(opt.count)) <= 0)
        return QStringLiteral("--count wants a whole number of blocks from 1 to %1.").arg(BlockRange::MaxBlock);
    const BlockRange range = parseBlockRange(parser.value(opt.start), parser.value(opt.count));
    if (!range.ok)
        return range.error;
    o.startBlock = range.startBlock;
    o.blockCount = range.blockCount;
    o.header = parser.isSet(opt.header);
    if (o.header && !DumpName::headerDue(o.startBlock, o.blockCount, true))
        return headerNeedsWholeFlash(o.startBlock, o.blockCount);
    return {};
}

Problem takeOutputFolder(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    const QString folder = parser.isSet(opt.output) ? parser.value(opt.output) : QDir::currentPath();
    // --verify writes nothing; --resume writes into its .part's folder, checked there.
    const bool mustWrite = !parser.isSet(opt.verify) && !parser.isSet(opt.resume);
    o.folder = OutputFolder::open(folder, mustWrite);
    if (!o.folder.isOpen())
        return Problem::refused(o.folder.problem());
    o.outputFolder = folder.endsWith(u'/') ? folder : folder + u'/';
    return {};
}

// The blocks of the --verify file that the range names (see DumpName::blocksOffset()).
QString readVerifyFile(Options &o, bool countGiven)
{
    // Opened without waiting: a FIFO in its place must not hang the program.
    QFile file;
    const int fd = ::open(QFile::encodeName(o.verifyPath).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const QString reason = fd < 0 ? systemReason(errno) : QStringLiteral("not a regular file");
        if (fd >= 0)
            ::close(fd);
        return QStringLiteral("Cannot read %1: %2").arg(o.verifyPath, reason);
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return QStringLiteral("Cannot read %1: %2").arg(o.verifyPath, file.errorString());
    }
    const qint64 wanted = qint64(o.blockCount) * protocol::BlockSize;
    const qint64 whole = qint64(protocol::FullReadBlocks) * protocol::BlockSize;
    const qint64 size = file.size();
    const qint64 from = DumpName::blocksOffset(size, file.peek(DumpName::HeaderFixedBytes + 2 * protocol::BlockSize),
                                               o.startBlock, o.blockCount);
    if (from < 0) {
        QString error = QStringLiteral("%1 holds %2 bytes: --verify compares with a whole dump (%3 bytes, with or "
                                       "without a KUP header in front) or with a dump of just blocks %4 to %5 (%6 bytes).")
                                .arg(o.verifyPath)
                                .arg(size)
                                .arg(whole)
                                .arg(o.startBlock)
                                .arg(o.startBlock + o.blockCount - 1)
                                .arg(wanted);
        // A file of whole blocks is most likely a dump of just that many.
        const qint64 blocks = size / protocol::BlockSize;
        if (size > 0 && size % protocol::BlockSize == 0 && o.startBlock + blocks - 1 <= BlockRange::MaxBlock)
            error += QStringLiteral(" To compare with its %1 blocks, %2 --count %1.")
                             .arg(blocks)
                             .arg(countGiven ? QStringLiteral("give") : QStringLiteral("add"));
        return error;
    }
    if (!file.seek(from))
        return QStringLiteral("Cannot read %1: %2").arg(o.verifyPath, file.errorString());
    o.verifyData = file.read(wanted);
    if (o.verifyData.size() != wanted)
        return QStringLiteral("Cannot read %1: %2").arg(o.verifyPath, file.errorString());
    return {};
}

Problem takeVerify(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    if (!parser.isSet(opt.verify))
        return {};
    if (o.header)
        return QStringLiteral("--verify writes no dump, so it takes no --header.");
    o.verifyPath = parser.value(opt.verify);
    return Problem::refused(readVerifyFile(o, parser.isSet(opt.count)));
}

Problem takeContinue(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    if (!parser.isSet(opt.resume))
        return {};
    if (o.ports.size() != 1)
        return QStringLiteral("--resume continues the dump of one box: name one --port.");
    if (parser.isSet(opt.verify))
        return QStringLiteral("--verify writes no dump, so there is nothing to --resume.");
    const QString part = parser.value(opt.resume);
    if (parser.isSet(opt.output) && QFileInfo(QFileInfo(part).absolutePath()) != QFileInfo(o.outputFolder))
        return QStringLiteral("--resume continues the dump in the folder of %1: drop -o.").arg(part);
    if (parser.isSet(opt.restart))
        return QStringLiteral("--resume continues a dump and --restart starts it again: give one.");
    o.outputFolder = QFileInfo(part).absolutePath() + u'/';
    o.folder = OutputFolder::open(o.outputFolder);
    if (!o.folder.isOpen())
        return Problem::refused(o.folder.problem());
    o.continuePlan = planContinue(o.folder, QFileInfo(part).fileName(), o.startBlock, o.blockCount,
                                  parser.isSet(opt.start) || parser.isSet(opt.count));
    o.startBlock = o.continuePlan.startBlock;
    o.blockCount = o.continuePlan.blockCount;
    if (o.continuePlan.refused()) {
        o.header = o.continuePlan.header || DumpName::isHeaderPart(part);
        return Problem::refused(o.continuePlan.error);
    }
    if (o.continuePlan.continues())
        o.header = o.continuePlan.header;
    else if (DumpName::isHeaderPart(part))
        o.header = DumpName::headerDue(o.startBlock, o.blockCount, true);
    return {};
}

// A whole number from 1 to `most` for `option`, or 0 when it is not one.
int positiveNumber(const QCommandLineParser &parser, const QCommandLineOption &option, int most)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    return ok && value > 0 && value <= most ? value : 0;
}

Problem takeTheRest(const QCommandLineParser &parser, const CliOptions &opt, Options &o)
{
    if (parser.isSet(opt.wait)) {
        o.waitSeconds = positiveNumber(parser, opt.wait, Options::MaxWaitSeconds);
        if (o.waitSeconds == 0)
            return QStringLiteral("--wait wants a whole number of seconds from 1 to %1.").arg(Options::MaxWaitSeconds);
    }
    o.restart = parser.isSet(opt.restart);
    o.logPath = parser.value(opt.log);
    if (parser.isSet(opt.log) && o.logPath.isEmpty())
        return QStringLiteral("--log wants a file.");
    o.quiet = parser.isSet(opt.quiet);
    const QString color = parser.value(opt.color);
    if (color == u"auto")
        o.color = ColorMode::Auto;
    else if (color == u"always")
        o.color = ColorMode::Always;
    else if (color == u"never")
        o.color = ColorMode::Never;
    else
        return QStringLiteral("--color wants auto, always or never.");
    if (parser.isSet(opt.stall)) {
        o.stallMs = positiveNumber(parser, opt.stall, std::numeric_limits<int>::max());
        if (o.stallMs == 0)
            return QStringLiteral("--stall-ms wants a whole number of milliseconds above 0.");
    }
    return {};
}

} // namespace

QString Options::nameOf(const QString &port) const
{
    return renamedPorts.value(port, deviceName(port));
}

ParseResult parseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the whole flash of KAON set-top boxes through their boot loader over\n"
        "serial ports into dump files, the way the Tarvik window does. Put each box\n"
        "into its \"HOST - MODE\".\n"
        "Exit status: 0 all read and checked, 3 --verify found differing blocks,\n"
        "2 bad usage or a file or folder that cannot be used, 1 any other failure,\n"
        "129 hang-up (SIGHUP), 130 interrupted.\n"
        "See tarvik-dump(1) for the file rules."));
    const CliOptions opt;
    parser.addOptions(opt.all());

    ParseResult result;
    const auto usage = [&result](const QString &error) {
        result.action = ParseResult::Action::Usage;
        result.error = error;
        return result;
    };
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("Unexpected argument \"%1\".").arg(parser.positionalArguments().constFirst()));
    if (parser.isSet(opt.help)) {
        result.action = ParseResult::Action::Help;
        result.helpText = helpText(parser);
        return result;
    }
    if (parser.isSet(opt.version)) {
        result.action = ParseResult::Action::Version;
        return result;
    }
    Options &o = result.options;
    o.list = parser.isSet(opt.list);
    o.json = parser.isSet(opt.json);
    if (o.list) {
        if (parser.isSet(opt.port))
            return usage(QStringLiteral("--list shows every port: drop --port."));
        result.action = ParseResult::Action::List;
        return result;
    }
    for (const auto take : {takePorts, takeRange, takeOutputFolder, takeVerify, takeContinue, takeTheRest}) {
        const Problem problem = take(parser, opt, o);
        if (problem.isEmpty())
            continue;
        usage(problem.text);
        // A stopped dump that cannot be continued is no misuse of the options:
        // what works instead is said.
        if (o.continuing() && o.continuePlan.refused() && o.continuePlan.error == problem.text)
            result.nextStep = nextStepText(o.continuePlan.next, FrontEnd::CommandLine, QString(),
                                           runCommand(o, o.ports.value(0), QString(), true));
        if (!problem.usage)
            result.action = ParseResult::Action::Refused;
        return result;
    }
    result.action = ParseResult::Action::Run;
    return result;
}

QString deviceName(const QString &port)
{
    return QFileInfo(port).fileName();
}

QString logPathFor(const QString &logPath, const QString &name, bool severalPorts)
{
    if (!severalPorts || logPath.isEmpty())
        return logPath;
    const QFileInfo info(logPath);
    const QString suffix = info.suffix();
    const QString tag = u'-' + name;
    if (suffix.isEmpty() || info.fileName() == u'.' + suffix)
        return logPath + tag;
    return logPath.left(logPath.size() - suffix.size() - 1) + tag + u'.' + suffix;
}

} // namespace tarvik::cli
