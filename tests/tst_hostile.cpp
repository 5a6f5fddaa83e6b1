// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile boot loaders, cables and disks, end to end through the window on a
// pseudo-terminal. Each case states what the user sees (log, message boxes,
// controls, lamp), what reaches the dump file, and what the window sends on
// the line after the fault.
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/faultyfile.h"
#include "support/files.h"
#include "support/manualclock.h"
#include "support/ptypair.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "support/windowdesk.h"
#include "support/wirelog.h"
#include "window/controls.h"
#include "window/mainwindow.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <poll.h>
#include <unistd.h>

using tarvik::DumpRun;
using tarvik::LoaderSim;
using tarvik::SerialService;
using Point = LoaderSim::Point;
using tarvik::MainWindow;
using tarvik::ShapeWidget;

namespace {

constexpr int BlockSize = 1024;
constexpr int FullRunMs = 60000;  // a whole 1 MiB read on a loaded machine

const QByteArray NoFile = Desk::NoFile;

// The controls that tell the user where a run stands.
const QString Waiting = QStringLiteral("Open off, Close on, folder off, lamp green");
const QString Idle = QStringLiteral("Open on, Close off, folder on, lamp red");

QByteArray blocks(const LoaderSim &sim, int count)
{
    QByteArray data;
    for (int n = 0; n < count; ++n)
        data += sim.block(n);
    return data;
}

// A literal with every byte it holds, NULs included.
template<std::size_t N>
QByteArray raw(const char (&bytes)[N])
{
    return QByteArray(bytes, qsizetype(N - 1));
}

// A boot loader played by the test itself on the master side of a
// pseudo-terminal, for what the simulator cannot say.
class Peer
{
public:
    QString device() const { return m_pty.slavePath(); }

    // Once the window holds the device, its closing shows here as a hang-up.
    void letGo() { m_pty.closeSlaveKeeper(); }

    // Sends one read's worth and waits until the window has taken it in.
    bool say(SerialService &port, const QByteArray &bytes)
    {
        QSignalSpy readyRead(&port, &SerialService::readyRead);
        return m_pty.writeAll(bytes) && readyRead.wait();
    }

    // Everything the window sent, once it has closed the device.
    QByteArray drain()
    {
        QByteArray wire;
        for (;;) {
            pollfd p{m_pty.masterFd(), POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0)
                return wire; // it never closed the device
            char buf[4096];
            const ssize_t n = ::read(m_pty.masterFd(), buf, sizeof buf);
            if (n > 0)
                wire.append(buf, n);
            else if (n == 0 || errno != EINTR)
                return wire; // EIO: the window has let go and everything is read
        }
    }

private:
    PtyPair m_pty;
};

} // namespace

using Fault = LoaderFault;

// How a faulty run ends.
enum class Outcome {
    Stopped, // waiting for Close, port and file still open
    Ended,   // the window closed the port itself
    Lost,    // the port went away
};
Q_DECLARE_METATYPE(Outcome)

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void handshakeNoise_data();
    void handshakeNoise();
    void badReplies_data();
    void badReplies();
    void modelNames_data();
    void modelNames();
    void fileFaults_data();
    void fileFaults();
    void closeAtEveryStage_data();
    void closeAtEveryStage();
    void lostWhileToldOfASavedDump();
};

