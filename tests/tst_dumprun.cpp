// SPDX-License-Identifier: GPL-3.0-or-later
// The dump run end to end: the real serial port on a pseudo-terminal, with the
// simulated boot loader (or a scripted peer) on the master side.
#include "dump/dumprun.h"
#include "dump/portloss.h"
#include "dump/session.h"
#include "loadersim/loadersim.h"
#include "support/faultyfile.h"
#include "support/files.h"
#include "support/manualclock.h"
#include "support/ptypair.h"
#include "support/recorder.h"
#include "support/sessionprobe.h"
#include "support/sessionrig.h"
#include "support/wirelog.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using tarvik::DumpFile;
using tarvik::DumpRun;
using tarvik::LoaderSim;
using tarvik::SerialService;
using Point = LoaderSim::Point;

namespace {

constexpr int FullRunMs = 60000; // an upper bound for a whole 1 MiB read on a loaded machine
constexpr int StallMs = DumpRun::DefaultStallMs;

QByteArray blocks(const LoaderSim &sim, int start, int count)
{
    QByteArray data;
    for (int n = start; n < start + count; ++n)
        data += sim.block(n);
    return data;
}

// Collects what the engine sent to a scripted peer.
struct Wire {
    explicit Wire(PtyPair &peer) : pty(peer) { }
    PtyPair &pty;
    QByteArray bytes;
    const QByteArray &read()
    {
        bytes += pty.readAvailable();
        return bytes;
    }
};

} // namespace

class TestDumpRun : public QObject
{
    Q_OBJECT
private slots:
    void fullRead_data();
    void fullRead();
    void partialRead_data();
    void partialRead();
    void countZero();
    void secondRunStartsAfresh();
    void badCheckByte_data();
    void badCheckByte();
    void totalMismatch();
    void splitMarkers();
    void textAfterMarkerIsDropped();
    void closeDuringWait_data();
    void closeDuringWait();
    void fileErrors_data();
    void fileErrors();
    void unexpectedData_data();
    void unexpectedData();
    void stall_data();
    void stall();
    void handshakeHasNoTimeout();
    void blockInPieces_data();
    void blockInPieces();
    void portLost_data();
    void portLost();
};

void TestDumpRun::fullRead_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("without header") << false << "KSF-2100.bin" << QByteArray();
    QTest::newRow("with header") << true << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin"
                                 << QByteArray("KAON0008B901000A0203150000000000CKSF-2100x");
}

void TestDumpRun::fullRead()
{
    QFETCH(bool, ticked);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, header);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    sim.setExpectedRange(0, 1024);
    rig.header = ticked;
    QVERIFY(rig.openOnSim());
    rig.start(0, 1024);

    QVERIFY(rig.finished.wait(FullRunMs));
    QCOMPARE(rig.finished.count(), 1);
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(sim.received(), wholeWire(0, 1024, true));

    QCOMPARE(rig.host.log, wholeLog(0, 1024, true));
    QCOMPARE(rig.host.models, QStringList{QStringLiteral("KSF-2100")});
    QCOMPARE(rig.host.progress.size(), 1024);
    QCOMPARE(rig.host.progress.first(), 1);
    QCOMPARE(rig.host.progress.last(), 1024);
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Idle);
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.host.reports.size(), 1);

    QCOMPARE(rig.run.modelText(), QStringLiteral("KSF-2100"));
    QCOMPARE(rig.run.dumpFileName(), fileName);
    QCOMPARE(rig.files(), QStringList{fileName});
    QCOMPARE(readFile(rig.folder() + fileName), header + sim.image());
    QCOMPARE(rig.run.totalSum(), int(LoaderSim::checkValue(sim.image())));
}

void TestDumpRun::partialRead_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ticked");

    QTest::newRow("blocks 7 to 9") << 7 << 3 << false;
    QTest::newRow("from 0, one short of full, ticked") << 0 << 2 << true;
    QTest::newRow("five-digit numbers") << 9999 << 3 << false;
    QTest::newRow("up to 32767") << 32766 << 2 << false;
}

