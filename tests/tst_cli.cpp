// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump end to end: the built program as a process, each box a simulated
// boot loader on a pseudo-terminal served by this test's event loop.
#include "dump/dumpname.h"
#include "dump/portinfo.h"
#include "dump/version.h"
#include "loadersim/loadersim.h"
#include "support/clirun.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/ordinaryuser.h"
#include "support/wirelog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace DumpName = tarvik::DumpName;
using tarvik::LoaderSim;
using Point = LoaderSim::Point;

namespace {

const QString Program = QStringLiteral(TARVIK_DUMP);
const TarvikDump tarvikDump{Program};
constexpr int RunMs = TarvikDump::RunMs;
const QString TestStallMs = QStringLiteral("300");

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The lock files in the lock folder that name the process `pid` as their owner.
QStringList locksHeldBy(qint64 pid)
{
    QStringList locks;
    const QDir dir(tarvik::serialLockFolder());
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        if (file.open(QIODevice::ReadOnly) && file.readLine().trimmed() == QByteArray::number(pid))
            locks << file.fileName();
    }
    return locks;
}

// Where the program's standard output or error goes instead of a pipe to the test.
enum class Sink { Test, Full, Closed, BrokenPipe };

// Points the child's standard output and error at the sinks given, with
// SIGPIPE as a shell would leave it.
void redirect(QProcess &process, Sink out, Sink err)
{
    if (out == Sink::Full)
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    if (err == Sink::Full)
        process.setStandardErrorFile(QStringLiteral("/dev/full"));
    int readerGone = -1; // the write end of a pipe whose read end is closed
    if (out == Sink::BrokenPipe || err == Sink::BrokenPipe) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            qFatal("cannot make a pipe");
        ::close(fds[0]);
        readerGone = fds[1];
        QObject::connect(&process, &QProcess::started, [readerGone] { ::close(readerGone); });
    }
    process.setChildProcessModifier([out, err, readerGone] {
        ::signal(SIGPIPE, SIG_DFL);
        for (const auto &[fd, sink] : {std::pair{STDOUT_FILENO, out}, std::pair{STDERR_FILENO, err}}) {
            if (sink == Sink::Closed)
                ::close(fd);
            else if (sink == Sink::BrokenPipe)
                ::dup2(readerGone, fd);
        }
    });
}

// The program's stderr on a pseudo-terminal of a set width. What the program
// writes there is collected while the test's event loop runs.
struct StderrTerminal {
    int master = -1;
    int slave = -1;
    QByteArray bytes;
    std::unique_ptr<QSocketNotifier> notifier;

    explicit StderrTerminal(int columns, int rows = 50)
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            qFatal("cannot open a pseudo-terminal");
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        resize(columns, rows);
        notifier = std::make_unique<QSocketNotifier>(master, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, [this] { take(); });
    }
    ~StderrTerminal()
    {
        notifier.reset();
        ::close(master);
        ::close(slave);
    }
    StderrTerminal(const StderrTerminal &) = delete;
    StderrTerminal &operator=(const StderrTerminal &) = delete;

    void resize(int columns, int rows = 50)
    {
        winsize size{};
        size.ws_col = ushort(columns);
        size.ws_row = ushort(rows);
        ::ioctl(master, TIOCSWINSZ, &size);
    }
    void take()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, n);
    }
    // Gives the process this terminal as its stderr, and `environment`.
    std::function<void(QProcess &)> attach(const QProcessEnvironment &environment) const
    {
        const int fd = slave;
        return [fd, environment](QProcess &process) {
            process.setProcessEnvironment(environment);
            process.setChildProcessModifier([fd] { ::dup2(fd, STDERR_FILENO); });
        };
    }
};

// Just enough of a terminal to see what stays on its screen: text that wraps
// at the right edge, CR, LF, cursor up, erase line and erase below. With a
// height, the screen scrolls as a terminal's does, and what goes past its top
// is kept.
struct Screen {
    int columns;
    int height = 0; // 0: as tall as it needs to be
    QStringList rows{QString()};
    int row = 0;
    int column = 0;
    QStringList scrolledOff{};

    void feed(const QByteArray &bytes)
    {
        const QString text = QString::fromUtf8(bytes);
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c == u'\r') {
                column = 0;
            } else if (c == u'\n') {
                down();
            } else if (c == u'\x1b' && text.mid(i + 1, 1) == u"[") {
                qsizetype end = i + 2;
                while (end < text.size() && (text.at(end).isDigit() || text.at(end) == u';'))
                    ++end;
                const int n = text.mid(i + 2, end - i - 2).toInt();
                const QChar command = end < text.size() ? text.at(end) : QChar();
                if (command == u'A') {
                    row = qMax(0, row - qMax(1, n));
                } else if (command == u'K' && n == 2) {
                    rows[row].clear();
                } else if (command == u'J' && n == 0) {
                    rows[row].truncate(column);
                    rows.resize(row + 1);
                }
                i = end;
            } else {
                if (column >= columns) {
                    down();
                    column = 0;
                }
                QString &line = rows[row];
                if (line.size() <= column)
                    line += QString(column - line.size(), u' ') + c;
                else
                    line[column] = c;
                ++column;
            }
        }
    }
    void down()
    {
        if (height > 0 && row == height - 1) {
            scrolledOff << rows.takeFirst();
            --row;
        }
        if (++row == rows.size())
            rows.append(QString());
    }
    // The terminal made shorter: the rows above the cursor that no longer fit
    // go past the top.
    void shrink(int newHeight)
    {
        while (row >= newHeight) {
            scrolledOff << rows.takeFirst();
            --row;
        }
        rows.resize(qMin(rows.size(), qsizetype(newHeight)));
        height = newHeight;
    }
    QStringList lines() const
    {
        QStringList shown;
        for (const QString &line : rows) {
            if (!line.trimmed().isEmpty())
                shown << line;
        }
        return shown;
    }
};

// The lines as the program wrote them, each as it reads after its last
// carriage return, without the escape sequences.
QStringList writtenLines(const QByteArray &bytes)
{
    QString text = QString::fromUtf8(bytes);
    text.remove(QRegularExpression(QStringLiteral("\x1b\\[[0-9;]*[A-Za-z]")));
    QStringList lines;
    for (QString line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        lines << line.section(u'\r', -1);
    }
    return lines;
}

// A terminal with UTF-8 that the program draws live lines on, sized by the
// pseudo-terminal alone.
QProcessEnvironment liveEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("COLUMNS"));
    environment.remove(QStringLiteral("LINES"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
    return environment;
}

// Stderr on the terminal `pty`, or (not `onTerminal`) the test's pipe, with
// the environment of a live terminal either way.
std::function<void(QProcess &)> liveStderr(const StderrTerminal &pty, bool onTerminal)
{
    if (onTerminal)
        return pty.attach(liveEnvironment());
    return [](QProcess &process) { process.setProcessEnvironment(liveEnvironment()); };
}

// The counts of a tally line ("8 boxes: 5 reading, 2 done, 1 failed") by word;
// empty when the line is not one.
QHash<QString, int> tallyCounts(const QString &line, int boxes)
{
    const QString head = QStringLiteral("%1 boxes: ").arg(boxes);
    if (!line.startsWith(head))
        return {};
    QHash<QString, int> counts;
    for (const QString &part : line.mid(head.size()).split(QStringLiteral(", ")))
        counts.insert(part.section(u' ', 1), part.section(u' ', 0, 0).toInt());
    return counts;
}

QByteArray blocks(const LoaderSim &sim, int start, int count)
{
    QByteArray data;
    for (int n = start; n < start + count; ++n)
        data += sim.block(n);
    return data;
}

// A file with `bytes`, locked as another Tarvik process that writes it holds it.
struct HeldFile {
    int fd = -1;
    bool locked = false;

    HeldFile(const QString &path, const QByteArray &bytes)
    {
        if (writeFile(path, bytes))
            fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
        locked = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    }
    ~HeldFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;
    bool isHeld() const { return locked; }
};

// One run in a --log file: the "# key: value" lines before its protocol lines
// and after them, and the protocol lines.
struct LogSection {
    QList<std::pair<QString, QString>> header;
    QList<std::pair<QString, QString>> footer;
    QByteArray protocol;

    QStringList headerKeys() const { return keysOf(header); }
    QStringList footerKeys() const { return keysOf(footer); }
    QString value(const QString &key) const
    {
        for (const auto &[k, v] : header + footer) {
            if (k == key)
                return v;
        }
        return {};
    }
    static QStringList keysOf(const QList<std::pair<QString, QString>> &fields)
    {
        QStringList keys;
        for (const auto &field : fields)
            keys << field.first;
        return keys;
    }
};

// The runs in a log, each from its "# begin" line on; what comes before the
// first is left out.
QList<LogSection> logSections(const QByteArray &log)
{
    QList<LogSection> sections;
    for (qsizetype from = 0; from < log.size();) {
        const qsizetype newline = log.indexOf('\n', from);
        const qsizetype end = newline < 0 ? log.size() : newline + 1;
        const QByteArray line = log.mid(from, end - from);
        from = end;
        if (!line.startsWith("# ")) {
            if (!sections.isEmpty())
                sections.last().protocol += line;
            continue;
        }
        const QString field = QString::fromUtf8(line.mid(2, line.size() - 2 - (line.endsWith("\r\n") ? 2 : 0)));
        const QString key = field.section(QStringLiteral(": "), 0, 0);
        if (key == u"begin")
            sections.append(LogSection());
        if (sections.isEmpty())
            continue;
        LogSection &section = sections.last();
        (section.protocol.isEmpty() ? section.header : section.footer).append({key, field.section(QStringLiteral(": "), 1)});
    }
    return sections;
}

// The protocol lines of a log's one run.
QByteArray protocolOf(const QString &logPath)
{
    const QList<LogSection> sections = logSections(readFile(logPath));
    return sections.size() == 1 ? sections.first().protocol : QByteArray("not one run in the log");
}

} // namespace

Q_DECLARE_METATYPE(Sink)

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fullRead_data();
    void fullRead();
    void failures_data();
    void failures();
    void badArguments_data();
    void badArguments();
    void sameNameDifferentDevices();
    void informationOptions();
    void threeBoxesOneFailing();
    void sameModel_data();
    void sameModel();
    void keepsEarlierDump();
    void plantedPart_data();
    void plantedPart();
    void plantedLog_data();
    void plantedLog();
    void plantedLock_data();
    void plantedLock();
    void nameTaken_data();
    void nameTaken();
    void resumeNeverShrinks();
    void stoppedDumpKept_data();
    void stoppedDumpKept();
    void forgedStoppedDump_data();
    void forgedStoppedDump();
    void folderSwappedWhileWaiting();
    void nextStepsWork_data();
    void nextStepsWork();
    void jsonEscapesControls();
    void resume_data();
    void resume();
    void waitLimit_data();
    void waitLimit();
    void blankBlocks_data();
    void blankBlocks();
    void logCannotBeWritten();
    void logSection_data();
    void logSection();
    void logAppends_data();
    void logAppends();
    void verify_data();
    void verify();
    void verifyRange_data();
    void verifyRange();
    void interrupt_data();
    void interrupt();
    void hangUpIgnoredUnderNohup();
    void outputErrors_data();
    void outputErrors();
    void lockedFile_data();
    void lockedFile();
    void openRefusedToOrdinaryUser_data();
    void openRefusedToOrdinaryUser();
    void unwritableFolderRefusedFirst();
    void sharedPortIsNamed();
    void liveDisplay_data();
    void liveDisplay();
    void liveDisplayFollowsResize();
    void liveDisplayHeight_data();
    void liveDisplayHeight();
    void interruptedOnce_data();
    void interruptedOnce();
    void waitingLine_data();
    void waitingLine();
    void resumedProgress_data();
    void resumedProgress();
};

void TestCli::initTestCase()
{
    // The programs started here make their serial locks in a folder of the test's own.
    static QTemporaryDir lockFolder;
    QVERIFY(lockFolder.isValid());
    QCOMPARE(::chmod(QFile::encodeName(lockFolder.path()).constData(), 01777), 0);
    qputenv("TARVIK_LOCK_FOLDER", QFile::encodeName(lockFolder.path()));
}

void TestCli::fullRead_data()
{
    QTest::addColumn<bool>("header");
    QTest::newRow("plain") << false;
    QTest::newRow("KUP header") << true;
}