void TestHostile::handshakeNoise_data()
{
    QTest::addColumn<QByteArrayList>("reads"); // each one read on the window's side
    QTest::addColumn<int>("found");            // markers that count

    const QByteArray markers[] = {"PC___", "0000", "1984"};
    // Noise that a loader prints, with near misses, the other markers (which
    // must not count before their turn) and bytes that are no text at all.
    const QByteArray noise[] = {
        raw("\r\nHOST - MODE\r\nPC__ P_C___ pc___ 0000 1984\x01\x00\xff\r\n"),
        raw("PC___ 000 00 0\x00" "00\xe9\r\n"),
        raw("start block: 0000 198 19 84 \x00\x80\r\n"),
    };

    // Garbage before each marker, and every marker cut at each point it can be cut.
    for (int cut = 1; cut <= 4; ++cut) {
        QByteArrayList reads;
        for (int m = 0; m < 3; ++m) {
            const QByteArray &marker = markers[m];
            reads << noise[m];
            if (cut < marker.size())
                reads << noise[m] + marker.left(cut) << marker.mid(cut);
            else
                reads << noise[m] + marker;
        }
        QTest::addRow("cut after %d, noise before each", cut) << reads << 3;
    }
    QByteArrayList oneByOne;
    for (const QByteArray &marker : markers) {
        for (const char c : marker)
            oneByOne << QByteArray(1, c);
    }
    QTest::newRow("every byte in its own read") << oneByOne << 3;
    QTest::newRow("a kilobyte of noise first")
        << QByteArrayList{QByteArray(1000, '\xa5'), "PC___", "0000", "1984"} << 3;
    QTest::newRow("NUL and high bytes around the markers")
        << QByteArrayList{raw("\0PC___"), "\xff\xfe" "0000\x80", "\xe2", "\x80" "1984"} << 3;

    // What is not a marker.
    QTest::newRow("NUL inside PC___") << QByteArrayList{raw("PC_\0__")} << 0;
    QTest::newRow("byte above 0x7F inside 0000") << QByteArrayList{"PC___", "00\xb0" "00"} << 1;
    QTest::newRow("NUL inside 1984")
        << QByteArrayList{"PC___", "0000", raw("19\0" "84")} << 2;
    QTest::newRow("wrong case") << QByteArrayList{"pc___", "Pc___"} << 0;
    QTest::newRow("later markers before their turn")
        << QByteArrayList{"0000 1984 PC___"} << 1;
    QTest::newRow("later markers after PC___ in its read") << QByteArrayList{"PC___ 0000 1984"} << 1;
}

// The handshake waits find each marker in whatever comes around it, and only
// the marker; a wait that finds nothing goes on until Close, which ends the
// run with nothing more on the line.
void TestHostile::handshakeNoise()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(int, found);

    Peer peer;
    Desk desk(peer.device(), 1);
    desk.open();
    peer.letGo();
    for (const QByteArray &read : reads)
        QVERIFY(peer.say(portOf(desk.w.session()), read));

    const QString log = found == 3 ? LogStart + blockAsked(0) : LogStart;
    QTRY_COMPARE(desk.w.logText(), log);
    QCOMPARE(desk.controls(), Waiting);

    desk.close();
    QCOMPARE(peer.drain(), handshakeWire(found) + (found == 3 ? blockRequest(0) : QByteArray()));
    QCOMPARE(desk.w.logText(), log + LogClosed);
    QCOMPARE(desk.controls(), Idle);
    QCOMPARE(desk.partialDump(), NoFile);
    QVERIFY(desk.prompts.messages.isEmpty());
}

void TestHostile::badReplies_data()
{
    // A run of five blocks, 0 to 4; what it logs, keeps and sends follows from the fault.
    QTest::addColumn<Fault>("fault");

    const QByteArray image = LoaderSim::defaultImage();
    const auto reply = [&image](int n) {
        const QByteArray data = image.mid(n * BlockSize, BlockSize);
        return data + char(LoaderSim::checkValue(data));
    };

    QTest::newRow("wrong check byte, first block") << Fault::badCheck(0);
    QTest::newRow("wrong check byte, middle block") << Fault::badCheck(2);
    QTest::newRow("wrong check byte, last block") << Fault::badCheck(4);
    QTest::newRow("wrong total") << Fault::badTotal();

    QTest::newRow("first block one byte short, then silence") << Fault::stall(Point::Block, 0, BlockSize);
    QTest::newRow("middle block one byte short, then silence") << Fault::stall(Point::Block, 2, BlockSize);
    QTest::newRow("no total") << Fault::stall(Point::Total, 0, 0);

    QTest::newRow("block one byte long") << Fault::extraAfter(Point::Block, 2, "\r");
    QTest::newRow("two block replies at once") << Fault::extraAfter(Point::Block, 0, reply(1));
    QTest::newRow("last block and total at once") << Fault::extraAfter(Point::Block, 4, QByteArray(1, '\x42'));
    QTest::newRow("total one byte long") << Fault::extraAfter(Point::Total, 0, QByteArray(1, '\0'));

    QTest::newRow("hang-up in the handshake") << Fault::hangUp(Point::Marker, 1, 2);
    QTest::newRow("hang-up in a block") << Fault::hangUp(Point::Block, 2, 300);
    QTest::newRow("hang-up instead of the total") << Fault::hangUp(Point::Total, 0, 0);
}

