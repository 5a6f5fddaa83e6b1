// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump end to end: the built program as a process, each box a simulated
// boot loader on a pseudo-terminal served by this test's event loop.
#include "dumpfile.h"
#include "loadersim.h"
#include "ordinaryuser.h"
#include "wirelog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
#include <sys/stat.h>
#include <unistd.h>

using tarvik::DumpFile;
using tarvik::LoaderSim;
using Point = LoaderSim::Point;

namespace {

constexpr int RunMs = 120000; // an upper bound for a few 1 MiB reads on a loaded machine
const QString Program = QStringLiteral(TARVIK_DUMP);
const QString TestStallMs = QStringLiteral("300");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// Simulated boxes, each reached through a link named after the box in the
// test's folder, and an output folder.
struct Bench {
    QTemporaryDir dir;
    QTemporaryDir out;
    std::vector<std::unique_ptr<LoaderSim>> sims;
    std::vector<std::unique_ptr<QSignalSpy>> hostClosed;

    // A box serving `image` (the default one when empty) at dir/<name>.
    LoaderSim &box(const QString &name, const QByteArray &image = QByteArray())
    {
        auto sim = std::make_unique<LoaderSim>();
        sim->setImage(image.isEmpty() ? LoaderSim::defaultImage() : image);
        if (!sim->open() || !QFile::link(sim->slavePath(), port(name)))
            qFatal("cannot set up the simulated box %s", qPrintable(name));
        hostClosed.push_back(std::make_unique<QSignalSpy>(sim.get(), &LoaderSim::hostClosed));
        sims.push_back(std::move(sim));
        return *sims.back();
    }
    // Whether the box has seen its host close the device, so that every byte
    // the program sent has been taken in.
    bool hostGone(const LoaderSim &sim)
    {
        for (size_t i = 0; i < sims.size(); ++i) {
            if (sims[i].get() == &sim)
                return hostClosed[i]->count() > 0 || hostClosed[i]->wait(5000);
        }
        return false;
    }
    QString port(const QString &name) const { return dir.filePath(name); }
    QString output(const QString &name) const { return out.filePath(name); }
    QStringList files() const { return QDir(out.path()).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot); }
};

struct Result {
    int exitCode = -1;
    QString out;
    QString err;
    QList<QJsonObject> json;
    bool finished = false;

    QJsonObject box(const QString &port) const
    {
        for (const QJsonObject &o : json) {
            if (o.value(QStringLiteral("port")).toString() == port)
                return o;
        }
        return {};
    }
};

// Runs the program to its end while the boxes are served. `whileRunning` is
// called once the process has started.
enum class As { ThisUser, OrdinaryUser };

Result run(const QStringList &arguments, const std::function<void(QProcess &)> &whileRunning = {},
           As as = As::ThisUser, const std::function<void(QProcess &)> &beforeStart = {})
{
    Result r;
    QProcess process;
    const Command command = as == As::OrdinaryUser ? ordinaryUserCommand(Program, arguments)
                                                   : Command{Program, arguments};
    if (beforeStart)
        beforeStart(process);
    process.start(command.program, command.arguments);
    if (!process.waitForStarted())
        return r;
    QSignalSpy finished(&process, &QProcess::finished);
    if (whileRunning)
        whileRunning(process);
    r.finished = finished.count() > 0 || finished.wait(RunMs);
    if (!r.finished) {
        process.kill();
        process.waitForFinished();
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    r.out = QString::fromUtf8(process.readAllStandardOutput());
    r.err = QString::fromUtf8(process.readAllStandardError());
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
        if (doc.isObject())
            r.json << doc.object();
    }
    return r;
}

// The program's stderr on a pseudo-terminal of a set width. What the program
// writes there is collected while the test's event loop runs.
struct StderrTerminal {
    int master = -1;
    int slave = -1;
    QByteArray bytes;
    std::unique_ptr<QSocketNotifier> notifier;