// The dump byte for byte, its name, the JSON line with the SHA-256 and the log
// file as the window's log pane would show it.
void TestCli::fullRead()
{
    QFETCH(bool, header);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QByteArray image = sim.image();
    QStringList args{QStringLiteral("--port"), bench.port(QStringLiteral("boxA")), QStringLiteral("--output"),
                     bench.out.path(), QStringLiteral("--json"), QStringLiteral("--log"),
                     bench.output(QStringLiteral("run.log"))};
    if (header)
        args << QStringLiteral("--header");

    const Result r = tarvikDump.run(args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(bench.hostGone(sim));
    QCOMPARE(sim.deviations(), QStringList());

    const QString model = QStringLiteral("KSF-2100");
    const QString name = DumpName::fileName(0, 1024, header, model, image);
    QCOMPARE(name, header ? QStringLiteral("KSF-2100_HW01.00.0A_SW02.03.15_conv.bin") : QStringLiteral("KSF-2100.bin"));
    const QByteArray expected =
            (header ? DumpName::headerText(model, image).toLatin1() : QByteArray()) + image;
    QCOMPARE(readFile(bench.output(name)), expected);
    QCOMPARE(protocolOf(bench.output(QStringLiteral("run.log"))), wholeLog(0, 1024, true).toLatin1());

    QCOMPARE(r.json.size(), 1);
    const QJsonObject o = r.json.first();
    QCOMPARE(o.value("port").toString(), bench.port(QStringLiteral("boxA")));
    QCOMPARE(o.value("model").toString(), model);
    QCOMPARE(o.value("file").toString(), bench.output(name));
    // The size and SHA-256 of the file as it is on disk, header included.
    QCOMPARE(o.value("bytes").toInteger(), expected.size());
    QCOMPARE(o.value("blocks").toInt(), 1024);
    QCOMPARE(o.value("sha256").toString(), sha256(expected));
    QCOMPARE(o.value("result").toString(), QStringLiteral("ok"));
    QVERIFY(o.value("seconds").isDouble());
    QVERIFY(!o.contains("differing_blocks"));
    QVERIFY2(r.err.contains(QStringLiteral(": ok, %1, %2 bytes, SHA-256 %3, ")
                                    .arg(bench.output(name)).arg(expected.size()).arg(sha256(expected))),
             qPrintable(r.err));
    QVERIFY(!o.contains("previous_kept_as"));
    // Not a terminal: one plain line at every tenth of the blocks.
    for (int tenth = 1; tenth <= 10; ++tenth)
        QCOMPARE(r.err.count(QStringLiteral("%1: %2 % (").arg(bench.port(QStringLiteral("boxA"))).arg(tenth * 10)), 1);
    QVERIFY(!r.err.contains(u'\x1b'));
}

void TestCli::failures_data()
{
    QTest::addColumn<LoaderFault>("fault");  // of the box's loader, in a read of blocks 0 to 15
    QTest::addColumn<QString>("other");      // "missing" port, or a "file" in the way; empty for a loader fault
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("line");       // after "tarvik-dump: PORT: "; a loader fault's own line from the catalogue
    QTest::addColumn<QByteArray>("wireEnd"); // the last bytes the box received (all of them, for a loader fault)
    QTest::addColumn<int>("fileBlocks");     // whole blocks in FlashDump.bin.part; -1: no file

    // The loader faults: what the catalogue says of each, and where the port
    // is lost, the exact command that goes on (--resume of the .part, or the
    // same read again before it has one).
    const QHash<QString, QString> lostThen{
        {"adapter pulled", "the adapter was disconnected (%1): plug it in again and continue with tarvik-dump -p %1 "
                           "--resume %o/FlashDump.bin.part --start 0 --count 16"},
        {"adapter pulled in the handshake", "the adapter was disconnected (%1): plug it in again and continue with "
                                            "tarvik-dump -p %1 -o %o --start 0 --count 16"},
    };
    const LoaderSim sim; // serves the default image, as the box does
    for (const QString name : {"wrong check byte", "wrong total", "stall", "extra bytes", "adapter pulled",
                               "adapter pulled in the handshake"}) {
        const LoaderFault fault = loaderFault(name);
        QTest::newRow(qPrintable(name))
            << fault << QString() << fault.result() << fault.lastLine(sim, 0, 16).remove(QStringLiteral("\r\n"))
                                                           + lostThen.value(name)
            << fault.wire(0, 16) << fault.wholeBlocks(0, 16);
    }
    QTest::newRow("missing port") << LoaderFault::none() << "missing" << "open-failed"
                                  << "Serial port %1 not present. Plug the adapter in, or name another port: "
                                     "tarvik-dump --list shows the serial ports of this computer."
                                  << QByteArray() << -1;
    QTest::newRow("a folder in the way of the dump file")
        << LoaderFault::none() << "file" << "file-error"
        << "%o/FlashDump.bin.part is a folder: remove it, or choose another folder." << blockRequest(0) << -1;
}

// Each failure: exit code 1, its result, one line on stderr naming the device
// and the reason, and nothing sent to the box after the stop.
void TestCli::failures()
{
    QFETCH(LoaderFault, fault);
    QFETCH(QString, other);
    QFETCH(QString, result);
    QFETCH(QString, line);
    QFETCH(QByteArray, wireEnd);
    QFETCH(int, fileBlocks);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QString port = bench.port(QStringLiteral("boxA"));
    fault.applyTo(sim);
    if (other == "missing")
        port = bench.port(QStringLiteral("ttyGone"));
    else if (other == "file")
        QVERIFY(QDir(bench.out.path()).mkdir(QStringLiteral("FlashDump.bin.part")));

    QStringList arguments{"-p", port, "-o", bench.out.path(), "--count", "16", "--json"};
    // Only where the stall is the fault: elsewhere a busy machine must not pass for one.
    if (fault.kind == LoaderFault::Kind::Stall)
        arguments << "--stall-ms" << TestStallMs;
    const Result r = tarvikDump.run(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.size(), 1);
    QCOMPARE(r.json.first().value("result").toString(), result);
    line.replace(QStringLiteral("%o"), bench.out.path()); // the output folder
    const QString expectedLine = QStringLiteral("tarvik-dump: %1: %2").arg(port, line.contains("%1") ? line.arg(port) : line);
    QVERIFY2(r.err.contains(expectedLine), qPrintable(r.err));

    if (other != "missing") {
        if (fault.kind != LoaderFault::Kind::HangUp)
            QVERIFY(bench.hostGone(sim));
        QVERIFY2(sim.received().endsWith(wireEnd), sim.received().right(40).constData());
        QCOMPARE(sim.deviations(), QStringList());
    }
    // A failed run never takes the dump's own name; what it received stays as .part.
    QVERIFY(!QFileInfo::exists(bench.output(QStringLiteral("FlashDump.bin"))));
    const QString part = bench.output(QStringLiteral("FlashDump.bin.part"));
    if (fileBlocks >= 0)
        QCOMPARE(readFile(part), blocks(sim, 0, fileBlocks));
    else
        QVERIFY(!QFileInfo(part).isFile());
    // What is reported is the file as it is: a failed block included, and no
    // SHA-256 where there is no file.
    const QJsonObject o = r.json.first();
    QCOMPARE(o.value("bytes").toInteger(), fileBlocks > 0 ? fileBlocks * 1024 : 0);
    if (fileBlocks > 0)
        QCOMPARE(o.value("sha256").toString(), sha256(readFile(part)));
    else
        QVERIFY(o.value("sha256").isNull());
}

void TestCli::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments"); // BOX stands for a present box's device
    QTest::addColumn<QString>("message");

    const QString box = QStringLiteral("BOX");
    QTest::newRow("no port") << QStringList{} << "Name at least one serial device with --port.";
    QTest::newRow("unknown option") << QStringList{"-p", box, "--fast"} << "Unknown option 'fast'.";
    QTest::newRow("stray argument") << QStringList{"-p", box, "extra"} << "Unexpected argument \"extra\".";
    QTest::newRow("start not a number") << QStringList{"-p", box, "--start", "x"}
                                        << "The start block must be a whole number from 0 to 32767.";
    QTest::newRow("start too big") << QStringList{"-p", box, "--start", "32768"}
                                   << "The start block must be a whole number from 0 to 32767.";
    QTest::newRow("count 0") << QStringList{"-p", box, "--count", "0"}
                             << "--count 0 reads nothing: give the number of blocks to read.";
    QTest::newRow("list with a port") << QStringList{"--list", "-p", box} << "--list shows every port: drop --port.";
    QTest::newRow("count negative") << QStringList{"-p", box, "--count", "-1"}
                                    << "The number of blocks must be a whole number from 0 to 32767.";
    QTest::newRow("last block beyond 32767") << QStringList{"-p", box, "--start", "32767", "--count", "2"}
                                             << "The blocks 32767 to 32768 cannot be read";
    QTest::newRow("header with a partial count")
            << QStringList{"-p", box, "--header", "--count", "10"}
            << "--header needs the whole flash: drop --count 10, or drop --header.";
    QTest::newRow("header with a start and a count")
            << QStringList{"-p", box, "--header", "--start", "5", "--count", "8"}
            << "--header needs the whole flash: drop --start 5 and --count 8, or drop --header.";
    QTest::newRow("header with verify") << QStringList{"-p", box, "--header", "--verify", "FILE"}
                                        << "--verify writes no dump, so it takes no --header.";
    QTest::newRow("verify file missing") << QStringList{"-p", box, "--verify", "nothing.bin"}
                                         << "Cannot read nothing.bin: ";
    QTest::newRow("verify file is a FIFO") << QStringList{"-p", box, "--verify", "FIFO"}
                                           << "/fifo: not a regular file";
    QTest::newRow("verify file too short") << QStringList{"-p", box, "--verify", "FILE", "--count", "1025"}
                                           << "holds 1048576 bytes: --verify compares with a whole dump (1048576 "
                                              "bytes, with or without a KUP header in front) or with a dump of "
                                              "just blocks 0 to 1024 (1049600 bytes).";
    QTest::newRow("output folder missing") << QStringList{"-p", box, "-o", "/nonexistent/folder"}
                                           << "The output folder /nonexistent/folder does not exist.";
    QTest::newRow("output names a file") << QStringList{"-p", box, "-o", "FILE"} << "/image.bin is not a folder.";
    QTest::newRow("same port twice") << QStringList{"-p", box, "-p", box} << "are the same device.";
    QTest::newRow("a pty and a link to it") << QStringList{"-p", "PTY", "-p", box} << "are the same device.";
    QTest::newRow("two links to one pty") << QStringList{"-p", box, "-p", "LINK"} << "are the same device.";
}