void TestHostile::badReplies()
{
    QFETCH(Fault, fault);

    LoaderSim sim;
    fault.applyTo(sim);
    // A stopped run waits for Close; a wrong total ends the run by itself.
    const Outcome outcome = fault.stops() ? Outcome::Stopped
                          : fault.outcome() == DumpRun::Outcome::PortLost ? Outcome::Lost
                                                                           : Outcome::Ended;
    const int fileBlocks = fault.wholeBlocks(0, 5);
    const QByteArray wire = fault.wire(0, 5);
    // For a lost port, the log up to the loss line.
    const QString log = outcome == Outcome::Lost ? fault.logBefore(0, 5)
                      : outcome == Outcome::Ended ? fault.log(sim, 0, 5) + LogClosed
                                                  : fault.log(sim, 0, 5);
    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    Desk desk(sim, 5);
    QVERIFY(sim.isOpen());
    QSignalSpy finished(&runOf(desk.w.session()), &DumpRun::finished);
    desk.open();
    if (fault.kind == Fault::Kind::Stall) {
        // The loader falls silent; ten seconds later the run gives up.
        QTRY_COMPARE(sim.stage(), LoaderSim::Stage::Silent);
        QTRY_COMPARE(portOf(desk.w.session()).bytesWaiting(), fault.afterBytes);
        desk.clock.advance(DumpRun::DefaultStallMs);
    }
    QVERIFY(finished.count() > 0 || finished.wait());
    const int goodBlocks = int(log.count(QStringLiteral("1024DOWN_SUCCESS:")));
    QCOMPARE(desk.progress(), goodBlocks);

    switch (outcome) {
    case Outcome::Stopped:
        QCOMPARE(desk.w.logText(), log + stoppedWith(fileBlocks));
        QCOMPARE(desk.controls(), Waiting);
        desk.close();
        QCOMPARE(desk.w.logText(), log + stoppedWith(fileBlocks) + closedWith(fileBlocks));
        break;
    case Outcome::Ended:
        QCOMPARE(desk.w.logText(), log);
        break;
    case Outcome::Lost: {
        // One line for the loss, with the system's reason, then the port closes.
        const QString text = desk.w.logText();
        QVERIFY2(text.startsWith(log + LogLost), qPrintable(text));
        const QString closing = closedWith(fileBlocks);
        QVERIFY2(text.endsWith(QStringLiteral("\r\n") + closing), qPrintable(text));
        QCOMPARE(text.count(QStringLiteral("\r\n")), log.count(QStringLiteral("\r\n")) + 1 + closing.count(u'\n'));
        break;
    }
    }
    QCOMPARE(desk.controls(), Idle);
    QVERIFY(desk.prompts.messages.isEmpty());
    QCOMPARE(finished.count(), 1);

    if (outcome != Outcome::Lost)
        QVERIFY(hostClosed.count() > 0 || hostClosed.wait());
    QCOMPARE(sim.received(), wire);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(desk.partialDump(), fileBlocks < 0 ? NoFile : blocks(sim, fileBlocks));
}