    explicit StderrTerminal(int columns)
    {
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
            qFatal("cannot open a pseudo-terminal");
        ::fcntl(master, F_SETFD, FD_CLOEXEC);
        ::fcntl(slave, F_SETFD, FD_CLOEXEC);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        resize(columns);
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

    void resize(int columns)
    {
        winsize size{};
        size.ws_col = ushort(columns);
        size.ws_row = 50;
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
// at the right edge, CR, LF, cursor up, erase line and erase below.
struct Screen {
    int columns;
    QStringList rows{QString()};
    int row = 0;
    int column = 0;

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
        if (++row == rows.size())
            rows.append(QString());
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

QByteArray blocks(const LoaderSim &sim, int start, int count)
{
    QByteArray data;
    for (int n = start; n < start + count; ++n)
        data += sim.block(n);
    return data;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    void fullRead_data();
    void fullRead();
    void failures_data();
    void failures();
    void badArguments_data();
    void badArguments();
    void informationOptions();
    void threeBoxesOneFailing();
    void sameModel_data();
    void sameModel();
    void keepsEarlierDump();
    void plantedPart_data();
    void plantedPart();
    void jsonEscapesControls();
    void verify_data();
    void verify();
    void interrupt_data();
    void interrupt();
    void lockedFile();
    void openRefusedToOrdinaryUser_data();
    void openRefusedToOrdinaryUser();
    void liveDisplay_data();
    void liveDisplay();
    void liveDisplayFollowsResize();
};

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

    const Result r = run(args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    QVERIFY(bench.hostGone(sim));
    QCOMPARE(sim.deviations(), QStringList());

    const QString model = QStringLiteral("KSF-2100");
    const QString name = DumpFile::fileName(0, 1024, header, model, image);
    QCOMPARE(name, header ? QStringLiteral("KSF-2100_HW01.00.0A_SW02.03.15_conv.bin") : QStringLiteral("KSF-2100.bin"));
    const QByteArray expected =
            (header ? DumpFile::headerText(model, image).toLatin1() : QByteArray()) + image;
    QCOMPARE(readFile(bench.output(name)), expected);
    QCOMPARE(QFile::encodeName(readFile(bench.output(QStringLiteral("run.log")))),
             wholeLog(0, 1024, true).toLatin1());

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
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("wireEnd"); // the last bytes the box received
    QTest::addColumn<int>("fileBlocks");     // whole blocks in FlashDump.bin.part; -1: no file

    QTest::newRow("wrong check byte") << "check" << 1 << "check-error"
                                      << "CRC Error while receiving BLOCK: 0005" << blockRequest(5) << 6;
    QTest::newRow("wrong total") << "total" << 1 << "total-mismatch" << "TOTALCRC Error! (expected "
                                 << QByteArray("REQUEST_TOTALCRC\rUPGRADE_SUCCESS\r\n") << 16;
    QTest::newRow("stall") << "stall" << 1 << "timeout" << "Timeout while receiving BLOCK: 0003"
                           << blockRequest(3) << 3;
    QTest::newRow("extra bytes") << "extra" << 1 << "unexpected-data"
                                 << "Unexpected data while receiving BLOCK: 0002" << blockRequest(2) << 2;
    QTest::newRow("adapter pulled") << "hang-up" << 1 << "port-lost" << "Serial port lost: " << blockRequest(4)
                                    << 4;
    QTest::newRow("missing port") << "missing" << 1 << "open-failed" << "Serial port %1 not present."
                                  << QByteArray() << -1;
    QTest::newRow("a folder in the way of the dump file")
        << "file" << 1 << "file-error" << "%o/FlashDump.bin.part is a folder: remove it, or choose another folder."
        << blockRequest(0) << -1;
}

// Each failure: its exit code, its result, one line on stderr naming the
// device and the reason, and nothing sent to the box after the stop.
void TestCli::failures()
{
    QFETCH(QString, fault);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    QFETCH(QString, line);
    QFETCH(QByteArray, wireEnd);
    QFETCH(int, fileBlocks);

    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    QString port = bench.port(QStringLiteral("boxA"));
    if (fault == "check")
        sim.setBadCheckBlock(5);
    else if (fault == "total")
        sim.setBadTotal(true);
    else if (fault == "stall")
        sim.setStall(Point::Block, 3, 100);
    else if (fault == "extra")
        sim.setExtraAfterReply(Point::Block, 2, QByteArrayLiteral("\r\nOK\r\n"));
    else if (fault == "hang-up")
        sim.setHangUp(Point::Block, 4, 10);
    else if (fault == "missing")
        port = bench.port(QStringLiteral("ttyGone"));
    else if (fault == "file")
        QVERIFY(QDir(bench.out.path()).mkdir(QStringLiteral("FlashDump.bin.part")));

    QStringList arguments{"-p", port, "-o", bench.out.path(), "--count", "16", "--json"};
    // Only where the stall is the fault: elsewhere a busy machine must not pass for one.
    if (fault == "stall")
        arguments << "--stall-ms" << TestStallMs;
    const Result r = run(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.json.size(), 1);
    QCOMPARE(r.json.first().value("result").toString(), result);
    line.replace(QStringLiteral("%o"), bench.out.path()); // the output folder
    const QString expectedLine = QStringLiteral("tarvik-dump: %1: %2").arg(port, line.contains("%1") ? line.arg(port) : line);
    QVERIFY2(r.err.contains(expectedLine), qPrintable(r.err));

    if (fault != "missing") {
        if (fault != "hang-up")
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
    QTest::newRow("count negative") << QStringList{"-p", box, "--count", "-1"}
                                    << "The number of blocks must be a whole number from 0 to 32767.";
    QTest::newRow("last block beyond 32767") << QStringList{"-p", box, "--start", "32767", "--count", "2"}
                                             << "The blocks 32767 to 32768 cannot be read";
    QTest::newRow("header with a partial range")
            << QStringList{"-p", box, "--header", "--count", "10"}
            << "It's useless to add a header if you don't want to backup the software!";
    QTest::newRow("header with verify") << QStringList{"-p", box, "--header", "--verify", "FILE"}
                                        << "--verify writes no dump, so it takes no --header.";
    QTest::newRow("verify file missing") << QStringList{"-p", box, "--verify", "nothing.bin"}
                                         << "Cannot read nothing.bin: ";
    QTest::newRow("verify file too short") << QStringList{"-p", box, "--verify", "FILE", "--count", "1025"}
                                           << "holds 1048576 bytes, less than the 1049600 of 1025 blocks.";
    QTest::newRow("output folder missing") << QStringList{"-p", box, "-o", "/nonexistent/folder"}
                                           << "The output folder /nonexistent/folder does not exist.";
    QTest::newRow("same port twice") << QStringList{"-p", box, "-p", box} << "Two ports go by the name \"boxA\".";
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
    if (!arguments.contains("-o"))
        arguments << "-o" << bench.out.path();

    const Result r = run(arguments);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.err.startsWith(QStringLiteral("tarvik-dump: ")) && r.err.contains(message), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    QVERIFY(sim.received().isEmpty());
    QCOMPARE(bench.files(), QStringList());
}

void TestCli::informationOptions()
{
    const Result help = run({QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    for (const char *option : {"--port", "--output", "--header", "--start", "--count", "--verify", "--json",
                               "--log", "--quiet", "--list", "--version"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);
    QVERIFY(!help.out.contains(QStringLiteral("--stall-ms")));

    const Result version = run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QVERIFY2(version.out.startsWith(QStringLiteral("tarvik-dump ")), qPrintable(version.out));

    // One line per port present: device, description and by-id link, "-" for none.
    const Result list = run({QStringLiteral("--list")});
    QCOMPARE(list.exitCode, 0);
    for (const QString &line : list.out.split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(u'\t');
        QCOMPARE(fields.size(), 3);
        QVERIFY2(fields.at(0).startsWith(QStringLiteral("/dev/")), qPrintable(line));
        QVERIFY(!fields.at(1).isEmpty() && !fields.at(2).isEmpty());
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

    const Result r = run({"-p", bench.port("boxA"), "-p", bench.port("boxB"), "-p", bench.port("boxC"), "-o",
                          bench.out.path(), "--json", "--log", log});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.size(), 3);
    QCOMPARE(r.box(bench.port("boxA")).value("result").toString(), QStringLiteral("ok"));
    QCOMPARE(r.box(bench.port("boxB")).value("result").toString(), QStringLiteral("check-error"));
    QCOMPARE(r.box(bench.port("boxC")).value("result").toString(), QStringLiteral("ok"));
    QVERIFY2(r.err.contains(QStringLiteral("tarvik-dump: %1: CRC Error while receiving BLOCK: 0300")
                                    .arg(bench.port("boxB"))), qPrintable(r.err));

    QCOMPARE(readFile(bench.output("MODEL-A.bin")), a.image());
    QCOMPARE(readFile(bench.output("MODEL-C.bin")), c.image());
    QVERIFY(!QFileInfo::exists(bench.output("MODEL-B.bin")));
    QCOMPARE(readFile(bench.output("MODEL-B.bin.part")), b.image().left(301 * 1024));
    QCOMPARE(readFile(bench.output("run-boxA.log")), wholeLog(0, 1024, true).toLatin1());
    QCOMPARE(readFile(bench.output("run-boxC.log")), wholeLog(0, 1024, true).toLatin1());
    QVERIFY(readFile(bench.output("run-boxB.log")).endsWith("CRC Error while receiving BLOCK: 0300\r\nSerial port closed.\r\n"));
    for (LoaderSim *sim : {&a, &b, &c}) {
        QVERIFY(bench.hostGone(*sim));
        QCOMPARE(sim->deviations(), QStringList());
    }
}

void TestCli::sameModel_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QString>("stem");       // of the first box's file
    QTest::addColumn<QString>("taggedStem"); // of the other's, before "_<device>.bin"
    QTest::newRow("short") << QByteArray("KSF-2100") << "KSF-2100" << "KSF-2100";
    // The whole name, tag and ".part" included, fits one folder entry.
    const QByteArray longModel(600, 'L');
    QTest::newRow("very long") << longModel << QString(DumpFile::MaxNameBytes - 9, u'L')
                               << QString(DumpFile::MaxNameBytes - 9 - 5, u'L');
}

// Two boxes of one model in one process: the later one gets its device's name.
void TestCli::sameModel()
{
    QFETCH(QByteArray, model);
    QFETCH(QString, stem);
    QFETCH(QString, taggedStem);
    Bench bench;
    QByteArray image = LoaderSim::defaultImage();
    image.replace(DumpFile::ModelOffset, model.size() + 1, model + '\0');
    QByteArray otherImage = image;
    otherImage[100 * 1024] = char(otherImage.at(100 * 1024) ^ 0x55);
    LoaderSim &a = bench.box(QStringLiteral("boxA"), image);
    LoaderSim &b = bench.box(QStringLiteral("boxB"), otherImage);

    const Result r = run({"-p", bench.port("boxA"), "-p", bench.port("boxB"), "-o", bench.out.path(), "--json"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const QString fileA = r.box(bench.port("boxA")).value("file").toString();
    const QString fileB = r.box(bench.port("boxB")).value("file").toString();
    const QSet<QString> names{QFileInfo(fileA).fileName(), QFileInfo(fileB).fileName()};
    const auto tagged = [&taggedStem](const QString &box) { return taggedStem + u'_' + box + ".bin"; };
    QVERIFY2(names == QSet<QString>({stem + ".bin", tagged("boxA")}) || names == QSet<QString>({stem + ".bin", tagged("boxB")}),
             qPrintable(QStringList(names.values()).join(u' ')));
    QCOMPARE(readFile(fileA), a.image());
    QCOMPARE(readFile(fileB), b.image());
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

    Result r = run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(!r.json.first().contains("previous_kept_as"));
    const QByteArray first = readFile(dump);
    r = run({"-p", bench.port("boxB"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 0);
    const QString kept = r.json.first().value("previous_kept_as").toString();
    QCOMPARE(QFileInfo(kept).path(), bench.out.path());
    QVERIFY2(QFileInfo(kept).fileName().startsWith("KSF-2100.2"), qPrintable(kept));
    QCOMPARE(readFile(kept), first);
    QCOMPARE(readFile(dump), b.image());
    QVERIFY2(r.err.contains(", earlier dump kept as " + kept + u'\n'), qPrintable(r.err));

    r = run({"-p", bench.port("boxB"), "-o", bench.out.path(), "--json"});
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

    const Result r = run({"-p", bench.port("boxA"), "-o", folder, "--json"}, {},
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
        file.prepend(DumpFile::headerText(QStringLiteral("KSF-2100"), file).toLatin1());
    const QString verifyFile = bench.dir.filePath(QStringLiteral("saved.bin"));
    QVERIFY(writeFile(verifyFile, file));

    const Result r = run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--verify", verifyFile, "--json"});
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

void TestCli::interrupt_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGTERM") << int(SIGTERM);
}

// Ctrl+C (or SIGTERM) half-way ends the run as Close does: nothing more is
// sent, the file keeps its whole blocks, the exit code is 130.
void TestCli::interrupt()
{
    QFETCH(int, signal);
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    sim.setBaudRate(115200);
    const QString log = bench.output(QStringLiteral("run.log"));
    QSignalSpy served(&sim, &LoaderSim::blockServed);

    const Result r = run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json", "--log", log},
                         [&served, signal](QProcess &process) {
                             QTRY_VERIFY_WITH_TIMEOUT(served.count() >= 20, RunMs);
                             ::kill(pid_t(process.processId()), signal);
                         });
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 130);
    QCOMPARE(r.json.size(), 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("interrupted"));
    QVERIFY(bench.hostGone(sim));
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(readFile(log).endsWith("Serial port closed.\r\n"));
    // The last thing on the wire is a block's request or acknowledgement.
    const QByteArray lastRequest = sim.received().mid(sim.received().lastIndexOf("1024DOWN"));
    QVERIFY2(lastRequest.endsWith('\r') && !lastRequest.contains("UPGRADE") && !lastRequest.contains("TOTALCRC"),
             lastRequest.constData());

    const QStringList files = bench.files();
    QCOMPARE(files.size(), 2); // the dump and the log
    const QByteArray dump = readFile(r.json.first().value("file").toString());
    QVERIFY(dump.size() >= 1024); // the box had sent 20 blocks, some of them still on the line
    QVERIFY(dump.size() < 1024 * 1024);
    QCOMPARE(dump.size() % 1024, 0);
    QCOMPARE(dump, sim.image().left(dump.size()));
}

// A dump file that another Tarvik process is writing is left alone.
void TestCli::lockedFile()
{
    Bench bench;
    LoaderSim &sim = bench.box(QStringLiteral("boxA"));
    const QString dump = bench.output(QStringLiteral("KSF-2100.bin.part"));
    QVERIFY(writeFile(dump, "being written"));
    const int fd = ::open(QFile::encodeName(dump).constData(), O_RDWR | O_CLOEXEC);
    QVERIFY(fd >= 0);
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);

    const Result r = run({"-p", bench.port("boxA"), "-o", bench.out.path(), "--json"});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.json.first().value("result").toString(), QStringLiteral("file-error"));
    QCOMPARE(readFile(dump), QByteArray("being written"));
    QVERIFY(bench.hostGone(sim));
}

void TestCli::openRefusedToOrdinaryUser_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("line");
    QTest::newRow("no permission") << "denied" << "No permission to open %1. ";
    QTest::newRow("held exclusively by another program") << "busy" << "%1 blocked by another application.";
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
    if (situation == "busy") {
        holder = ::open(device.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::ioctl(holder, TIOCEXCL), 0);
    }

    QVERIFY(openFolderToOrdinaryUser(bench.dir.path()));
    const ProcessOutcome outcome =
            runAsOrdinaryUser(Program, {"--port", bench.port("boxA"), "--output", QDir::tempPath()}, RunMs);
    const QString err = QString::fromLocal8Bit(outcome.err);
    QCOMPARE(outcome.exitCode, 1);
    QVERIFY2(err.contains(QStringLiteral("tarvik-dump: %1: ").arg(bench.port("boxA")) + line.arg(bench.port("boxA"))),
             qPrintable(err));
    QVERIFY(sim.received().isEmpty());
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
// fits the terminal, the failure stays above them, and the screen ends with
// exactly one line per box. A dumb terminal gets the plain lines of a pipe.
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

    const Result r = run(arguments, {}, As::ThisUser, terminal.attach(environment));
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    terminal.take();
    const QByteArray bytes = terminal.bytes;
    const QString failure = QStringLiteral("tarvik-dump: %1: CRC Error while receiving BLOCK: 0016")
                                    .arg(bench.port(names.at(1)));
    if (locale == u"C") {
        for (const char c : bytes)
            QVERIFY2(uchar(c) < 0x80, bytes.constData());
    }

    if (!live) {
        QVERIFY2(!bytes.contains('\x1b'), bytes.constData());
        const QStringList lines = writtenLines(bytes);
        QVERIFY2(lines.contains(failure), bytes.constData());
        for (const int box : {0, 2}) {
            const QString done = bench.port(names.at(box)) + QStringLiteral(": 100 % (32 / 32 blocks");
            QVERIFY2(lines.filter(done).size() == 1, bytes.constData());
        }
        return;
    }

    for (const QString &line : writtenLines(bytes)) {
        if (!line.startsWith(QStringLiteral("tarvik-dump: ")))
            QVERIFY2(line.size() <= columns - 1, qPrintable(line));
    }
    Screen screen{columns};
    screen.feed(bytes);
    const QStringList lines = screen.lines();
    QVERIFY2(lines.size() > 3, qPrintable(lines.join(u'\n')));
    QVERIFY2(lines.filter(QStringLiteral("KSF-2100")).size() == 3, qPrintable(lines.join(u'\n')));
    QVERIFY2(lines.filter(QStringLiteral("tarvik-dump: ") + bench.port(names.at(1)).left(columns / 2)).size() == 1,
             qPrintable(lines.join(u'\n')));
    const QStringList liveLines = lines.mid(lines.size() - 3);
    for (int box = 0; box < 3; ++box) {
        const QString &line = liveLines.at(box);
        QVERIFY2(line.contains(names.at(box).right(12)) && line.contains(QStringLiteral("KSF-2100")),
                 qPrintable(line));
        QVERIFY2(line.contains(box == 1 ? QStringLiteral("check-error") : QStringLiteral("32 / 32")),
                 qPrintable(line));
    }
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

    const Result r = run({"-p", bench.port(name), "-o", bench.out.path(), "--count", "32", "--stall-ms", "600000"},
                         [&](QProcess &process) {
                             QTRY_VERIFY_WITH_TIMEOUT(
                                 terminal.bytes.contains(name.toUtf8() + "  KSF-2100  [")
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

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