// Bad usage ends with code 2 and the reason, before any port is touched.
void TestCli::badArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString verifyFile = bench.dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(writeFile(verifyFile, sim.image()));
    arguments.replaceInStrings(QRegularExpression("^BOX$"), bench.port(QStringLiteral("boxA")));
    arguments.replaceInStrings(QRegularExpression("^FILE$"), verifyFile);
    const QString fifo = bench.dir.filePath(QStringLiteral("fifo"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    arguments.replaceInStrings(QRegularExpression("^FIFO$"), fifo);
    arguments.replaceInStrings(QRegularExpression("^PTY$"), sim.slavePath());
    const QString otherLink = bench.dir.filePath(QStringLiteral("elsewhere/boxA"));
    QVERIFY(QDir().mkpath(QFileInfo(otherLink).path()) && QFile::link(sim.slavePath(), otherLink));
    arguments.replaceInStrings(QRegularExpression("^LINK$"), otherLink);
    if (!arguments.contains("-o"))
        arguments << "-o" << bench.out.path();

    const Result r = tarvikDump.run(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith(QStringLiteral("tarvik-dump: ")) && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(bench.files(), QStringList());
}

// Different devices whose paths end in the same name are two boxes: their
// dump and log files get names of their own.
void TestCli::sameNameDifferentDevices()
{
    Bench bench;
    LoaderSim &a = bench.box(QStringLiteral("boxA"));
    LoaderSim &b = bench.box(QStringLiteral("boxB"));
    const QString first = bench.dir.filePath(QStringLiteral("one/ttyUSB0"));
    const QString second = bench.dir.filePath(QStringLiteral("two/ttyUSB0"));
    QVERIFY(QDir().mkpath(QFileInfo(first).path()) && QFile::link(a.slavePath(), first));
    QVERIFY(QDir().mkpath(QFileInfo(second).path()) && QFile::link(b.slavePath(), second));
    const QString log = bench.output(QStringLiteral("run.log"));

    const Result r = tarvikDump.run({"-p", first, "-p", second, "--count", "4", "-o", bench.out.path(), "--log", log, "--json"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.box(first).value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(r.box(second).value("result").toString(), QStringLiteral("ok"));
    const QStringList files = bench.files();
    // A partial read goes to FlashDump.bin, with each device's own name.
    QCOMPARE(files, QStringList({"FlashDump_ttyUSB0-2.bin", "FlashDump_ttyUSB0.bin", "run-ttyUSB0-2.log",
                                 "run-ttyUSB0.log"}));
    QCOMPARE(r.box(first).value("file").toString(), bench.output("FlashDump_ttyUSB0.bin"));
    QVERIFY(readFile(bench.output("run-ttyUSB0.log")).contains("Serial port closed."));
    QVERIFY(readFile(bench.output("run-ttyUSB0-2.log")).contains("Serial port closed."));
}

void TestCli::informationOptions()
{
    const Result help = tarvikDump.run({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    // By the program's name, not the path it was started by; for an 80-column
    // terminal; a few examples last.
    QVERIFY2(help.out.startsWith(QStringLiteral("Usage: tarvik-dump ")), qPrintable(help.out));
    const QStringList lines = help.out.split(u'\n');
    for (const QString &line : lines)
        QVERIFY2(line.size() <= 80, qPrintable(line));
    const qsizetype examples = lines.lastIndexOf(QStringLiteral("Examples:"));
    QVERIFY(examples > 0);
    const QStringList exampleLines = lines.mid(examples + 1).filter(QRegularExpression(QStringLiteral("\\S")));
    QVERIFY2(exampleLines.size() >= 2 && exampleLines.size() <= 3, qPrintable(exampleLines.join(u'\n')));
    for (const QString &line : exampleLines)
        QVERIFY2(line.startsWith(QStringLiteral("  tarvik-dump -p ")), qPrintable(line));
    for (const char *option : {"--port", "--output", "--header", "--start", "--count", "--verify", "--json",
                               "--log", "--quiet", "--list", "--version"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);
    QVERIFY(!help.out.contains(QStringLiteral("--stall-ms")));

    const Result version = tarvikDump.run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.startsWith(QStringLiteral("tarvik-dump ")), qPrintable(version.out));

    // The ports present, as a table and as JSON, one port a line in the same
    // order (the formatting itself is tested in tst_portinfo).
    const Result list = tarvikDump.run({QStringLiteral("--list")});
    QCOMPARE(list.exitCode, 0);
    QStringList rows = list.out.split(u'\n', Qt::SkipEmptyParts);
    const Result json = tarvikDump.run({QStringLiteral("--list"), QStringLiteral("--json")});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.json.size(), json.out.count(u'\n'));
    if (json.json.isEmpty()) {
        QCOMPARE(list.out, QString());
        return;
    }
    QVERIFY2(rows.takeFirst().startsWith(QStringLiteral("DEVICE ")), qPrintable(list.out));
    QCOMPARE(rows.size(), json.json.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QJsonObject port = json.json.at(i);
        QCOMPARE(port.keys(), (QStringList{"by_id", "device", "manufacturer", "product", "product_id",
                                           "serial_number", "vendor_id"}));
        QVERIFY2(rows.at(i).startsWith(port.value("device").toString() + u' '), qPrintable(rows.at(i)));
    }
}

// Three boxes on one event loop: the one that fails does not disturb the others.
void TestCli::threeBoxesOneFailing()
{
    Bench bench;
    LoaderSim &a = bench.box(QStringLiteral("boxA"), LoaderSim::defaultImage("MODEL-A"));
    LoaderSim &b = bench.box(QStringLiteral("boxB"), LoaderSim::defaultImage("MODEL-B"));
    LoaderSim &c = bench.box(QStringLiteral("boxC"), LoaderSim::defaultImage("MODEL-C"));
    b.setBadCheckBlock(300);
    const QString log = bench.output(QStringLiteral("run.log"));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-p", bench.port("boxB"), "-p", bench.port("boxC"), "-o",
                          bench.out.path(), "--json", "--log", log});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.size(), 3);
    QCOMPARE(r.box(bench.port("boxA")).value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(r.box(bench.port("boxB")).value("result").toString(), QStringLiteral("check-error"));
    QCOMPARE(r.box(bench.port("boxC")).value("result").toString(), QStringLiteral("ok"));
    QVERIFY2(r.err.contains(QStringLiteral("tarvik-dump: %1: ").arg(bench.port("boxB")) + crcErrorLine(300).trimmed()),
             qPrintable(r.err));

    QCOMPARE(readFile(bench.output("MODEL-A_boxA.bin")), a.image());
    QCOMPARE(readFile(bench.output("MODEL-C_boxC.bin")), c.image());
    QVERIFY(!QFileInfo::exists(bench.output("MODEL-B_boxB.bin")));
    QCOMPARE(readFile(bench.output("MODEL-B_boxB.bin.part")), b.image().left(301 * 1024));
    // One log each, one run in it, its own box named.
    for (const QString box : {"boxA", "boxB", "boxC"}) {
        const QList<LogSection> sections = logSections(readFile(bench.output("run-" + box + ".log")));
        QCOMPARE(sections.size(), 1);
        QCOMPARE(sections.first().value("device"), bench.port(box));
        QCOMPARE(sections.first().value("model"), QStringLiteral("MODEL-") + box.back());
        QCOMPARE(sections.first().value("result"), r.box(bench.port(box)).value("result").toString());
    }
    QCOMPARE(protocolOf(bench.output("run-boxA.log")), wholeLog(0, 1024, true).toLatin1());
    QCOMPARE(protocolOf(bench.output("run-boxC.log")), wholeLog(0, 1024, true).toLatin1());
    QVERIFY(protocolOf(bench.output("run-boxB.log")).endsWith((crcErrorLine(300) + LogClosed).toLatin1()));
    for (LoaderSim *sim : {&a, &b, &c}) {
        QVERIFY(bench.hostGone(*sim));
        QCOMPARE(sim->deviations(), QStringList());
    }
}

void TestCli::sameModel_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("stem"); // before "_<device>.bin"
    QTest::newRow("short") << QByteArray("KSF-2100") << "KSF-2100";
    // The whole name, tag and ".part.state" included, fits one folder entry.
    const QByteArray longModel(600, 'L');
    QTest::newRow("very long") << longModel << QString(DumpName::MaxNameBytes - 15 - 5, u'L');
}

// Three boxes of one model in one process: each file carries its device's
// name, whichever box answers first, run after run.
void TestCli::sameModel()
{
    QFETCH(QByteArray, model);
    QFETCH(QString, stem);
    Bench bench;
    QByteArray image = LoaderSim::defaultImage();
    image.replace(tarvik::protocol::ModelOffset, model.size() + 1, model + '\0');
    const QStringList boxes{"boxA", "boxB", "boxC"};
    QList<QByteArray> images;
    for (int i = 0; i < boxes.size(); ++i) {
        QByteArray own = image;
        own[100 * 1024] = char(own.at(100 * 1024) ^ (0x55 + i));
        images << own;
    }
    QStringList expected;
    for (const QString &box : boxes)
        expected << stem + u'_' + box + ".bin";

    for (int round = 0; round < 2; ++round) {
        QStringList args{"-o", bench.out.path(), "--json"};
        for (int i = 0; i < boxes.size(); ++i) {
            // The same device names again: new boxes behind them.
            QFile::remove(bench.port(boxes.at(i)));
            bench.box(boxes.at(i), images.at(i));
            args << "-p" << bench.port(boxes.at(i));
        }
        const Result r = tarvikDump.run(args);
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(bench.files(), expected);
        for (int i = 0; i < boxes.size(); ++i)
            QCOMPARE(readFile(bench.output(expected.at(i))), images.at(i));
    }
}

// A box read again into the same folder: the earlier dump of another box
// (other bytes) is kept under a dated name, and said so; the same bytes
// simply replace it.
void TestCli::keepsEarlierDump()
{
    Bench bench;
    QByteArray otherImage = LoaderSim::defaultImage();
    otherImage[5 * 1024] = char(otherImage.at(5 * 1024) ^ 0x55);
    bench.box(QStringLiteral("boxA"));
    LoaderSim &b = bench.box(QStringLiteral("boxB"), otherImage);
    const QString dump = bench.output("KSF-2100.bin");

    Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!r.json.first().contains("previous_kept_as"));
    const QByteArray first = readFile(dump);
    r = tarvikDump.run({"-p", bench.port("boxB"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 0);
    const QString kept = r.json.first().value("previous_kept_as").toString();
    QCOMPARE(QFileInfo(kept).path(), bench.out.path());
    QVERIFY2(QFileInfo(kept).fileName().startsWith("KSF-2100.2"), qPrintable(kept));
    QCOMPARE(readFile(kept), first);
    QCOMPARE(readFile(dump), b.image());
    QVERIFY2(r.err.contains(", earlier dump kept as " + kept + u'\n'), qPrintable(r.err));

    r = tarvikDump.run({"-p", bench.port("boxB"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!r.json.first().contains("previous_kept_as"));
    QCOMPARE(bench.files(), (QStringList{QFileInfo(kept).fileName(), "KSF-2100.bin"}));
}

void TestCli::plantedPart_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("ordinaryUser");
    QTest::addColumn<QString>("what");

    QTest::newRow("link") << "link" << false << "a symbolic link";
    QTest::newRow("FIFO") << "fifo" << false << "a FIFO";
    QTest::newRow("hard link") << "hard link" << false << "a file with more than one name (a hard link)";
    QTest::newRow("ordinary user, link") << "link" << true << "a symbolic link";
    QTest::newRow("ordinary user, another user's file") << "other user" << true << "another user's file";
}

// Something planted where a box's dump is received: the run ends with a file
// error that says what is in the way, nothing is written through or waited on,
// as root and as an ordinary user.
void TestCli::plantedPart()
{
    QFETCH(QString, planted);
    QFETCH(bool, ordinaryUser);
    QFETCH(QString, what);
    if (ordinaryUser && planted == "other user" && ::geteuid() != 0)
        QSKIP("only root can plant another user's file here");

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QString folder = bench.out.path();
    if (ordinaryUser) {
        QCOMPARE(::chmod(QFile::encodeName(sim.slavePath()).constData(), 0666), 0);
        QVERIFY(openFolderToOrdinaryUser(bench.dir.path()));
        QVERIFY(openFolderToOrdinaryUser(bench.out.path()));
        folder = bench.output("theirs");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), ordinaryUserId(), ordinaryGroupId()), 0);
    }
    const QString part = folder + "/KSF-2100.bin.part";
    const QString victim = bench.dir.filePath("victim");
    const QByteArray precious("precious");
    QVERIFY(writeFile(victim, precious));
    if (planted == "link")
        QVERIFY(QFile::link(victim, part));
    else if (planted == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(part).constData(), 0600), 0);
    else if (planted == "hard link")
        QCOMPARE(::link(QFile::encodeName(victim).constData(), QFile::encodeName(part).constData()), 0);
    else if (planted == "other user")
        QVERIFY(writeFile(part, precious));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", folder, "--json"}, {},
                         ordinaryUser ? As::OrdinaryUser : As::ThisUser);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.size(), 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("file-error"));
    QVERIFY(r.json.first().value("sha256").isNull());
    const QString line = QStringLiteral("tarvik-dump: %1: %2 is %3: remove it, or choose another folder.")
                                 .arg(bench.port("boxA"), part, what);
    QVERIFY2(r.err.contains(line), qPrintable(r.err));
    QCOMPARE(readFile(victim), precious);
    QVERIFY(!QFileInfo::exists(folder + "/KSF-2100.bin"));
    QVERIFY(bench.hostGone(sim));
    QVERIFY2(sim.received().endsWith(blockRequest(0)), sim.received().right(40).constData());
}

// Plants `kind` at `path`: a link or a hard link to `victim`, a link to
// nowhere, a FIFO, a folder, or a copy of `victim` that belongs to the
// ordinary user ("other user").
bool plant(const QString &kind, const QString &path, const QString &victim)
{
    const QByteArray at = QFile::encodeName(path);
    const QByteArray target = QFile::encodeName(victim);
    if (kind == u"link")
        return ::symlink(target.constData(), at.constData()) == 0;
    if (kind == u"dangling link")
        return ::symlink((target + ".gone").constData(), at.constData()) == 0;
    if (kind == u"hard link")
        return ::link(target.constData(), at.constData()) == 0;
    if (kind == u"fifo")
        return ::mkfifo(at.constData(), 0666) == 0;
    if (kind == u"folder")
        return ::mkdir(at.constData(), 0755) == 0;
    if (kind == u"other user")
        return writeFile(path, readFile(victim)) && ::chown(at.constData(), ordinaryUserId(), ordinaryGroupId()) == 0;
    return false;
}

void TestCli::plantedLog_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<bool>("ordinaryUser");
    QTest::addColumn<QString>("what");

    QTest::newRow("link") << "link" << false << "a symbolic link";
    QTest::newRow("dangling link") << "dangling link" << false << "a symbolic link";
    QTest::newRow("FIFO") << "fifo" << false << "a FIFO";
    QTest::newRow("hard link") << "hard link" << false << "a file with more than one name (a hard link)";
    QTest::newRow("another user's file") << "other user" << false << "another user's file";
    QTest::newRow("folder") << "folder" << false << "a folder";
    QTest::newRow("ordinary user, link") << "link" << true << "a symbolic link";
    QTest::newRow("ordinary user, FIFO") << "fifo" << true << "a FIFO";
}

// Whatever is planted at the --log path in a shared folder (sticky, open to
// all, as /tmp): the program refuses it before any port is opened, follows
// nothing, waits on nothing, and the file behind it keeps its bytes.
void TestCli::plantedLog()
{
    QFETCH(QString, planted);
    QFETCH(bool, ordinaryUser);
    QFETCH(QString, what);
    if (::geteuid() != 0 && (ordinaryUser || planted == u"other user"))
        QSKIP("only root can plant another user's file here, or run as another user");

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    if (ordinaryUser) {
        QCOMPARE(::chmod(QFile::encodeName(sim.slavePath()).constData(), 0666), 0);
        QVERIFY(openFolderToOrdinaryUser(bench.dir.path()));
        QVERIFY(openFolderToOrdinaryUser(bench.out.path()));
    }
    const QString shared = bench.output(QStringLiteral("shared"));
    QVERIFY(QDir().mkdir(shared));
    QCOMPARE(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const QString victim = bench.dir.filePath(QStringLiteral("victim"));
    const QByteArray precious("root's own\n");
    QVERIFY(writeFile(victim, precious));
    QCOMPARE(::chmod(QFile::encodeName(victim).constData(), 0600), 0);
    const QString log = shared + QStringLiteral("/run.log");
    QVERIFY(plant(planted, log, victim));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", shared, "--count", "2", "--log", log}, {},
                         ordinaryUser ? As::OrdinaryUser : As::ThisUser);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    const QString line = QStringLiteral("tarvik-dump: %1 is %2: remove it, or choose another log file.\n")
                                 .arg(log, what);
    QCOMPARE(r.err, line);
    QCOMPARE(readFile(victim), precious);
    QVERIFY(sim.received().isEmpty());
    QVERIFY(!QFileInfo::exists(shared + QStringLiteral("/FlashDump.bin.part")));
}

void TestCli::plantedLock_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("what");

    QTest::newRow("FIFO") << "fifo" << "a FIFO";
    QTest::newRow("link") << "link" << "a symbolic link";
    QTest::newRow("folder") << "folder" << "a folder";
    QTest::newRow("hard link") << "hard link" << "a file with more than one name (a hard link)";
}

// Anybody may write into the lock folder. What is there in place of the
// port's lock file is never opened: the port is refused with a message that
// says what to remove, at once, and the file behind it keeps its bytes.
void TestCli::plantedLock()
{
    QFETCH(QString, planted);
    QFETCH(QString, what);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString lock = tarvik::serialLockPath(QFileInfo(sim.slavePath()).canonicalFilePath());
    if (lock.isEmpty() || !QFileInfo(QFileInfo(lock).path()).isWritable())
        QSKIP("no lock folder that this user may write into");
    const QString victim = bench.dir.filePath(QStringLiteral("victim"));
    const QByteArray precious("4242\n");
    QVERIFY(writeFile(victim, precious));
    QCOMPARE(::chmod(QFile::encodeName(victim).constData(), 0600), 0);
    QVERIFY(plant(planted, lock, victim));
    const auto removeLock = qScopeGuard([&lock] {
        const QByteArray path = QFile::encodeName(lock);
        if (::unlink(path.constData()) != 0)
            ::rmdir(path.constData());
    });

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--count", "2", "--json"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("open-failed"));
    const QString message = QStringLiteral("%1 is %2, not a lock file: remove it (it belongs to uid %3)")
                                    .arg(lock, what)
                                    .arg(::geteuid());
    QCOMPARE(r.json.first().value("error").toString(), message);
    QCOMPARE(readFile(victim), precious);
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(bench.files(), QStringList());
}

void TestCli::nameTaken_data()
{
    QTest::addColumn<QString>("planted");
    QTest::addColumn<QString>("message"); // PATH stands for the dump's path

    QTest::newRow("another user's file") << "other user"
                                         << "PATH belongs to another user: your dump is kept in PATH.part";
    QTest::newRow("another user's link") << "other user's link"
                                         << "PATH belongs to another user: your dump is kept in PATH.part";
    QTest::newRow("folder") << "folder" << "Cannot save the dump as PATH: Is a directory";
}