void TestHostile::modelNames_data()
{
    QTest::addColumn<QByteArray>("model"); // bytes from index 8 of the first block
    QTest::addColumn<bool>("terminated");  // a 0 byte follows
    QTest::addColumn<bool>("header");
    QTest::addColumn<QString>("label");    // empty: the text is no model name
    QTest::addColumn<QString>("fileName");

    QTest::newRow("slashes and dot-dots, with the header")
        << QByteArray("../../etc/..") << true << true << "../../etc/.."
        << QStringLiteral("___.._etc_.._HW01.00.0A_SW02.03.15_conv.bin");
    QTest::newRow("dot-dot alone") << QByteArray("..") << true << false << ".." << QStringLiteral("__.bin");
    // Text that is no model name: no label, the name of a box without one,
    // and the KUP header still carries the bytes as received.
    QTest::newRow("bytes above 0x7F, with the header")
        << QByteArray("../../\xe9\x01/..") << true << true << QString()
        << QStringLiteral("FlashDump_HW01.00.0A_SW02.03.15_conv.bin");
    QTest::newRow("control bytes and bytes above 0x7F")
        << QByteArray("A\x01\x1b[2J\tB\r\n\x7f" "K\xe9\xff\x80\x9f\xa0Z") << true << false << QString()
        << QStringLiteral("FlashDump.bin");
    // Up to the last data byte: far too long for a model name.
    QByteArray endless = QByteArray("x/\xe9").repeated(339);
    endless.chop(1);
    QTest::newRow("no terminator") << endless << false << false << QString() << QStringLiteral("FlashDump.bin");
}

// The model name comes from the box: it never takes the file out of the chosen
// folder, text that is no name never reaches the label, and the KUP header
// still carries the bytes as received.
void TestHostile::modelNames()
{
    QFETCH(QByteArray, model);
    QFETCH(bool, terminated);
    QFETCH(bool, header);
    QFETCH(QString, label);
    QFETCH(QString, fileName);

    QByteArray image = LoaderSim::defaultImage();
    image.replace(8, model.size(), model);
    if (terminated)
        image[8 + model.size()] = '\0';
    else
        QCOMPARE(8 + model.size(), BlockSize);
    LoaderSim sim;
    sim.setImage(image);
    Desk desk(sim, 1024);
    QVERIFY(sim.isOpen());
    desk.w.control<QCheckBox>("headerCheck")->setChecked(header);
    QSignalSpy finished(&runOf(desk.w.session()), &DumpRun::finished);
    desk.open();
    QVERIFY(finished.wait(FullRunMs));

    QVERIFY2(desk.w.logText().endsWith(LogSuccess + LogClosed), qPrintable(desk.w.logText().right(200)));
    QCOMPARE(desk.controls(), Idle);
    QVERIFY(desk.prompts.messages.isEmpty());
    QCOMPARE(desk.model(), label);
    QCOMPARE(sim.deviations(), QStringList());

    QCOMPARE(desk.beside(), QStringList{"out"});
    QCOMPARE(desk.files(), QStringList{fileName});
    QByteArray expected = image;
    if (header)
        expected.prepend("KAON0008B9" "01000A" "020315" "0000000000C" + model + "x");
    QVERIFY(readFile(desk.path(fileName)) == expected);
}

namespace {
// Where the dump file goes: a real file, the system's always-full device, or a
// real file on a disk that fills up half-way through the third block.
enum Disk { Roomy, DevFull, Tight };
} // namespace

void TestHostile::fileFaults_data()
{
    QTest::addColumn<int>("disk");
    QTest::addColumn<int>("removeAt");  // the folder goes when the loader serves this block (5: the total); -1 never
    QTest::addColumn<int>("failing");   // the block being received when it fails (5: the total)
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("fileBytes"); // what the file holds after the run; -1: there is none

    const QString create = QStringLiteral("Cannot create the dump file %1: No such file or directory");
    const QString gone = QStringLiteral("Cannot write the dump file %1: No such file or directory");
    const QString full = QStringLiteral("Cannot write the dump file %1: No space left on device");

    QTest::newRow("folder removed before the first block") << int(Roomy) << 0 << 0 << create << -1;
    QTest::newRow("folder removed during the run") << int(Roomy) << 2 << 2 << gone << -1;
    QTest::newRow("folder removed before the total") << int(Roomy) << 5 << 5 << gone << -1;
    QTest::newRow("disk full at the first write") << int(DevFull) << -1 << 0 << full << -1;
    QTest::newRow("disk full in the third block")
        << int(Tight) << -1 << 2 << full << 2 * BlockSize + BlockSize / 2;
}