void TestDumpRun::partialRead()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, ticked);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    sim.setExpectedRange(start, count);
    rig.header = ticked;
    QVERIFY(rig.openOnSim());
    rig.start(start, count);

    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(sim.received(), wholeWire(start, count, true));
    QCOMPARE(rig.host.log, wholeLog(start, count, true));
    QCOMPARE(rig.files(), QStringList{QStringLiteral("FlashDump.bin")});
    QCOMPARE(readFile(rig.folder() + QStringLiteral("FlashDump.bin")), blocks(sim, start, count));
    // The model name comes from the run's first block, when it reads as one.
    QCOMPARE(rig.host.models,
             QStringList{tarvik::DumpName::modelName(tarvik::DumpName::modelText(sim.block(start)))});
}

void TestDumpRun::countZero()
{
    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    sim.setExpectedRange(0, 0);
    QVERIFY(rig.openOnSim());
    rig.start(0, 0);

    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    // The total request follows the handshake at once, and a total of 0 matches.
    QCOMPARE(sim.received(), wholeWire(0, 0, true));
    QCOMPARE(rig.host.log, wholeLog(0, 0, true));
    QCOMPARE(rig.files(), QStringList());
    QCOMPARE(rig.host.models, QStringList());
    QCOMPARE(rig.run.dumpFileName(), QString());
}

void TestDumpRun::secondRunStartsAfresh()
{
    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    QVERIFY(rig.openOnSim());
    rig.start(0, 2);
    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 1);
    QTRY_COMPARE(sim.stage(), LoaderSim::Stage::Handshake); // the host closed the device

    QVERIFY(rig.open(sim.slavePath()));
    rig.start(5, 1);
    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 2);
    QCOMPARE(sim.deviations(), QStringList());
    // Its log, model and total check are its own; the first run's dump, with
    // other bytes under the same name, is kept under a dated name.
    const QStringList kept = QDir(rig.folder()).entryList({QStringLiteral("FlashDump.*.bin")});
    QCOMPARE(kept.size(), 1);
    QCOMPARE(readFile(rig.folder() + kept.first()), sim.block(0) + sim.block(1));
    QCOMPARE(rig.host.log, QString(wholeLog(5, 1, true)).replace(
                 LogClosed, "The earlier dump of this name is kept as " + rig.folder() + kept.first() + "\r\n" + LogClosed));
    QCOMPARE(rig.run.modelText(), tarvik::DumpName::modelText(sim.block(5)));
    QCOMPARE(rig.run.totalSum(), int(LoaderSim::checkValue(sim.block(5))));
    QCOMPARE(readFile(rig.folder() + QStringLiteral("FlashDump.bin")), sim.block(5));
}

void TestDumpRun::badCheckByte_data()
{
    QTest::addColumn<int>("bad");
    QTest::newRow("first block") << 0;
    QTest::newRow("third block") << 2;
}

void TestDumpRun::badCheckByte()
{
    QFETCH(int, bad);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    sim.setBadCheckBlock(bad);
    QVERIFY(rig.openOnSim());
    rig.start(0, 4);

    QVERIFY(rig.finished.wait());
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Stopped);
    QString log = LogStart;
    for (int n = 0; n < bad; ++n)
        log += blockLine(n);
    log += blockAsked(bad) + crcErrorLine(bad);
    QCOMPARE(rig.host.log, log);
    // Stopped: the port and the file stay open until the user closes the port.
    QVERIFY(rig.port.isOpen());
    QVERIFY(rig.run.dumpFileOpen());
    QCOMPARE(rig.host.reports.size(), 0);

    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    rig.host.closePort();
    QVERIFY(hostClosed.wait());
    QCOMPARE(rig.host.log, log + LogClosed);
    QCOMPARE(rig.finished.count(), 1);
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Idle);
    // Nothing was sent after the bad block's request.
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(sim.received().endsWith(blockRequest(bad)));
    // The file holds every block up to and including the bad one.
    QCOMPARE(rig.partialDump(), blocks(sim, 0, bad + 1));
}