// What another user left under the dump's name stays where it is, and so does
// the good dump: in its .part, with a file error that says where it is.
void TestCli::nameTaken()
{
    QFETCH(QString, planted);
    QFETCH(QString, message);
    if (::geteuid() != 0 && planted != u"folder")
        QSKIP("only root can plant another user's file here");

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString dump = bench.output(QStringLiteral("FlashDump.bin"));
    const QString victim = bench.dir.filePath(QStringLiteral("victim"));
    const QByteArray theirs("their own dump");
    QVERIFY(writeFile(victim, theirs));
    if (planted == u"other user's link") {
        QVERIFY(plant(QStringLiteral("link"), dump, victim));
        QCOMPARE(::lchown(QFile::encodeName(dump).constData(), ordinaryUserId(), ordinaryGroupId()), 0);
    } else {
        QVERIFY(plant(planted, dump, victim));
    }
    const QFileInfo before(dump);

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--count", "2", "--json"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("file-error"));
    QVERIFY2(r.err.contains(QString(message).replace(QStringLiteral("PATH"), dump)), qPrintable(r.err));
    QCOMPARE(readFile(dump + QStringLiteral(".part")), sim.image().left(2 * 1024));
    const QFileInfo after(dump);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.isDir(), before.isDir());
    QCOMPARE(after.ownerId(), before.ownerId());
    if (!after.isDir())
        QCOMPARE(readFile(dump), theirs);
    QCOMPARE(bench.files().size(), 2);
}

// A range shorter than the stopped dump would cut good blocks from it: refused
// before the port is opened, the .part as it was.
void TestCli::resumeNeverShrinks()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString part = bench.output(QStringLiteral("KSF-2100.bin.part"));
    const QByteArray stopped = sim.image().left(501 * 1024);
    QVERIFY(writeFile(part, stopped));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "--resume", part, "--count", "100"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.contains(QStringLiteral("%1 holds 501 whole blocks, more than the 100 of the range asked for")
                                    .arg(part)),
             qPrintable(r.err));
    QCOMPARE(readFile(part), stopped);
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(bench.files(), QStringList{QStringLiteral("KSF-2100.bin.part")});
}

void TestCli::stoppedDumpKept_data()
{
    QTest::addColumn<QStringList>("range");     // of the stopped run
    QTest::addColumn<bool>("badTotal");         // the stopped run failed the total check instead
    QTest::addColumn<QString>("record");        // "kept", "gone" or "link" before the second run
    QTest::addColumn<QStringList>("second");    // the second run's arguments; PART: the .part
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");          // on stderr; PART and DEVICE stand for themselves
    QTest::addColumn<int>("firstBlockAsked");   // by the second run, -1 for none
    QTest::addColumn<int>("blocksAsked");

    const QStringList all;
    const QStringList part{"--resume", "PART"};
    QTest::newRow("plain re-run: refused") << all << false << "kept" << QStringList() << 1
            << ", continue it with: tarvik-dump -p DEVICE "
               "--resume PART, or start again with: tarvik-dump -p DEVICE -o OUT --restart" << 0 << 1;
    QTest::newRow("--restart starts again") << all << false << "kept" << QStringList{"--restart"} << 0
            << ": ok, " << 0 << 1024;
    QTest::newRow("resume: the range from the record") << QStringList{"--start", "5", "--count", "20"} << false
            << "kept" << part << 0 << ", continued from block 14" << 14 << 11;
    QTest::newRow("resume: another range refused") << QStringList{"--start", "5", "--count", "20"} << false
            << "kept" << QStringList{"--resume", "PART", "--count", "30"} << 2
            << "PART was a read of 20 blocks from block 5: drop --start and --count, or give --start 5 --count 20."
            << -1 << 0;
    QTest::newRow("resume without a record: the range given") << QStringList{"--start", "5", "--count", "20"}
            << false << "gone" << QStringList{"--resume", "PART", "--start", "5", "--count", "20"} << 0
            << ", continued from block 14" << 14 << 11;
    QTest::newRow("resume after a failed total: refused") << all << true << "kept" << part << 2
            << "PART cannot be continued: its run failed the check over the whole transfer, so any of its "
               "blocks may be wrong." << -1 << 0;
    QTest::newRow("a link at the record's name") << all << false << "link" << part << 2
            << "PART.state is a symbolic link" << -1 << 0;
}

// A stopped dump is never wiped without being asked, and only a dump that can
// be trusted is continued: the record beside the .part says what it was.
void TestCli::stoppedDumpKept()
{
    QFETCH(QStringList, range);
    QFETCH(bool, badTotal);
    QFETCH(QString, record);
    QFETCH(QStringList, second);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(int, firstBlockAsked);
    QFETCH(int, blocksAsked);

    Bench bench;
    LoaderSim &first = bench.box(QStringLiteral("first"));
    const bool partial = !range.isEmpty();
    if (badTotal)
        first.setBadTotal(true);
    else
        first.setBadCheckBlock(partial ? 15 : 900);
    Result r = tarvikDump.run(QStringList{"-p", bench.port("first"), "-o", bench.out.path()} + range);
    QCOMPARE(r.exitCode, 1);
    const QString part = bench.output(partial ? "FlashDump.bin.part" : "KSF-2100.bin.part");
    QVERIFY2(r.out.contains(QStringLiteral(", continue with: tarvik-dump -p %1 --resume %2")
                                    .arg(bench.port("first"), part))
                     != badTotal,
             qPrintable(r.out));
    const QByteArray stopped = readFile(part);
    const QByteArray recordText = readFile(part + ".state");
    QVERIFY2(recordText.contains(badTotal ? "stopped_by=total-mismatch" : "stopped_by=check-error"),
             recordText.constData());
    if (record == u"gone")
        QVERIFY(QFile::remove(part + ".state"));
    const QString victim = bench.dir.filePath("victim");
    QVERIFY(writeFile(victim, "start=0\ncount=1\n"));
    if (record == u"link") {
        QVERIFY(QFile::remove(part + ".state"));
        QVERIFY(QFile::link(victim, part + ".state"));
    }

    LoaderSim &again = bench.box(QStringLiteral("again"));
    second.replaceInStrings(QRegularExpression("^PART$"), part);
    QStringList args = QStringList{"-p", bench.port("again")} + second;
    if (!second.contains("--resume"))
        args = args + QStringList{"-o", bench.out.path()} + range;
    r = tarvikDump.run(args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    const QString expected = QString(says)
                                     .replace("PART", part)
                                     .replace("DEVICE", bench.port("again"))
                                     .replace("OUT", QDir(bench.out.path()).absolutePath());
    QVERIFY2((r.err + r.out).contains(expected), qPrintable(r.err + r.out));
    QCOMPARE(readFile(victim), QByteArray("start=0\ncount=1\n"));
    if (firstBlockAsked < 0) {
        QVERIFY(again.received().isEmpty());
        QCOMPARE(readFile(part), stopped);
        return;
    }
    QVERIFY(bench.hostGone(again));
    QCOMPARE(again.deviations(), QStringList());
    if (exitCode != 0) {
        // Refused at the first block: the .part as it was.
        QCOMPARE(again.received(), wholeWire(firstBlockAsked, blocksAsked, false).left(again.received().size()));
        QCOMPARE(readFile(part), stopped);
        return;
    }
    const int start = partial ? 5 : 0;
    QList<int> samples;
    for (int n = start; second.contains("--resume") && n < firstBlockAsked; ++n)
        samples << n;
    QCOMPARE(again.received(), resumedWire(samples, firstBlockAsked, firstBlockAsked + blocksAsked, true));
    const int count = partial ? 20 : 1024;
    const QString dump = part.chopped(5);
    QCOMPARE(readFile(dump), again.image().mid(start * 1024, count * 1024));
    QVERIFY(!QFileInfo::exists(part));
    QVERIFY(!QFileInfo::exists(part + ".state"));
}

// What the box reports reaches scripts as text: control characters, the C1
// ones included, are escaped in the JSON.
void TestCli::jsonEscapesControls()
{
    Bench bench;
    const QByteArray model("A\x1b[2J\x9b" "31m\x85" "B");
    bench.box(QStringLiteral("boxA"), LoaderSim::defaultImage(model));
    QProcess process;
    process.start(Program, {"-p", bench.port("boxA"), "-o", bench.out.path(), "--json", "--count", "1"});
    QSignalSpy finished(&process, &QProcess::finished);
    QVERIFY(finished.wait(RunMs));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray out = process.readAllStandardOutput();
    QVERIFY2(out.contains(R"("model":"A\u001b[2J\u009b31m\u0085B")"), out.constData());
    for (const char c : out)
        QVERIFY2(uchar(c) >= 0x20 && uchar(c) < 0x7F ? true : c == '\n', out.constData());
    QCOMPARE(QJsonDocument::fromJson(out.trimmed()).object().value("model").toString(), QString::fromLatin1(model));
}

void TestCli::verify_data()
{
    QTest::addColumn<QList<int>>("changed"); // blocks of the file that differ from the box
    QTest::addColumn<bool>("withHeader");    // the file carries a KUP header
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("summary");

    QTest::newRow("identical") << QList<int>{} << false << 0 << ": identical, ";
    QTest::newRow("identical, file with a KUP header") << QList<int>{} << true << 0 << ": identical, ";
    QTest::newRow("one block, same 8-bit sum") << QList<int>{700} << false << 3
                                              << ": different in blocks 700, ";
    QTest::newRow("runs compressed") << QList<int>{700, 701, 702, 703, 900} << true << 3
                                     << ": different in blocks 700-703, 900, ";
}

// --verify compares block by block, so it sees a difference that the box's
// 8-bit sums cannot; it writes no dump.
void TestCli::verify()
{
    QFETCH(QList<int>, changed);
    QFETCH(bool, withHeader);
    QFETCH(int, exitCode);
    QFETCH(QString, summary);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QByteArray file = sim.image();
    for (const int n : changed) {
        // Two bytes swapped: the block's sum stays the same.
        const qsizetype at = qsizetype(n) * 1024 + 100;
        QVERIFY(file.at(at) != file.at(at + 1));
        std::swap(file[at], file[at + 1]);
        QCOMPARE(LoaderSim::checkValue(file.mid(qsizetype(n) * 1024, 1024)), LoaderSim::checkValue(sim.block(n)));
    }
    if (withHeader)
        file.prepend(DumpName::headerText(QStringLiteral("KSF-2100"), file).toLatin1());
    const QString verifyFile = bench.dir.filePath(QStringLiteral("saved.bin"));
    QVERIFY(writeFile(verifyFile, file));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--verify", verifyFile, "--json"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.json.size(), 1);
    const QJsonObject o = r.json.first();
    QCOMPARE(o.value("result").toString(), changed.isEmpty() ? QStringLiteral("identical") : QStringLiteral("different"));
    QList<int> differing;
    for (const QJsonValue &v : o.value("differing_blocks").toArray())
        differing << v.toInt();
    QCOMPARE(differing, changed);
    QVERIFY(!o.contains("file"));
    QCOMPARE(o.value("sha256").toString(), sha256(sim.image()));
    QVERIFY2(r.err.contains(bench.port("boxA") + summary), qPrintable(r.err));
    QCOMPARE(bench.files(), QStringList());
}

void TestCli::verifyRange_data()
{
    QTest::addColumn<QString>("kind"); // of the file: "whole", "header", "range" (just the blocks asked for), "short"
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("whole dump, first blocks") << "whole" << 0 << 100 << 0;
    QTest::newRow("whole dump, last blocks") << "whole" << 924 << 100 << 0;
    QTest::newRow("whole dump, blocks in the middle") << "whole" << 300 << 7 << 0;
    QTest::newRow("with a KUP header, first blocks") << "header" << 0 << 100 << 0;
    QTest::newRow("with a KUP header, last blocks") << "header" << 924 << 100 << 0;
    QTest::newRow("dump of the range") << "range" << 300 << 7 << 0;
    QTest::newRow("dump of the range beyond the flash") << "range" << 2000 << 3 << 0;
    QTest::newRow("too short for a whole dump or the range") << "short" << 0 << 100 << 2;
}

// --verify compares the box's blocks with the blocks of the file that the
// range names, whatever the range; a file that is neither a whole dump nor a
// dump of the range is refused.
void TestCli::verifyRange()
{
    QFETCH(QString, kind);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(int, exitCode);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QByteArray file = kind == u"range" ? blocks(sim, start, count) : sim.image();
    if (kind == u"header")
        file.prepend(DumpName::headerText(QStringLiteral("KSF-2100"), file).toLatin1());
    if (kind == u"short")
        file.chop(1);
    const QString verifyFile = bench.dir.filePath(QStringLiteral("saved.bin"));
    QVERIFY(writeFile(verifyFile, file));

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "--verify", verifyFile, "--json", "--start",
                          QString::number(start), "--count", QString::number(count)});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    if (exitCode == 2) {
        QVERIFY2(r.err.contains(QStringLiteral("%1 holds %2 bytes: --verify compares with a whole dump")
                                        .arg(verifyFile)
                                        .arg(file.size())),
                 qPrintable(r.err));
        QVERIFY(sim.received().isEmpty());
        return;
    }
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("identical"));
    QCOMPARE(r.json.first().value("differing_blocks").toArray(), QJsonArray());
}

void TestCli::interrupt_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("outputLost"); // stdout and stderr fail, as a dropped terminal's do
    QTest::newRow("SIGINT") << int(SIGINT) << 130 << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << 130 << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << 129 << false;
    QTest::newRow("SIGHUP, output lost") << int(SIGHUP) << 129 << true;
}