// A dump file that cannot be written never ends as a success: a message box
// names the path and the reason, and the run ends through closePort.
void TestHostile::fileFaults()
{
    QFETCH(int, disk);
    QFETCH(int, removeAt);
    QFETCH(int, failing);
    QFETCH(QString, message);
    QFETCH(int, fileBytes);

    LoaderSim sim;
    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    Desk desk(sim, 5);
    QVERIFY(sim.isOpen());
    if (disk == DevFull) {
        desk.w.session().setFileOpener(
            [](const QString &) { return std::make_unique<QFile>(QStringLiteral("/dev/full")); });
    } else if (disk == Tight) {
        desk.w.session().setFileOpener([](const QString &path) {
            return std::make_unique<FaultyDiskFile>(FileFault{2 * BlockSize + BlockSize / 2}, path);
        });
    }
    const auto removeFolder = [&desk] { QVERIFY(QDir(desk.folder()).removeRecursively()); };
    // The loader has answered; the window has yet to read it.
    connect(&sim, &LoaderSim::blockServed, &desk.w, [&](int n) {
        if (n == removeAt && n > 0)
            removeFolder();
    });
    connect(&sim, &LoaderSim::stageChanged, &desk.w, [&](LoaderSim::Stage stage) {
        if (stage == LoaderSim::Stage::Closing && removeAt == 5)
            removeFolder();
    });
    QString paneAtBox;
    QString controlsAtBox;
    desk.prompts.onMessage = [&] {
        paneAtBox = desk.w.control<QPlainTextEdit>("logPane")->toPlainText();
        controlsAtBox = desk.controls();
    };
    QSignalSpy finished(&runOf(desk.w.session()), &DumpRun::finished);
    desk.open();
    if (removeAt == 0)
        removeFolder();
    QVERIFY(finished.wait());

    const QString path = desk.path(QStringLiteral("FlashDump.bin.part"));
    QCOMPARE(desk.prompts.messages.size(), 1);
    QCOMPARE(desk.prompts.messages.at(0).title, QStringLiteral("Error"));
    QCOMPARE(desk.prompts.messages.at(0).text, message.arg(path));
    const QString what = failing == 5 ? TotalAsked + fileErrorLine(AwaitedTotal)
                                      : blockAsked(failing) + fileErrorLine(awaitedBlock(failing));
    QCOMPARE(desk.w.logText(), goodLog(0, failing) + what + closedWith(fileBytes / BlockSize));
    // The box shows once the run is over: the port closed, the log whole
    // (the pane shows lines ending in LF) and the window idle.
    QCOMPARE(paneAtBox, QString(desk.w.logText()).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(controlsAtBox, Idle);

    QVERIFY(hostClosed.count() > 0 || hostClosed.wait());
    QCOMPARE(sim.received(), goodWire(0, failing) + (failing == 5 ? TotalRequest : blockRequest(failing)));
    QCOMPARE(sim.deviations(), QStringList());

    QCOMPARE(desk.partialDump(), fileBytes < 0 ? NoFile : blocks(sim, 3).left(fileBytes));
    if (removeAt >= 0)
        QCOMPARE(desk.beside(), QStringList()); // the folder is not made again
}

void TestHostile::closeAtEveryStage_data()
{
    QTest::addColumn<Fault>("fault");     // holds the run of three blocks at its stage
    QTest::addColumn<bool>("viaWindow");  // the window is closed instead of Close clicked

    QTest::newRow("waiting for PC___") << Fault::stall(Point::Marker, 0, 3) << false;
    QTest::newRow("waiting for 1984") << Fault::stall(Point::Marker, 2, 0) << false;
    QTest::newRow("waiting for the first block") << Fault::stall(Point::Block, 0, 0) << false;
    QTest::newRow("in the middle of a block") << Fault::stall(Point::Block, 1, 600) << false;
    QTest::newRow("waiting for the total") << Fault::stall(Point::Total, 0, 0) << false;
    QTest::newRow("stopped") << Fault::badCheck(1) << false;
    QTest::newRow("window closed in the middle of a block") << Fault::stall(Point::Block, 1, 600) << true;
    QTest::newRow("window closed when stopped") << Fault::badCheck(1) << true;
}

// Close ends the run at once at every stage, with "Serial port closed." as the
// only line and nothing more on the line; the file keeps the blocks received.
// The next run in the same window then reads cleanly.
void TestHostile::closeAtEveryStage()
{
    QFETCH(Fault, fault);
    QFETCH(bool, viaWindow);

    LoaderSim sim;
    fault.applyTo(sim);
    // Close comes while a stalled loader is still awaited, before any time-out.
    const int fileBlocks = fault.wholeBlocks(0, 3);
    const QString log = fault.kind == Fault::Kind::Stall ? fault.logBefore(0, 3)
                      : fault.stops()                    ? fault.log(sim, 0, 3) + stoppedWith(fileBlocks)
                                                         : fault.log(sim, 0, 3);
    const QByteArray wire = fault.wire(0, 3);
    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    Desk desk(sim, 3);
    QVERIFY(sim.isOpen());
    desk.open();

    if (fault.kind == Fault::Kind::Stall) {
        QTRY_COMPARE(sim.stage(), LoaderSim::Stage::Silent);
        if (fault.at != Point::Marker)
            QTRY_COMPARE(portOf(desk.w.session()).bytesWaiting(), fault.afterBytes);
    }
    QTRY_COMPARE(desk.w.logText(), log);
    QCOMPARE(desk.controls(), Waiting);

    if (viaWindow)
        QVERIFY(desk.w.close());
    else
        desk.close();
    QCOMPARE(desk.w.logText(), log + closedWith(fileBlocks));
    QCOMPARE(desk.controls(), Idle);
    QCOMPARE(runOf(desk.w.session()).stage(), DumpRun::Stage::Idle);
    QVERIFY(desk.prompts.messages.isEmpty());
    QVERIFY(hostClosed.wait());
    QCOMPARE(sim.received(), wire);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(desk.partialDump(), fileBlocks < 0 ? NoFile : blocks(sim, fileBlocks));
    if (viaWindow)
        return;

    Fault::clear(sim);
    QSignalSpy finished(&runOf(desk.w.session()), &DumpRun::finished);
    // A .part of two whole blocks or more is offered to be continued: start again.
    desk.prompts.answers = {1};
    desk.open();
    QVERIFY(finished.wait());
    QCOMPARE(desk.w.logText(), wholeLog(0, 3, true));
    QCOMPARE(desk.controls(), Idle);
    // A good run takes the file's own name; what it received replaced the kept part.
    QCOMPARE(desk.files(), QStringList{QStringLiteral("FlashDump.bin")});
    QCOMPARE(readFile(desk.path(QStringLiteral("FlashDump.bin"))), blocks(sim, 3));
    QCOMPARE(sim.deviations(), QStringList());
}

// The adapter is gone just as the box is told that its dump was good: the
// dump is already saved under its name, so the run is still a success and
// nothing is offered to continue.
void TestHostile::lostWhileToldOfASavedDump()
{
    LoaderSim sim;
    Desk desk(sim, 5);
    QVERIFY(sim.isOpen());
    QObject::connect(&desk.w.session(), &tarvik::Session::logAppended, &sim, [&sim](const QString &text) {
        if (text.startsWith(QStringLiteral("Transfer succesfull!")))
            sim.close();
    });
    QSignalSpy finished(&runOf(desk.w.session()), &DumpRun::finished);
    desk.open();
    QVERIFY(finished.wait());

    const QString text = desk.w.logText();
    QVERIFY2(text.startsWith(goodLog(0, 5) + TotalAsked + LogSuccess + LogLost), qPrintable(text));
    QVERIFY2(text.endsWith(QStringLiteral("\r\n") + LogClosed), qPrintable(text));
    QVERIFY2(!text.contains(QStringLiteral("continue")), qPrintable(text));
    QCOMPARE(runOf(desk.w.session()).outcome(), DumpRun::Outcome::Success);
    QVERIFY(desk.prompts.messages.isEmpty());
    QCOMPARE(desk.controls(), Idle);
    QCOMPARE(desk.files(), QStringList{QStringLiteral("FlashDump.bin")});
    QCOMPARE(readFile(desk.path(QStringLiteral("FlashDump.bin"))), blocks(sim, 5));
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