void TestDumpRun::totalMismatch()
{
    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    sim.setBadTotal(true);
    QVERIFY(rig.openOnSim());
    rig.start(3, 2);

    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(sim.received(), wholeWire(3, 2, false));
    const int total = (LoaderSim::checkValue(sim.block(3)) + LoaderSim::checkValue(sim.block(4))) % 256;
    QString log = wholeLog(3, 2, false);
    log.insert(log.size() - LogClosed.size(), totalErrorLine(total, total + 1));
    QCOMPARE(rig.host.log, log);
    QVERIFY(!rig.port.isOpen());
    // Complete, but not taken for a good dump.
    QCOMPARE(rig.files(), QStringList{QStringLiteral("FlashDump.bin.part")});
    QCOMPARE(rig.partialDump(), blocks(sim, 3, 2));
}

void TestDumpRun::splitMarkers()
{
    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QSignalSpy done(&sim, &LoaderSim::conversationFinished);
    sim.setSplitMarkers(true, 30);
    QVERIFY(rig.openOnSim());
    rig.start(0, 1);

    QVERIFY(rig.finished.wait());
    QTRY_COMPARE(done.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(rig.host.log, wholeLog(0, 1, true));
}

void TestDumpRun::textAfterMarkerIsDropped()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    SessionRig rig;
    QVERIFY(rig.open(pty.slavePath()));
    rig.start(0, 1);
    Wire wire(pty);
    QTRY_COMPARE(wire.read(), Handshake);

    // Each write below is one read on the engine's side; by the time the spy
    // sees readyRead, the engine has handled it and sent what it sends.
    QSignalSpy readyRead(&rig.port, &SerialService::readyRead);
    const auto feed = [&](const QByteArray &bytes) {
        readyRead.clear();
        return pty.writeAll(bytes) && readyRead.wait();
    };

    // The second marker comes in the same read as the first: it is dropped.
    QVERIFY(feed("noise PC___0000"));
    QTRY_COMPARE(wire.read(), Handshake + StartBlockRequest);
    QVERIFY(feed("x"));
    // A marker split over reads is found; text before it is of no account.
    QVERIFY(feed("0 0"));
    QVERIFY(feed("00"));
    // Three reads later: had "0000" been kept, its request would be here by now.
    QCOMPARE(wire.read(), Handshake + StartBlockRequest);
    QVERIFY(feed("0"));
    QTRY_COMPARE(wire.read(), Handshake + StartBlockRequest + BlockListRequest);
    QVERIFY(feed("19"));
    QVERIFY(pty.writeAll("84"));
    QTRY_COMPARE(wire.read(), AllHandshake + blockRequest(0));
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Blocks);
    QCOMPARE(rig.host.log, LogStart + blockAsked(0));
}

void TestDumpRun::closeDuringWait_data()
{
    QTest::addColumn<int>("at");    // LoaderSim::Point
    QTest::addColumn<int>("index"); // marker or block number
    QTest::addColumn<int>("afterBytes");
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("fileBlocks"); // -1: no file

    QTest::newRow("first marker") << int(Point::Marker) << 0 << 3 << LogStart << -1;
    QTest::newRow("last marker") << int(Point::Marker) << 2 << 0 << LogStart << -1;
    QTest::newRow("first block") << int(Point::Block) << 0 << 0
                                 << LogStart + blockAsked(0) << -1;
    QTest::newRow("in the middle of a block")
        << int(Point::Block) << 1 << 600
        << LogStart + blockLine(0) + blockAsked(1) << 1;
    QTest::newRow("total") << int(Point::Total) << 0 << 0
                           << LogStart + blockLine(0) + blockLine(1) + TotalAsked << 2;
}