// Ctrl+C, SIGTERM or a dropped session half-way ends the run as Close does:
// nothing more is sent, the file keeps its whole blocks, the serial port's
// lock is released, the summary is written, and the exit code says which.
void TestCli::interrupt()
{
    QFETCH(int, signal);
    QFETCH(int, exitCode);
    QFETCH(bool, outputLost);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    sim.setBaudRate(115200);
    const QString log = bench.output(QStringLiteral("run.log"));
    QSignalSpy served(&sim, &LoaderSim::blockServed);
    QStringList locks;

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json", "--log", log},
                         [&](QProcess &process) {
                             QTRY_VERIFY_WITH_TIMEOUT(served.count() >= 20, RunMs);
                             locks = locksHeldBy(process.processId());
                             ::kill(pid_t(process.processId()), signal);
                         },
                         As::ThisUser, [outputLost](QProcess &process) {
                             if (outputLost)
                                 redirect(process, Sink::Full, Sink::Full);
                         });
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(!locks.isEmpty(), "the open port held no lock in the lock folder");
    for (const QString &lock : std::as_const(locks))
        QVERIFY2(!QFileInfo::exists(lock), qPrintable(lock));
    QVERIFY(bench.hostGone(sim));
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(protocolOf(log).endsWith("Serial port closed.\r\n"));
    QCOMPARE(logSections(readFile(log)).value(0).value("result"), QStringLiteral("interrupted"));
    // The last thing on the wire is a block's request or acknowledgement.
    const QByteArray lastRequest = sim.received().mid(sim.received().lastIndexOf("1024DOWN"));
    QVERIFY2(lastRequest.endsWith('\r') && !lastRequest.contains("UPGRADE") && !lastRequest.contains("TOTALCRC"),
             lastRequest.constData());

    const QString part = bench.output(QStringLiteral("KSF-2100.bin.part"));
    QCOMPARE(bench.files(), QStringList({QFileInfo(part).fileName(), QFileInfo(log).fileName()}));
    if (!outputLost) {
        QCOMPARE(r.json.size(), 1);
        QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("interrupted"));
        QCOMPARE(r.json.first().value("file").toString(), part);
        QVERIFY2(r.err.contains(bench.port("boxA") + QStringLiteral(": interrupted, ") + part), qPrintable(r.err));
    }
    const QByteArray dump = readFile(part);
    QVERIFY(dump.size() >= 1024); // the box had sent 20 blocks, some of them still on the line
    QVERIFY(dump.size() < 1024 * 1024);
    QCOMPARE(dump.size() % 1024, 0);
    QCOMPARE(dump, sim.image().left(dump.size()));
}

// Under nohup a dropped session does not end the run.
void TestCli::hangUpIgnoredUnderNohup()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    sim.setBaudRate(115200);
    QSignalSpy served(&sim, &LoaderSim::blockServed);

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json", "--count", "24"},
                         [&served](QProcess &process) {
                             QTRY_VERIFY_WITH_TIMEOUT(served.count() >= 4, RunMs);
                             ::kill(pid_t(process.processId()), SIGHUP);
                         },
                         As::HangUpIgnored);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json.size(), 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(readFile(bench.output(QStringLiteral("FlashDump.bin"))), blocks(sim, 0, 24));
}

void TestCli::outputErrors_data()
{
    QTest::addColumn<QStringList>("arguments"); // BOX stands for a present box's device
    QTest::addColumn<Sink>("out");
    QTest::addColumn<Sink>("err");
    QTest::addColumn<QString>("message"); // on stderr; empty where stderr is lost

    const QString box = QStringLiteral("BOX");
    const QString full = QStringLiteral("tarvik-dump: cannot write to standard output: No space left on device\n");
    QTest::newRow("--help, full disk") << QStringList{"--help"} << Sink::Full << Sink::Test << full;
    QTest::newRow("--version, stdout closed")
            << QStringList{"--version"} << Sink::Closed << Sink::Test
            << "tarvik-dump: cannot write to standard output: Bad file descriptor\n";
    QTest::newRow("--json, full disk") << QStringList{"-p", box, "--json"} << Sink::Full << Sink::Test << full;
    QTest::newRow("summary into a pipe whose reader is gone")
            << QStringList{"-p", box} << Sink::BrokenPipe << Sink::Test
            << "tarvik-dump: cannot write to standard output: Broken pipe\n";
    QTest::newRow("stderr on a full disk") << QStringList{"-p", box, "--json"} << Sink::Test << Sink::Full
                                           << QString();
    QTest::newRow("stderr closed") << QStringList{"-p", box} << Sink::Test << Sink::Closed << QString();
    QTest::newRow("both on a full disk") << QStringList{"-p", box, "--json"} << Sink::Full << Sink::Full
                                         << QString();
}

// A write that fails on stdout or stderr makes the exit code 1, said on stderr
// when only stdout failed; the runs themselves go on and keep their dumps.
void TestCli::outputErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(Sink, out);
    QFETCH(Sink, err);
    QFETCH(QString, message);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const bool reads = arguments.contains(QStringLiteral("BOX"));
    arguments.replaceInStrings(QRegularExpression("^BOX$"), bench.port(QStringLiteral("boxA")));
    if (reads)
        arguments << "-o" << bench.out.path() << "--count" << "4";

    const Result r = tarvikDump.run(arguments, {}, As::ThisUser,
                         [out, err](QProcess &process) { redirect(process, out, err); });
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    if (!message.isEmpty())
        QVERIFY2(r.err.endsWith(message), qPrintable(r.err));
    if (reads) {
        QCOMPARE(readFile(bench.output(QStringLiteral("FlashDump.bin"))), blocks(sim, 0, 4));
        // What reached a working stream is there.
        const bool json = arguments.contains(QStringLiteral("--json"));
        if (json && out == Sink::Test)
            QCOMPARE(r.json.size(), 1);
        const QString summary = QStringLiteral("%1: ok, ").arg(bench.port("boxA"));
        if ((json ? err : out) == Sink::Test)
            QVERIFY2((json ? r.err : r.out).contains(summary), qPrintable(r.out + r.err));
    }
}

void TestCli::lockedFile_data()
{
    QTest::addColumn<QString>("name"); // of the file held
    QTest::addColumn<bool>("log");     // it is the --log
    QTest::newRow("the dump's .part") << "KSF-2100.bin.part" << false;
    QTest::newRow("the log") << "run.log" << true;
}

// A dump file that another Tarvik process is writing is left alone. So is a
// log that another run writes, refused before any port is opened: the two
// runs' lines would mix.
void TestCli::lockedFile()
{
    QFETCH(QString, name);
    QFETCH(bool, log);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString path = bench.output(name);
    const HeldFile held(path, "being written\r\n");
    QVERIFY(held.isHeld());

    QStringList args{"-p", bench.port("boxA"), "-o", bench.out.path(), "--json"};
    if (log)
        args << "--count" << "2" << "--log" << path;
    const Result r = tarvikDump.run(args);
    QCOMPARE(readFile(path), QByteArray("being written\r\n"));
    if (log) {
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.err, QStringLiteral("tarvik-dump: %1 is being written by another run of tarvik-dump: choose "
                                       "another log file.\n").arg(path));
        QVERIFY(sim.received().isEmpty());
        return;
    }
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("file-error"));
    QVERIFY(bench.hostGone(sim));
}

void TestCli::openRefusedToOrdinaryUser_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("line"); // %1: the port; %2: the holder and its pid
    QTest::newRow("no permission") << "denied" << "No permission to open %1. ";
    // Held by this test, whose descriptors an ordinary user may not look at
    // when the tests run as root.
    QTest::newRow("held exclusively by another program")
            << "busy"
            << (::geteuid() == 0 ? "%1 blocked by another application. To see which program holds it, run: sudo fuser -v %1"
                                 : "%1 is in use by %2.");
    QTest::newRow("held exclusively by a program of the same user") << "held" << "%1 is in use by %2.";
}

// Refusals that only an ordinary user meets, even when the tests run as root.
void TestCli::openRefusedToOrdinaryUser()
{
    QFETCH(QString, situation);
    QFETCH(QString, line);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QByteArray device = QFile::encodeName(sim.slavePath());
    const mode_t mode = situation == "denied" ? 0 : 0666;
    QCOMPARE(::chmod(device.constData(), mode), 0);
    int holder = -1;
    const auto closeHolder = qScopeGuard([&holder] {
        if (holder >= 0)
            ::close(holder);
    });
    QString holderName;
    QProcess heldBy;
    if (situation == "busy") {
        holder = ::open(device.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);
        holderName = QStringLiteral("%1 (pid %2)").arg(QCoreApplication::applicationName()).arg(::getpid());
    } else if (situation == "held") {
        QVERIFY(holdAsOrdinaryUser(heldBy, sim.slavePath()));
        holderName = QStringLiteral("%1 (pid %2)").arg(::holderName()).arg(heldBy.processId());
    }
    const auto endHolder = qScopeGuard([&heldBy] {
        heldBy.closeWriteChannel();
        heldBy.waitForFinished();
    });

    QVERIFY(openFolderToOrdinaryUser(bench.dir.path()));
    const ProcessOutcome outcome =
            runAsOrdinaryUser(Program, {"--port", bench.port("boxA"), "--output", QDir::tempPath()}, RunMs);
    const QString err = QString::fromLocal8Bit(outcome.err);
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(err.contains(QStringLiteral("tarvik-dump: %1: ").arg(bench.port("boxA"))
                          + QString(line).replace(QLatin1String("%1"), bench.port("boxA"))
                                    .replace(QLatin1String("%2"), holderName)),
             qPrintable(err));
    QVERIFY(sim.received().isEmpty());
}

// A folder that cannot take the dump is found before the port is opened, not
// after the handshake and the first block.
void TestCli::unwritableFolderRefusedFirst()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QCOMPARE(::chmod(QFile::encodeName(sim.slavePath()).constData(), 0666), 0);
    QCOMPARE(::chmod(QFile::encodeName(bench.out.path()).constData(), 0555), 0);
    QVERIFY(openFolderToOrdinaryUser(bench.dir.path()));
    const ProcessOutcome outcome =
            runAsOrdinaryUser(Program, {"--port", bench.port("boxA"), "--output", bench.out.path()}, RunMs);
    const QString err = QString::fromLocal8Bit(outcome.err);
    QCOMPARE(outcome.exitCode, 2);
    QVERIFY2(err.contains(QStringLiteral("Cannot write into the output folder %1: Permission denied")
                                  .arg(bench.out.path())),
             qPrintable(err));
    QVERIFY(sim.received().isEmpty());
}

// The port opened, but another program has it open too and may read the
// box's answers: the user is told who, and the run goes on.
void TestCli::sharedPortIsNamed()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QProcess heldBy;
    QVERIFY(holdShared(heldBy, sim.slavePath()));
    const auto endHolder = qScopeGuard([&heldBy] {
        heldBy.closeWriteChannel();
        heldBy.waitForFinished();
    });
    const QString port = bench.port(QStringLiteral("boxA"));
    const Result r = tarvikDump.run({"-p", port, "-o", bench.out.path(), "--count", "4"});
    QVERIFY(r.finished);
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const QString warning = QStringLiteral("tarvik-dump: %1: %2 (pid %3) also has %1 open: it may take the box's "
                                           "answers")
                                    .arg(port, holderName(), QString::number(heldBy.processId()));
    QVERIFY2(r.err.contains(warning), qPrintable(r.err));
}

void TestCli::resume_data()
{
    QTest::addColumn<QStringList>("range");   // --start and --count of both runs
    QTest::addColumn<bool>("header");
    QTest::addColumn<int>("badBlock");        // where the first run stops
    QTest::addColumn<int>("otherBox");        // the block in which the second box differs, -1: the same box
    QTest::addColumn<bool>("found");          // the resumed run finds the other box
    QTest::addColumn<int>("resumedFrom");     // -1: started again
    QTest::addColumn<QList<int>>("samples");  // kept blocks compared again before resumedFrom
    QTest::addColumn<QString>("name");

    const QList<int> none;
    QList<int> rangeSamples;
    for (int n = 5; n < 14; ++n)
        rangeSamples << n;
    QTest::newRow("whole flash stopped at block 900") << QStringList() << false << 900 << -1 << false << 899
                                                      << SamplesBefore899 << "KSF-2100.bin";
    QTest::newRow("with the KUP header") << QStringList() << true << 900 << -1 << false << 899 << SamplesBefore899
                                         << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin";
    QTest::newRow("a range") << QStringList{"--start", "5", "--count", "20"} << false << 15 << -1 << false << 14
                             << rangeSamples << "FlashDump.bin";
    QTest::newRow("another box, block 0 differs") << QStringList() << false << 900 << 0 << true << 899
                                                  << SamplesBefore899 << "KSF-2100.bin";
    QTest::newRow("another box, a sampled block differs") << QStringList() << false << 900 << 449 << true << 899
                                                          << SamplesBefore899 << "KSF-2100.bin";
    QTest::newRow("another box, block 899 differs") << QStringList() << false << 900 << 899 << true << 899
                                                    << SamplesBefore899 << "KSF-2100.bin";
    // What a resumed dump still trusts: the kept blocks it did not read again.
    QTest::newRow("another box, an unsampled block differs: not found") << QStringList() << false << 900 << 10
                                                                        << false << 899 << SamplesBefore899
                                                                        << "KSF-2100.bin";
    QTest::newRow("stopped at the first block") << QStringList() << false << 0 << -1 << false << -1 << none
                                                << "KSF-2100.bin";
}