void TestDumpRun::closeDuringWait()
{
    QFETCH(int, at);
    QFETCH(int, index);
    QFETCH(int, afterBytes);
    QFETCH(QString, log);
    QFETCH(int, fileBlocks);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    QVERIFY(rig.startSilentAt(Point(at), index, afterBytes));
    QTRY_COMPARE(rig.host.log, log);
    const DumpRun::Stage waiting = rig.run.stage();
    QVERIFY(waiting != DumpRun::Stage::Idle && waiting != DumpRun::Stage::Stopped);

    rig.host.closePort(); // the Close button
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Idle);
    QCOMPARE(rig.finished.count(), 1);
    QVERIFY(!rig.run.dumpFileOpen());
    // No line of the run's own; the stall timer is off with the run.
    QCOMPARE(rig.clock.armedTimers(), 0);
    rig.clock.advance(2 * StallMs);
    QCOMPARE(rig.host.log, log + LogClosed);
    QCOMPARE(rig.finished.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());

    QCOMPARE(rig.partialDump(), rig.partialDump(fileBlocks));
}

void TestDumpRun::fileErrors_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("subfolder"); // a folder that does not exist, or empty
    QTest::addColumn<bool>("refuseOpen");
    QTest::addColumn<qint64>("room");       // < 0: the real file
    QTest::addColumn<int>("failingBlock");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing folder") << 0 << 2 << false << "gone/" << false << qint64(-1) << 0
                                    << "FlashDump.bin" << "No such file or directory";
    QTest::newRow("no rights") << 0 << 2 << false << "" << true << qint64(0) << 0
                               << "FlashDump.bin" << "Permission denied";
    QTest::newRow("disk full in the header")
        << 0 << 1024 << true << "" << false << qint64(20) << 0
        << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin" << "No space left on device";
    QTest::newRow("disk full in the third block")
        << 4 << 5 << false << "" << false << qint64(2500) << 6 << "FlashDump.bin"
        << "No space left on device";
}

void TestDumpRun::fileErrors()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, ticked);
    QFETCH(QString, subfolder);
    QFETCH(bool, refuseOpen);
    QFETCH(qint64, room);
    QFETCH(int, failingBlock);
    QFETCH(QString, name);
    QFETCH(QString, reason);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    rig.header = ticked;
    if (room >= 0) {
        rig.session.setFileOpener(memoryFileOpener({room, refuseOpen}));
    }
    QVERIFY(rig.openOnSim());
    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    rig.start(start, count, rig.folder() + subfolder);

    QVERIFY(rig.finished.wait());
    const QString path = rig.folder() + subfolder + name;
    QCOMPARE(rig.host.messages.size(), 1);
    const QString message = rig.host.messages.constFirst();
    QVERIFY2(message.startsWith(QStringLiteral("Error: ")), qPrintable(message));
    QVERIFY2(message.contains(path), qPrintable(message));
    QVERIFY2(message.contains(reason), qPrintable(message));

    // The run ends through the window's closePort, never as a success.
    QString log = LogStart;
    for (int n = start; n < failingBlock; ++n)
        log += blockLine(n);
    log += blockAsked(failingBlock) + fileErrorLine(awaitedBlock(failingBlock)) + LogClosed;
    QCOMPARE(rig.host.log, log);
    QCOMPARE(rig.host.reports.size(), 1);
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Idle);
    QCOMPARE(rig.finished.count(), 1);
    QVERIFY(hostClosed.wait());
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(sim.received().endsWith(blockRequest(failingBlock)));
}

void TestDumpRun::unexpectedData_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("fileBlocks");

    QTest::newRow("after the first block")
        << int(Point::Block) << 0 << QByteArray("\r\n") << LogStart + blockAsked(0) + unexpectedLine(awaitedBlock(0))
        << -1;
    QTest::newRow("after the second block")
        << int(Point::Block) << 1 << QByteArray(600, 'x')
        << LogStart + blockLine(0) + blockAsked(1) + unexpectedLine(awaitedBlock(1)) << 1;
    QTest::newRow("after the total")
        << int(Point::Total) << 0 << QByteArray("?")
        << LogStart + blockLine(0) + blockLine(1) + TotalAsked + unexpectedLine(AwaitedTotal) << 2;
}

void TestDumpRun::unexpectedData()
{
    QFETCH(int, at);
    QFETCH(int, index);
    QFETCH(QByteArray, extra);
    QFETCH(QString, log);
    QFETCH(int, fileBlocks);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    sim.setExtraAfterReply(Point(at), index, extra);
    QVERIFY(rig.openOnSim());
    rig.start(0, 2);

    QVERIFY(rig.finished.wait());
    QCOMPARE(rig.host.log, log);
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Stopped);
    QVERIFY(rig.port.isOpen());

    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    rig.host.closePort();
    QVERIFY(hostClosed.wait());
    QCOMPARE(rig.host.log, log + LogClosed);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(rig.partialDump(), rig.partialDump(fileBlocks));
}

void TestDumpRun::stall_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("afterBytes");
    QTest::addColumn<QString>("log");

    QTest::newRow("block never starts")
        << int(Point::Block) << 0 << 0
        << LogStart + blockAsked(0) + timeoutLine(awaitedBlock(0));
    QTest::newRow("block stops half way")
        << int(Point::Block) << 1 << 512
        << LogStart + blockLine(0) + blockAsked(1) + timeoutLine(awaitedBlock(1));
    QTest::newRow("total never comes")
        << int(Point::Total) << 0 << 0
        << LogStart + blockLine(0) + blockLine(1) + TotalAsked + timeoutLine(AwaitedTotal);
}

void TestDumpRun::stall()
{
    QFETCH(int, at);
    QFETCH(int, index);
    QFETCH(int, afterBytes);
    QFETCH(QString, log);

    SessionRig rig;
    // The loader falls silent; the run gives up ten seconds after the request, not before.
    QVERIFY(rig.startSilentAt(Point(at), index, afterBytes));
    rig.clock.advance(StallMs - 1);
    QCOMPARE(rig.finished.count(), 0);
    rig.clock.advance(1);
    QCOMPARE(rig.finished.count(), 1);
    QCOMPARE(rig.host.log, log);
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Stopped);
    QVERIFY(rig.port.isOpen());
    QCOMPARE(rig.host.reports.size(), 0);
    rig.host.closePort();
    QCOMPARE(rig.host.log, log + LogClosed);
    QCOMPARE(rig.sim.deviations(), QStringList());
}

void TestDumpRun::handshakeHasNoTimeout()
{
    // The box may be switched to its host mode after Open.
    PtyPair pty;
    QVERIFY(pty.isValid());
    SessionRig rig;
    QVERIFY(rig.open(pty.slavePath()));
    rig.start(0, 1);
    Wire wire(pty);
    QTRY_COMPARE(wire.read(), Handshake);
    rig.clock.advance(10 * StallMs);
    QCOMPARE(rig.finished.count(), 0);
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Handshake);
    QCOMPARE(rig.host.log, LogStart);

    QVERIFY(pty.writeAll("PC___"));
    QTRY_COMPARE(wire.read(), Handshake + StartBlockRequest);
    rig.host.closePort();
    QCOMPARE(rig.host.log, LogStart + LogClosed);
}

void TestDumpRun::blockInPieces_data()
{
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<bool>("stalls");

    QTest::newRow("pieces within the time-out") << StallMs / 10 << false;
    // A box that trickles keeps the line busy but never answers: every piece
    // comes just before the old ten seconds of silence would have run out.
    QTest::newRow("a trickle past the time-out") << StallMs - 1 << true;
}