// A dump that stopped at a bad block goes on from its .part: block 0 and kept
// blocks spread over the .part are read again and compared, then the blocks
// from the last good one on; a box with other data there leaves the .part alone.
void TestCli::resume()
{
    QFETCH(QStringList, range);
    QFETCH(bool, header);
    QFETCH(int, badBlock);
    QFETCH(int, otherBox);
    QFETCH(bool, found);
    QFETCH(int, resumedFrom);
    QFETCH(QList<int>, samples);
    QFETCH(QString, name);

    Bench bench;
    LoaderSim &first = bench.box(QStringLiteral("first"));
    first.setBadCheckBlock(badBlock);
    QStringList args = QStringList{"-o", bench.out.path(), "--json"} + range;
    if (header)
        args << "--header";
    Result r = tarvikDump.run(QStringList{"-p", bench.port("first")} + args);
    QCOMPARE(r.exitCode, 1);
    const QString part = bench.output(name + ".part");
    const QByteArray stopped = readFile(part);
    QVERIFY(!stopped.isEmpty());

    QByteArray image = LoaderSim::defaultImage();
    if (otherBox >= 0)
        image[otherBox * 1024 + 700] = char(image.at(otherBox * 1024 + 700) ^ 1);
    LoaderSim &again = bench.box(QStringLiteral("again"), image);
    r = tarvikDump.run(QStringList{"-p", bench.port("again"), "--resume", part, "--json"} + range);
    QVERIFY(r.finished);
    QVERIFY(bench.hostGone(again));
    QCOMPARE(again.deviations(), QStringList());
    const QJsonObject o = r.json.first();
    const int start = range.isEmpty() ? 0 : range.at(1).toInt();
    const int count = range.isEmpty() ? 1024 : range.at(3).toInt();
    if (found) {
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(o.value("result").toString(), QStringLiteral("not-same-box"));
        QVERIFY2(r.err.contains("not the same box, or its flash changed: start again from block 0"),
                 qPrintable(r.err));
        QCOMPARE(readFile(part), stopped);
        QVERIFY(!QFileInfo::exists(bench.output(name)));
        QVERIFY(again.received().endsWith(blockRequest(otherBox)));
        return;
    }
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(o.value("result").toString(), QStringLiteral("ok"));
    const QByteArray kup = header ? DumpName::headerText("KSF-2100", image).toLatin1() : QByteArray();
    QByteArray whole = kup + image.mid(start * 1024, count * 1024);
    if (otherBox >= 0) // the kept block of the first box stays
        whole = kup + LoaderSim::defaultImage().mid(start * 1024, count * 1024);
    QCOMPARE(readFile(bench.output(name)), whole);
    QVERIFY(!QFileInfo::exists(part));
    QCOMPARE(o.value("sha256").toString(), sha256(whole));
    QCOMPARE(o.value("bytes").toInteger(), whole.size());
    if (resumedFrom < 0) {
        QVERIFY(!o.contains("resumed_from"));
        QVERIFY2(r.err.contains("nothing worth keeping"), qPrintable(r.err));
        QCOMPARE(again.received(), wholeWire(start, count, true));
        return;
    }
    QCOMPARE(o.value("resumed_from").toInt(), resumedFrom);
    QCOMPARE(o.value("blocks").toInt(), int(samples.size()) + start + count - resumedFrom);
    QCOMPARE(o.value("compared_blocks").toInt(), samples.size() + 1);
    QCOMPARE(o.value("kept_blocks").toInt(), resumedFrom - start + 1);
    // The handshake as ever, the compared blocks, then the blocks from k-2 on.
    QCOMPARE(again.received(), resumedWire(samples, resumedFrom, start + count, true));
    QVERIFY2(r.err.contains(QStringLiteral(", continued from block %1 (%2 kept blocks compared again, %3 kept from "
                                           "the earlier run)")
                                    .arg(resumedFrom)
                                    .arg(samples.size() + 1)
                                    .arg(resumedFrom - start + 1)),
             qPrintable(r.err));
}

void TestCli::waitLimit_data()
{
    QTest::addColumn<bool>("answers");
    QTest::newRow("the box never answers") << false;
    QTest::newRow("the box answers in time") << true;
}

// --wait gives up on a box that never answers the handshake; one that does is
// read as ever.
void TestCli::waitLimit()
{
    QFETCH(bool, answers);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    if (!answers)
        sim.setStall(Point::Marker, 0);
    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--count", "4", "--wait",
                          answers ? "60" : "1", "--json"});
    QVERIFY(r.finished);
    const QJsonObject o = r.json.first();
    if (answers) {
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(o.value("result").toString(), QStringLiteral("ok"));
        return;
    }
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(o.value("result").toString(), QStringLiteral("no-answer"));
    QVERIFY2(r.err.contains(QStringLiteral("tarvik-dump: %1: no answer from the boot loader in 1 s: is the box "
                                           "in HOST - MODE?").arg(bench.port("boxA"))),
             qPrintable(r.err));
    QVERIFY(bench.hostGone(sim));
    QCOMPARE(sim.received(), Handshake);
}

void TestCli::blankBlocks_data()
{
    QTest::addColumn<QByteArray>("fills"); // one byte a block: its every byte; 'd' keeps the image's data
    QTest::addColumn<int>("blank");
    QTest::addColumn<int>("zero");
    QTest::addColumn<bool>("warned");

    QTest::newRow("erased flash") << QByteArray("\xFF\xFF\xFF\xFF") << 4 << 0 << true;
    QTest::newRow("zeros and erased") << QByteArray("\0\xFF\0\0", 4) << 1 << 3 << true;
    QTest::newRow("data among them") << QByteArray("\xFF\0d\xFF", 4) << 2 << 1 << false;
    QTest::newRow("data") << QByteArray("dddd") << 0 << 0 << false;
}

// Blocks that are all 0xFF or all 0x00 are counted; a run that read nothing
// else is warned about, since the box may not have given its flash.
void TestCli::blankBlocks()
{
    QFETCH(QByteArray, fills);
    QFETCH(int, blank);
    QFETCH(int, zero);
    QFETCH(bool, warned);

    QByteArray image = LoaderSim::defaultImage();
    for (int n = 0; n < fills.size(); ++n) {
        if (fills.at(n) != 'd')
            image.replace(n * 1024, 1024, QByteArray(1024, fills.at(n)));
    }
    Bench bench;
    bench.box(QStringLiteral("boxA"), image);
    const QString log = bench.output("run.log");
    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--count", "4", "--json", "--log", log});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json.first().value("blank_blocks").toInt(), blank);
    QCOMPARE(r.json.first().value("zero_blocks").toInt(), zero);
    const QString warning = "Warning: every block read is blank (all 0xFF) or zero (all 0x00)";
    QCOMPARE(r.err.contains(warning), warned);
    // The log says it after its last line, as the window's does.
    QCOMPARE(protocolOf(log).endsWith("Serial port closed.\r\n" + warning.toLatin1()
                                    + ": the box may not have given its flash.\r\n"),
             warned);
}

// A protocol log that cannot be written fails the run's report, however good
// the dump.
// A log that takes no more bytes: the comparison may be good, but what was
// asked for was not all written.
void TestCli::logCannotBeWritten()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString image = bench.dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(writeFile(image, sim.image().left(2 * 1024)));
    const QString log = bench.output(QStringLiteral("run.log"));
    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "--verify", image, "--count", "2", "--json", "--log", log}, {},
                         As::ThisUser, [](QProcess &process) {
                             process.setChildProcessModifier([] {
                                 // Files stop at 100 bytes: a write beyond fails (EFBIG).
                                 ::signal(SIGXFSZ, SIG_IGN);
                                 const rlimit limit{100, 100};
                                 ::setrlimit(RLIMIT_FSIZE, &limit);
                             });
                         });
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("file-error"));
    QVERIFY2(r.err.contains(QStringLiteral("Cannot write the log %1: ").arg(log)), qPrintable(r.err));
    QCOMPARE(readFile(log).size(), 100);
}

void TestCli::logSection_data()
{
    QTest::addColumn<QString>("kind");        // "read", "verify", "verify, block 2 differs", "resume"
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("badBlock");        // of the box; -1: none
    QTest::addColumn<QByteArray>("model");    // the box's; empty: the default one
    QTest::addColumn<QString>("zone");        // TZ of the program; empty: the test's
    QTest::addColumn<QStringList>("fields");  // "key: value" that the log holds; %o the output folder
    QTest::addColumn<QString>("protocolEnd"); // how its protocol lines end
    QTest::addColumn<QString>("sharer");      // the name of a process that has the port open too; empty: none

    const QString ok = TotalAsked + LogSuccess + LogClosed;
    const QStringList versions{"hw_version: 01.00.0A", "sw_version: 02.03.15"};
    const QStringList noVersions{"hw_version: -", "sw_version: -"};
    QTest::newRow("full read") << "read" << QStringList() << -1 << QByteArray() << "TVK-05:30"
                               << QStringList{"start: 0", "count: 1024", "header: no", "model: KSF-2100",
                                              "file: %o/KSF-2100.bin", "bytes: 1048576", "result: ok"} + versions
                               << ok << QString();
    QTest::newRow("with the KUP header")
        << "read" << QStringList{"--header"} << -1 << QByteArray() << QString()
        << QStringList{"header: yes", "file: %o/KSF-2100_HW01.00.0A_SW02.03.15_conv.bin", "result: ok"} + versions
        << ok << QString();
    QTest::newRow("a range from block 5")
        << "read" << QStringList{"--start", "5", "--count", "20"} << -1 << QByteArray() << QString()
        << QStringList{"start: 5", "count: 20", "file: %o/FlashDump.bin", "bytes: 20480"} + noVersions << ok << QString();
    QTest::newRow("a range from block 0") << "read" << QStringList{"--count", "4"} << -1 << QByteArray() << QString()
                                          << QStringList{"start: 0", "count: 4", "bytes: 4096"} + versions << ok << QString();
    QTest::newRow("check error") << "read" << QStringList{"--count", "16"} << 3 << QByteArray() << QString()
                                 << QStringList{"file: %o/FlashDump.bin.part", "bytes: 4096", "result: check-error",
                                                "error: CRC Error while receiving BLOCK: 0003"}
                                 << crcErrorLine(3) + LogClosed << QString();
    QTest::newRow("verify") << "verify" << QStringList{"--count", "4"} << -1 << QByteArray() << QString()
                            << QStringList{"verify: %o/saved.bin", "file: -", "differing_blocks: -",
                                           "result: identical"} + versions
                            << ok << QString();
    QTest::newRow("verify, block 2 differs")
        << "verify, block 2 differs" << QStringList{"--count", "4"} << -1 << QByteArray() << QString()
        << QStringList{"differing_blocks: 2", "result: different"} << ok << QString();
    // Stopped at block 10 of 16: blocks 0 to 8 compared again, then 9 on.
    QTest::newRow("resumed") << "resume" << QStringList{"--count", "16"} << 10 << QByteArray() << QString()
                             << QStringList{"resume: %o/FlashDump.bin.part", "start: 0", "count: 16",
                                            "file: %o/FlashDump.bin", "bytes: 16384", "resumed_from: 9",
                                            "compared_blocks: 10", "kept_blocks: 10", "result: ok"} + versions
                             << ok << QString();
    // A model cannot end its line and forge one of its own; Latin-1 text stays.
    QTest::newRow("garbled model") << "read" << QStringList{"--count", "2"} << -1
                                   << QByteArray("A\r\n# result: ok\n\x1b[2J\x85" "B\xE9") << QString()
                                   << QStringList{"model: A??# result: ok??[2J?B\u00e9", "result: ok"} << ok << QString();
    // Nor can a process's name: its line is quoted.
    QTest::newRow("port shared with a process named \"# result: ok\"")
            << "read" << QStringList{"--count", "2"} << -1 << QByteArray() << QString()
            << QStringList{"result: ok"} << ok << "# result: ok";
}

// Each run in the --log file: a header of what was asked, the protocol lines
// as ever, a footer of how it went, the same facts as the JSON line.
void TestCli::logSection()
{
    QFETCH(QString, kind);
    QFETCH(QStringList, args);
    QFETCH(int, badBlock);
    QFETCH(QByteArray, model);
    QFETCH(QString, zone);
    QFETCH(QStringList, fields);
    QFETCH(QString, protocolEnd);
    QFETCH(QString, sharer);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"), model.isEmpty() ? QByteArray() : LoaderSim::defaultImage(model));
    const QString port = bench.port(QStringLiteral("boxA"));
    const QString log = bench.dir.filePath(QStringLiteral("run.log"));
    QStringList runArgs{"-p", port, "-o", bench.out.path(), "--json", "--log", log};
    if (kind.startsWith(u"verify")) {
        QByteArray saved = blocks(sim, 0, 4);
        if (kind.endsWith(u"differs"))
            saved[2 * 1024 + 9] = char(saved.at(2 * 1024 + 9) ^ 1);
        QVERIFY(writeFile(bench.output("saved.bin"), saved));
        runArgs << "--verify" << bench.output("saved.bin");
    }
    if (kind == u"resume") {
        sim.setBadCheckBlock(badBlock);
        QCOMPARE(tarvikDump.run(QStringList{"-p", port, "-o", bench.out.path()} + args).exitCode, 1);
        sim.setBadCheckBlock(-1);
        runArgs << "--resume" << bench.output("FlashDump.bin.part");
    } else {
        sim.setBadCheckBlock(badBlock);
        runArgs += args;
    }

    QProcess sharedBy;
    if (!sharer.isEmpty())
        QVERIFY(holdShared(sharedBy, sim.slavePath(), sharer));
    const auto endSharer = qScopeGuard([&sharedBy] {
        sharedBy.closeWriteChannel();
        sharedBy.waitForFinished();
    });

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const Result r = tarvikDump.run(runArgs, {}, As::ThisUser, [&zone](QProcess &process) {
        if (zone.isEmpty())
            return;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TZ"), zone);
        process.setProcessEnvironment(environment);
    });
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);
    QVERIFY(r.finished);
    QCOMPARE(r.json.size(), 1);
    const QJsonObject o = r.json.first();

    const QList<LogSection> sections = logSections(readFile(log));
    QCOMPARE(sections.size(), 1);
    const LogSection &run = sections.first();
    QStringList headerKeys{"begin", "program", "device", "start", "count", "header"};
    if (kind != u"read")
        headerKeys << kind.section(u',', 0, 0);
    QCOMPARE(run.headerKeys(), headerKeys);
    QStringList footerKeys{"model", "hw_version", "sw_version", "file", "bytes", "sha256"};
    if (kind == u"resume")
        footerKeys << "resumed_from" << "compared_blocks" << "kept_blocks";
    if (kind.startsWith(u"verify"))
        footerKeys << "differing_blocks";
    footerKeys << "result";
    if (o.contains("error"))
        footerKeys << "error";
    QCOMPARE(run.footerKeys(), footerKeys << "end");
    for (const QString &field : std::as_const(fields)) {
        const QString key = field.section(QStringLiteral(": "), 0, 0);
        QCOMPARE(key + ": " + run.value(key), QString(field).replace(QStringLiteral("%o"), bench.out.path()));
    }

    // Local time with its offset, between the start and the end of the run.
    static const QRegularExpression time(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
    for (const QString key : {"begin", "end"}) {
        QVERIFY2(time.match(run.value(key)).hasMatch(), qPrintable(run.value(key)));
        const QDateTime at = QDateTime::fromString(run.value(key), Qt::ISODate);
        QVERIFY2(at >= before && at <= after, qPrintable(run.value(key)));
        if (!zone.isEmpty())
            QVERIFY(run.value(key).endsWith(QStringLiteral("+05:30")));
    }
    QVERIFY(QDateTime::fromString(run.value("begin"), Qt::ISODate) <= QDateTime::fromString(run.value("end"), Qt::ISODate));
    QCOMPARE(run.value("program"), QStringLiteral("tarvik-dump ") + QLatin1String(tarvik::Version));
    QCOMPARE(run.value("device"), port);
    QVERIFY2(run.protocol.startsWith(LogStart.toLatin1()), run.protocol.left(200).constData());
    QVERIFY2(run.protocol.endsWith(protocolEnd.toLatin1()), run.protocol.right(200).constData());
    if (!sharer.isEmpty()) {
        const QString quoted = QStringLiteral("> %1 (pid %2) also has %3 open: it may take the box's answers\r\n")
                                       .arg(sharer, QString::number(sharedBy.processId()), port);
        QVERIFY2(run.protocol.startsWith((LogStart + quoted).toLatin1()), run.protocol.left(300).constData());
    }

    // The JSON line says the same.
    const auto orDash = [](const QJsonValue &v) {
        if (v.isDouble())
            return QString::number(v.toInteger());
        return v.isString() ? v.toString() : QStringLiteral("-");
    };
    for (const QString key : {"hw_version", "sw_version", "start", "count", "file", "bytes", "sha256", "result"})
        QCOMPARE(orDash(o.value(key)), run.value(key));
    QVERIFY(o.value("start").isDouble() && o.value("count").isDouble());
    if (run.value("file") != u"-")
        QCOMPARE(run.value("sha256"), sha256(readFile(run.value("file"))));
}