// A block reply is due whole within the time-out of its request, however it
// is cut into pieces.
void TestDumpRun::blockInPieces()
{
    QFETCH(int, gapMs);
    QFETCH(bool, stalls);

    PtyPair pty;
    QVERIFY(pty.isValid());
    SessionRig rig;
    QVERIFY(rig.open(pty.slavePath()));
    rig.start(0, 1);
    Wire wire(pty);
    QTRY_COMPARE(wire.read(), Handshake);
    for (const char *marker : {"PC___", "0000", "1984"}) {
        const qsizetype before = wire.bytes.size();
        QVERIFY(pty.writeAll(marker));
        QTRY_VERIFY(wire.read().size() > before);
    }
    QTRY_COMPARE(wire.read(), AllHandshake + blockRequest(0));

    constexpr int Pieces = 6;
    constexpr int Piece = DumpFile::BlockSize / Pieces;
    QByteArray reply(DumpFile::BlockSize, '\x01');
    reply += char(DumpFile::BlockSize % 256);
    qint64 sinceRequest = 0;
    for (int i = 0; i < Pieces && rig.finished.count() == 0; ++i) {
        QVERIFY(pty.writeAll(reply.mid(i * Piece, Piece)));
        QTRY_COMPARE(rig.port.bytesWaiting(), (i + 1) * Piece);
        rig.clock.advance(gapMs);
        sinceRequest += gapMs;
        QCOMPARE(rig.finished.count(), sinceRequest >= StallMs ? 1 : 0);
    }
    if (stalls) {
        QCOMPARE(rig.run.stage(), DumpRun::Stage::Stopped);
        QCOMPARE(rig.host.log, LogStart + blockAsked(0) + timeoutLine(awaitedBlock(0)));
        QCOMPARE(wire.read(), AllHandshake + blockRequest(0));
        rig.host.closePort();
        return;
    }
    QVERIFY(pty.writeAll(reply.mid(Pieces * Piece)));
    QTRY_COMPARE(wire.read(),
                 AllHandshake + blockRequest(0) + "1024DOWN_SUCCESS:0\rREQUEST_TOTALCRC\r");
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Total);
    QCOMPARE(rig.host.log, LogStart + blockLine(0) + TotalAsked);
    rig.host.closePort();
}

void TestDumpRun::portLost_data()
{
    QTest::addColumn<int>("at");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("afterBytes");
    QTest::addColumn<int>("badBlock"); // -1: none
    QTest::addColumn<QString>("log");
    QTest::addColumn<int>("fileBlocks");

    QTest::newRow("in the handshake") << int(Point::Marker) << 1 << 2 << -1 << LogStart << -1;
    QTest::newRow("in a block") << int(Point::Block) << 1 << 300 << -1
                                << LogStart + blockLine(0) + blockAsked(1) << 1;
    QTest::newRow("in the total") << int(Point::Total) << 0 << 0 << -1
                                  << LogStart + blockLine(0) + blockLine(1) + TotalAsked << 2;
    QTest::newRow("when stopped") << int(Point::Block) << 1 << tarvik::protocol::BlockReplySize << 1
                                  << LogStart + blockLine(0) + blockAsked(1) + crcErrorLine(1) << 2;
}

void TestDumpRun::portLost()
{
    QFETCH(int, at);
    QFETCH(int, index);
    QFETCH(int, afterBytes);
    QFETCH(int, badBlock);
    QFETCH(QString, log);
    QFETCH(int, fileBlocks);

    SessionRig rig;
    LoaderSim &sim = rig.sim;
    sim.setHangUp(Point(at), index, afterBytes);
    sim.setBadCheckBlock(badBlock);
    QVERIFY(rig.openOnSim());
    rig.start(0, 2);

    QTRY_COMPARE(rig.host.reports.size(), 1);
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(rig.run.stage(), DumpRun::Stage::Idle);
    // A hang-up is what a pulled adapter gives: the window's way on is Open.
    QVERIFY2(rig.host.log.startsWith(log + LogLost
                                     + tarvik::disconnectText(rig.port.devicePath(), QStringLiteral("Open"))
                                     + QStringLiteral("\r\n")),
             qPrintable(rig.host.log));
    QVERIFY(rig.host.log.endsWith(QStringLiteral("\r\n") + LogClosed));
    QCOMPARE(rig.host.log.count(LogLost), 1);
    QCOMPARE(rig.host.log.count(QStringLiteral("\r\n")), log.count(QStringLiteral("\r\n")) + 2);
    QCOMPARE(rig.finished.count(), 1);
    QCOMPARE(sim.deviations(), QStringList());
    QCOMPARE(rig.partialDump(), rig.partialDump(fileBlocks));
}

QTEST_GUILESS_MAIN(TestDumpRun)
#include "tst_dumprun.moc"