void TestCli::logAppends_data()
{
    QTest::addColumn<bool>("planted");
    QTest::addColumn<QByteArray>("earlier"); // in the log before the first run
    QTest::addColumn<QByteArray>("kept");    // what stays of it before the first run's header

    QTest::newRow("a new file") << false << QByteArray() << QByteArray();
    QTest::newRow("earlier lines") << true << QByteArray("kept\r\n") << QByteArray("kept\r\n");
    QTest::newRow("an earlier run cut in the middle of a line")
        << true << QByteArray("REQUEST_1024DOWN:0005    ") << QByteArray("REQUEST_1024DOWN:0005    \r\n");
}

// Runs into one --log follow one another: nothing earlier is lost, and each
// run's header starts a line of its own.
void TestCli::logAppends()
{
    QFETCH(bool, planted);
    QFETCH(QByteArray, earlier);
    QFETCH(QByteArray, kept);

    Bench bench;
    bench.box(QStringLiteral("boxA"));
    const QString log = bench.output(QStringLiteral("run.log"));
    if (planted)
        QVERIFY(writeFile(log, earlier));
    const QStringList args{"-p", bench.port("boxA"), "-o", bench.out.path(), "--log", log};
    QCOMPARE(tarvikDump.run(args + QStringList{"--count", "2"}).exitCode, 0);
    const QByteArray first = readFile(log);
    QVERIFY2(first.startsWith(kept + "# begin: "), first.left(200).constData());
    QVERIFY(QFile::remove(bench.output("FlashDump.bin"))); // no earlier dump to keep in the second run's lines
    QCOMPARE(tarvikDump.run(args + QStringList{"--count", "3"}).exitCode, 0);
    const QByteArray both = readFile(log);
    QVERIFY(both.startsWith(first));

    const QList<LogSection> sections = logSections(both);
    QCOMPARE(sections.size(), 2);
    QCOMPARE(sections.at(0).value("count"), QStringLiteral("2"));
    QCOMPARE(sections.at(1).value("count"), QStringLiteral("3"));
    QCOMPARE(sections.at(0).protocol, wholeLog(0, 2, true).toLatin1());
    QCOMPARE(sections.at(1).protocol, wholeLog(0, 3, true).toLatin1());
}

void TestCli::liveDisplay_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("term"); // empty: TERM unset
    QTest::addColumn<QString>("locale");
    QTest::addColumn<bool>("live");

    const QStringList ttyUsb{"ttyUSB0", "ttyUSB1", "ttyUSB2"};
    const QStringList byId{"usb-FTDI_FT232R_A1B2-if00-port0", "usb-FTDI_FT232R_C3D4-if00-port0",
                           "usb-FTDI_FT232R_E5F6-if00-port0"};
    const QString utf8 = QStringLiteral("C.UTF-8");
    for (const int columns : {40, 60, 80, 120}) {
        QTest::addRow("%d columns, ttyUSB", columns) << columns << ttyUsb << "xterm" << utf8 << true;
        QTest::addRow("%d columns, by-id", columns) << columns << byId << "xterm" << utf8 << true;
    }
    QTest::newRow("TERM=dumb") << 80 << byId << "dumb" << utf8 << false;
    QTest::newRow("TERM unset") << 80 << byId << "" << utf8 << false;
    QTest::newRow("LC_ALL=C") << 80 << byId << "xterm" << "C" << true;
}

// Three boxes on a terminal, the middle one failing half-way: every live line
// fits the terminal, the failed box's line keeps how far it got, the failure
// stays above the live lines, and the screen ends with the tally alone (the
// summary lines on stdout say the rest). A dumb terminal gets the plain lines
// of a pipe, and the same tally.
void TestCli::liveDisplay()
{
    QFETCH(int, columns);
    QFETCH(QStringList, names);
    QFETCH(QString, term);
    QFETCH(QString, locale);
    QFETCH(bool, live);

    Bench bench;
    QStringList arguments{"-o", bench.out.path(), "--count", "32"};
    for (const QString &name : names) {
        // Paced, so that the lines are redrawn while the boxes are read.
        bench.box(name).setBaudRate(230400);
        arguments << "-p" << bench.port(name);
    }
    bench.sims.at(1)->setBadCheckBlock(16);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("COLUMNS"));
    environment.insert(QStringLiteral("LC_ALL"), locale);
    if (term.isEmpty())
        environment.remove(QStringLiteral("TERM"));
    else
        environment.insert(QStringLiteral("TERM"), term);
    StderrTerminal terminal(columns);

    const Result r = tarvikDump.run(arguments, {}, As::ThisUser, terminal.attach(environment));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    terminal.take();
    const QByteArray bytes = terminal.bytes;
    const QString failure = QStringLiteral("tarvik-dump: %1: ").arg(bench.port(names.at(1))) + crcErrorLine(16).trimmed();
    if (locale == u"C") {
        for (const char c : bytes)
            QVERIFY2(uchar(c) < 0x80, bytes.constData());
    }

    const QString tally = QStringLiteral("3 boxes: 2 done, 1 failed");
    if (!live) {
        QVERIFY2(!bytes.contains('\x1b'), bytes.constData());
        const QStringList lines = writtenLines(bytes);
        QVERIFY2(lines.contains(failure), bytes.constData());
        for (const int box : {0, 2}) {
            const QString done = bench.port(names.at(box)) + QStringLiteral(": 100 % (32 / 32 blocks");
            QVERIFY2(lines.filter(done).size() == 1, bytes.constData());
        }
        QVERIFY2(lines.filter(tally).size() == 1, bytes.constData());
        return;
    }

    const QStringList written = writtenLines(bytes);
    for (const QString &line : written) {
        if (!line.startsWith(QStringLiteral("tarvik-dump: ")))
            QVERIFY2(line.size() <= columns - 1, qPrintable(line));
    }
    for (int box = 0; box < 3; ++box) {
        QVERIFY2(!written.filter(names.at(box).right(12)).filter(QStringLiteral("KSF-2100")).isEmpty(),
                 bytes.constData());
    }
    if (columns >= 80) {
        QVERIFY2(!written.filter(names.at(1).right(12))
                          .filter(QStringLiteral("KSF-2100")).filter(QStringLiteral("  check-error at block 0016, 16 / 32"))
                          .isEmpty(),
                 bytes.constData());
    }
    Screen screen{columns};
    screen.feed(bytes);
    const QStringList lines = screen.lines();
    QVERIFY2(lines.filter(QStringLiteral("tarvik-dump: ") + bench.port(names.at(1)).left(columns / 2)).size() == 1,
             qPrintable(lines.join(u'\n')));
    QVERIFY2(lines.filter(QStringLiteral("KSF-2100")).isEmpty(), qPrintable(lines.join(u'\n')));
    QCOMPARE(lines.constLast(), tally);
}

// A terminal made narrower while a box is read gets its live line fitted to
// the new width at once, not only at the next progress.
void TestCli::liveDisplayFollowsResize()
{
    const QString name = QStringLiteral("usb-FTDI_FT232R_A1B2-if00-port0");
    Bench bench;
    LoaderSim &sim = bench.box(name);
    sim.setStall(Point::Block, 5); // the line stays as it is until the run is interrupted
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("COLUMNS"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm"));
    StderrTerminal terminal(120);
    qsizetype resizedAt = -1;

    const Result r = tarvikDump.run({"-p", bench.port(name), "-o", bench.out.path(), "--count", "32", "--stall-ms", "600000"},
                         [&](QProcess &process) {
                             QTRY_VERIFY_WITH_TIMEOUT(
                                 terminal.bytes.contains(name.toUtf8() + "  KSF-2100      [")
                                     && terminal.bytes.contains("5 / 32 blocks"),
                                 RunMs);
                             resizedAt = terminal.bytes.size();
                             terminal.resize(50);
                             ::kill(pid_t(process.processId()), SIGWINCH);
                             QTRY_VERIFY_WITH_TIMEOUT(terminal.bytes.mid(resizedAt).contains("\u2026A1B2-if00-port0  KSF-2100"),
                                                      RunMs);
                             ::kill(pid_t(process.processId()), SIGINT);
                         },
                         As::ThisUser, terminal.attach(environment));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 130);
    terminal.take();
    Screen screen{50};
    screen.feed(terminal.bytes.mid(resizedAt));
    const QStringList lines = screen.lines();
    QVERIFY2(lines.filter(QStringLiteral("KSF-2100")).size() == 1, qPrintable(lines.join(u'\n')));
    const QString last = lines.constLast();
    QVERIFY2(last.startsWith(u'\u2026') && last.contains(QStringLiteral("A1B2-if00-port0  KSF-2100  interrupted"))
                 && last.size() <= 49,
             qPrintable(last));
}

void TestCli::liveDisplayHeight_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("6 rows") << 6;
    QTest::newRow("24 rows") << 24;
    QTest::newRow("one row") << 1;
}

// Eight boxes, one failing half-way: the live lines never take more rows than
// the terminal has, so none of them scrolls away into its history; every
// tally counts all boxes, and the run ends with the tally alone. A terminal of
// one row gets the plain lines of a pipe.
void TestCli::liveDisplayHeight()
{
    QFETCH(int, rows);
    constexpr int Columns = 100;
    constexpr int Boxes = 8;
    Bench bench;
    QStringList arguments{"-o", bench.out.path(), "--count", "32"};
    for (int i = 0; i < Boxes; ++i) {
        const QString name = QStringLiteral("ttyUSB%1").arg(i);
        // Paced, so that the lines are redrawn while the boxes are read.
        bench.box(name).setBaudRate(230400);
        arguments << "-p" << bench.port(name);
    }
    bench.sims.at(3)->setBadCheckBlock(16);
    StderrTerminal terminal(Columns, rows);

    const Result r = tarvikDump.run(arguments, {}, As::ThisUser, terminal.attach(liveEnvironment()));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    terminal.take();
    const QByteArray &bytes = terminal.bytes;
    const QString failure = QStringLiteral("tarvik-dump: %1: ").arg(bench.port("ttyUSB3")) + crcErrorLine(16).trimmed();
    const QString tally = QStringLiteral("8 boxes: 7 done, 1 failed");
    const QStringList written = writtenLines(bytes);
    if (rows < 2) {
        QVERIFY2(!bytes.contains('\x1b'), bytes.constData());
        for (int i = 0; i < Boxes; ++i) {
            if (i != 3) {
                const QString done = bench.port(QStringLiteral("ttyUSB%1").arg(i)) + QStringLiteral(": 100 % (32 / 32 blocks");
                QVERIFY2(written.filter(done).size() == 1, bytes.constData());
            }
        }
        QVERIFY2(written.contains(failure), bytes.constData());
        QCOMPARE(written.at(written.size() - 2), tally);
        return;
    }

    int tallies = 0;
    for (const QString &line : written) {
        const QHash<QString, int> counts = tallyCounts(line, Boxes);
        if (counts.isEmpty())
            continue;
        ++tallies;
        int sum = 0;
        for (const int n : counts)
            sum += n;
        QVERIFY2(sum == Boxes, qPrintable(line));
    }
    QVERIFY2(tallies > 1, bytes.constData());
    Screen screen{Columns, rows};
    screen.feed(bytes);
    for (const QString &line : std::as_const(screen.scrolledOff))
        QVERIFY2(line.isEmpty() || line.startsWith(QStringLiteral("tarvik-dump: ")), qPrintable(line));
    QVERIFY2((screen.scrolledOff + screen.rows).contains(failure), bytes.constData());
    const QStringList lines = screen.lines();
    QVERIFY2(lines.filter(QStringLiteral(" / 32")).isEmpty(), qPrintable(lines.join(u'\n')));
    QVERIFY2(lines.filter(QStringLiteral("8 boxes: ")).size() == 1, qPrintable(lines.join(u'\n')));
    QCOMPARE(lines.constLast(), tally);
}

void TestCli::interruptedOnce_data()
{
    QTest::addColumn<bool>("terminal"); // stderr on a terminal, else a pipe
    QTest::newRow("terminal of 24 rows made 6") << true;
    QTest::newRow("pipe") << false;
}

// Ctrl+C with eight boxes at work: each box is said to be interrupted once,
// by its summary line, and the run ends with the tally. On a terminal made
// shorter meanwhile the live lines are fitted to its new height at once.
void TestCli::interruptedOnce()
{
    QFETCH(bool, terminal);
    constexpr int Columns = 100;
    constexpr int Boxes = 8;
    Bench bench;
    QStringList arguments{"-o", bench.out.path(), "--count", "32", "--stall-ms", "600000"};
    std::vector<std::unique_ptr<QSignalSpy>> served;
    for (int i = 0; i < Boxes; ++i) {
        const QString name = QStringLiteral("ttyUSB%1").arg(i);
        LoaderSim &sim = bench.box(name);
        sim.setStall(Point::Block, 5); // the lines stay as they are until the run is interrupted
        served.push_back(std::make_unique<QSignalSpy>(&sim, &LoaderSim::blockServed));
        arguments << "-p" << bench.port(name);
    }
    StderrTerminal pty(Columns, 24);
    Screen screen{Columns, 24};
    qsizetype shrunkAt = 0;
    const auto allServed = [&served] {
        return std::all_of(served.cbegin(), served.cend(), [](const auto &spy) { return spy->count() >= 5; });
    };
    // All eight lines at their fifth block, the tally below them.
    const auto allAtFifthBlock = [&pty] {
        Screen shown{Columns, 24};
        shown.feed(pty.bytes);
        const QStringList lines = shown.lines();
        return lines.filter(QStringLiteral("5 / 32 blocks")).size() == Boxes
               && lines.constLast() == QStringLiteral("8 boxes: 8 reading");
    };

    const Result r = tarvikDump.run(
            arguments,
            [&](QProcess &process) {
                QTRY_VERIFY_WITH_TIMEOUT(allServed(), RunMs);
                if (terminal) {
                    // All eight lines at their fifth block, the tally below them.
                    QTRY_VERIFY_WITH_TIMEOUT(allAtFifthBlock(), RunMs);
                    screen.feed(pty.bytes);
                    screen.shrink(6);
                    screen.scrolledOff.clear(); // the terminal's own doing
                    shrunkAt = pty.bytes.size();
                    pty.resize(Columns, 6);
                    ::kill(pid_t(process.processId()), SIGWINCH);
                    QTRY_VERIFY_WITH_TIMEOUT(pty.bytes.mid(shrunkAt).contains("8 boxes: 8 reading"), RunMs);
                }
                ::kill(pid_t(process.processId()), SIGINT);
            },
            As::ThisUser, liveStderr(pty, terminal));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 130);
    const QString tally = QStringLiteral("8 boxes: 8 interrupted");
    QStringList said = r.out.split(u'\n');
    if (terminal) {
        pty.take();
        screen.feed(pty.bytes.mid(shrunkAt));
        for (const QString &line : std::as_const(screen.scrolledOff))
            QVERIFY2(line.trimmed().isEmpty(), qPrintable(line));
        const QStringList lines = screen.lines();
        QCOMPARE(lines, QStringList{tally});
        said += lines;
    } else {
        QVERIFY2(r.err.endsWith(tally + u'\n'), qPrintable(r.err));
        said += r.err.split(u'\n');
    }
    for (int i = 0; i < Boxes; ++i) {
        const QString port = bench.port(QStringLiteral("ttyUSB%1").arg(i));
        QVERIFY2(said.filter(port).filter(QStringLiteral("interrupted")).size() == 1, qPrintable(said.join(u'\n')));
        QVERIFY2(said.filter(port + QStringLiteral(": interrupted, ")).size() == 1, qPrintable(said.join(u'\n')));
    }
}

void TestCli::waitingLine_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("waitSeconds");
    QTest::addColumn<QString>("seconds"); // shown at least once
    QTest::newRow("live line") << true << 3 << "[12]";
    // The plain lines say it every ten seconds.
    QTest::newRow("plain line") << false << 11 << "10";
}

// A box that never answers: its line shows the seconds waited as they go by,
// and how to get the box to answer.
void TestCli::waitingLine()
{
    QFETCH(bool, terminal);
    QFETCH(int, waitSeconds);
    QFETCH(QString, seconds);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    sim.setStall(Point::Marker, 0);
    StderrTerminal pty(120);

    const Result r = tarvikDump.run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--wait",
                                     QString::number(waitSeconds)},
                                    {}, As::ThisUser, liveStderr(pty, terminal));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    pty.take();
    const QStringList lines = terminal ? writtenLines(pty.bytes) : r.err.split(u'\n');
    const QString start = terminal ? QStringLiteral("boxA  ") : QStringLiteral("tarvik-dump: %1: ").arg(bench.port("boxA"));
    const QRegularExpression waiting(u'^' + QRegularExpression::escape(start) + QStringLiteral("waiting for the boot loader \u00B7 ")
                                     + seconds + QStringLiteral(" s \u00B7 put the box into its HOST - MODE$"));
    QVERIFY2(!lines.filter(waiting).isEmpty(), qPrintable(lines.join(u'\n')));
}

void TestCli::resumedProgress_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("live line") << true;
    QTest::newRow("plain lines") << false;
}

// A resumed dump of the whole flash counts in the flash's blocks, from those
// its .part kept: 899 / 1024, never from 0 nor of the blocks asked for.
void TestCli::resumedProgress()
{
    QFETCH(bool, terminal);
    Bench bench;
    bench.box(QStringLiteral("first")).setBadCheckBlock(900);
    QCOMPARE(tarvikDump.run({"-p", bench.port("first"), "-o", bench.out.path()}).exitCode, 1);
    // Paced, so that the line is drawn while the box is read.
    bench.box(QStringLiteral("again")).setBaudRate(921600);
    StderrTerminal pty(120);

    const Result r = tarvikDump.run({"-p", bench.port("again"), "--resume", bench.output("KSF-2100.bin.part")}, {},
                                    As::ThisUser, liveStderr(pty, terminal));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    pty.take();
    const QString text = terminal ? QString::fromUtf8(pty.bytes) : r.err;
    const QRegularExpression count(QStringLiteral("(\\d+) / (\\d+) blocks"));
    QList<int> counted;
    for (auto it = count.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        QVERIFY2(m.captured(2) == u"1024", qPrintable(text));
        counted << m.captured(1).toInt();
    }
    QVERIFY2(!counted.isEmpty() && *std::min_element(counted.cbegin(), counted.cend()) >= 899, qPrintable(text));
    QVERIFY2(counted.count(1024) < counted.size(), qPrintable(text));
    if (!terminal) // the first plain line is at the eighth tenth
        QVERIFY2(text.contains(QStringLiteral("%1: 80 % (899 / 1024 blocks").arg(bench.port("again"))), qPrintable(text));
}

QTEST_GUILESS_MAIN(TestCli)
namespace {

// Blocks until the program has its port open and waits for the boot loader,
// without serving the boxes meanwhile: they stay silent until this returns.
bool waitUntilWaitingForLoader(QProcess &process)
{
    process.setReadChannel(QProcess::StandardError);
    for (int tries = 0; tries < 100; ++tries) {
        if (process.peek(1 << 20).contains("waiting for the boot loader"))
            return true;
        if (!process.waitForReadyRead(1000) && process.state() != QProcess::Running)
            return false;
    }
    return false;
}

QByteArray withLine(QByteArray record, const QByteArray &key, const QByteArray &value)
{
    const QRegularExpression line(QStringLiteral("(^|\n)%1=[^\n]*").arg(QString::fromLatin1(key)));
    return QString::fromUtf8(record).replace(line, QStringLiteral("\\1%1=%2").arg(QString::fromLatin1(key),
                                                                                   QString::fromLatin1(value))).toUtf8();
}

} // namespace

void TestCli::forgedStoppedDump_data()
{
    QTest::addColumn<QString>("change");  // made to the stopped dump before (or while) it is continued
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");    // PART stands for the .part

    const QString disagrees = QStringLiteral("PART.state does not agree with its .part: ");
    QTest::newRow("count forged to 600") << "count=600" << 2 << disagrees + "its range (600 blocks from block 0)";
    QTest::newRow("count forged to 0") << "count=0" << 2 << disagrees + "it names blocks 0 to -1";
    QTest::newRow("range past the flash") << "start=500 count=1000" << 2 << disagrees + "it names blocks 500 to 1499";
    QTest::newRow("range that the name does not hold") << "count=1000" << 2
                                                       << disagrees + "its range (1000 blocks from block 0) is not one that the name of the .part holds";
    QTest::newRow("whole_blocks beyond the .part") << "whole_blocks=950" << 2
                                                   << disagrees + "it counts 950 whole blocks, and the .part holds 901";
    QTest::newRow("another user's record") << "owner" << 2
                                           << "PART.state is another user's file: it is not used.\n"
                                              "move that file away, or choose another folder with -o";
    QTest::newRow("a hard-linked record") << "hard link" << 2
                                          << "PART.state is a file with more than one name (a hard link): it is not used.";
    QTest::newRow(".part replaced after planning") << "replace part" << 1
                                                   << "PART changed since it was read: nothing was cut";
}

// A stopped dump is continued only as its own record and .part tell, and
// only the .part that was planned: whatever else is found, nothing is cut and
// no dump is made.
void TestCli::forgedStoppedDump()
{
    QFETCH(QString, change);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    Bench bench;
    bench.box(QStringLiteral("first")).setBadCheckBlock(900);
    Result r = tarvikDump.run({"-p", bench.port("first"), "-o", bench.out.path()});
    QCOMPARE(r.exitCode, 1);
    const QString part = bench.output("KSF-2100.bin.part");
    const QString record = part + ".state";
    QCOMPARE(readFile(part).size(), 901 * 1024);

    QByteArray recordText = readFile(record);
    for (const QString &pair : change.split(u' ')) {
        if (pair.contains(u'='))
            recordText = withLine(recordText, pair.section(u'=', 0, 0).toLatin1(), pair.section(u'=', 1).toLatin1());
    }
    QVERIFY(writeFile(record, recordText));
    if (change == u"owner")
        QCOMPARE(::chown(QFile::encodeName(record).constData(), ordinaryUserId(), ordinaryGroupId()), 0);
    if (change == u"hard link")
        QCOMPARE(::link(QFile::encodeName(record).constData(), QFile::encodeName(bench.dir.filePath("record-link")).constData()), 0);
    // Another stopped dump of the same size, put in place while the box is silent.
    const QByteArray otherPart = QByteArray(901 * 1024, '\x5a');
    const QString otherPath = bench.output("other.part");
    if (change == u"replace part")
        QVERIFY(writeFile(otherPath, otherPart));

    LoaderSim &again = bench.box(QStringLiteral("again"));
    const QByteArray partBefore = change == u"replace part" ? otherPart : readFile(part);
    const QByteArray recordBefore = readFile(record);
    r = tarvikDump.run({"-p", bench.port("again"), "--resume", part}, [&](QProcess &process) {
        if (change != u"replace part")
            return;
        QVERIFY(waitUntilWaitingForLoader(process));
        QCOMPARE(::rename(QFile::encodeName(otherPath).constData(), QFile::encodeName(part).constData()), 0);
    });
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(QString(says).replace("PART", part)), qPrintable(r.err));
    QVERIFY(!r.err.contains("Try \"tarvik-dump --help\""));
    QCOMPARE(readFile(part), partBefore);
    QCOMPARE(readFile(record), recordBefore);
    QVERIFY(!QFileInfo::exists(bench.output("KSF-2100.bin")));
    if (exitCode == 2)
        QVERIFY(again.received().isEmpty());
}

// The folder is the one that was checked: replaced by a link to another
// folder while the box is silent, the dump still goes into the folder itself.
void TestCli::folderSwappedWhileWaiting()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("box"));
    const QString chosen = bench.output("bdir");
    const QString elsewhere = bench.output("rootonly");
    QVERIFY(QDir().mkdir(chosen) && QDir().mkdir(elsewhere));
    const Result r = tarvikDump.run({"-p", bench.port("box"), "-o", chosen}, [&](QProcess &process) {
        QVERIFY(waitUntilWaitingForLoader(process));
        QVERIFY(QDir().rename(chosen, chosen + ".moved"));
        QVERIFY(QFile::link(elsewhere, chosen));
    });
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    QCOMPARE(readFile(chosen + ".moved/KSF-2100.bin"), sim.image());
}

void TestCli::nextStepsWork_data()
{
    QTest::addColumn<QString>("first");   // how the first run ends: "bad total", "name taken"
    QTest::addColumn<QString>("says");    // the next step printed after the second run
    QTest::addColumn<bool>("follow");     // the printed command is run and reads the box whole

    QTest::newRow("failed total: start again") << "bad total"
                                               << ", start again with: tarvik-dump -p DEVICE -o OUT --restart" << true;
    QTest::newRow("another user's file at the name") << "name taken"
                                                     << ", move that file away, or choose another folder with -o"
                                                     << false;
}

// Every next step that the program prints is one that it then accepts.
void TestCli::nextStepsWork()
{
    QFETCH(QString, first);
    QFETCH(QString, says);
    QFETCH(bool, follow);

    Bench bench;
    LoaderSim &box = bench.box(QStringLiteral("box"));
    const QString dump = bench.output("KSF-2100.bin");
    if (first == u"bad total")
        box.setBadTotal(true);
    if (first == u"name taken") {
        QVERIFY(writeFile(dump, "theirs"));
        QCOMPARE(::chown(QFile::encodeName(dump).constData(), ordinaryUserId(), ordinaryGroupId()), 0);
    }
    Result r = tarvikDump.run({"-p", bench.port("box"), "-o", bench.out.path()});
    QCOMPARE(r.exitCode, 1);
    if (first == u"bad total") {
        // The same command again meets the stopped dump.
        box.setBadTotal(false);
        r = tarvikDump.run({"-p", bench.port("box"), "-o", bench.out.path()});
        QCOMPARE(r.exitCode, 1);
    }
    const QString step = QString(says).replace("DEVICE", bench.port("box"))
                                 .replace("OUT", QDir(bench.out.path()).absolutePath());
    QVERIFY2(r.out.contains(step), qPrintable(r.out));
    QVERIFY2(!r.out.contains("--resume"), qPrintable(r.out));
    if (!follow)
        return;
    const QString command = step.section(u':', 1).trimmed();
    r = tarvikDump.run(QProcess::splitCommand(command).mid(1));
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readFile(dump), box.image());
}

#include "tst_cli.moc"
