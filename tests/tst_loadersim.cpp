// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadersim/loadersim.h"
#include "pty/rawpty.h"

#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using tarvik::LoaderSim;
using Stage = tarvik::LoaderSim::Stage;
using Point = tarvik::LoaderSim::Point;

namespace {

// The host's side of the conversation, written out here rather than taken from
// the simulator, so that a slip in either shows.
const QByteArray Record = QByteArray::fromHex("4B 41 05 16 21 27 82 7F E0 7F F0 7F FE 40 0E 0F"
                                              "10 11 12 13 14 15 16 17 18 19 1A 1B 4F 4E");
const QByteArray Handshake = QByteArray("REQUEST_V616\r\nBL_FLASH_INFO\r\n") + Record + "\r\n"
    + QByteArray(1, '\0') + "BL_FLASH_END\r\n";
const QByteArray StartBlock("REQUEST_START_BLOCK\r\n");
const QByteArray BlockWord("REQUEST_BLOCK\r\n");
const QByteArray Download("REQUEST_DOWNLOAD\r\n");
const QByteArray Total("REQUEST_TOTALCRC\r");
const QByteArray DownSuccess("DOWN_SUCCESS\r");
const QByteArray Upgrade("UPGRADE_SUCCESS\r\n");
const QByteArray HandshakeAll = Handshake + StartBlock + BlockWord + Download;

QByteArray request(int n) { return "REQUEST_1024DOWN:" + QByteArray::number(n) + '\r'; }
QByteArray ack(int n) { return "1024DOWN_SUCCESS:" + QByteArray::number(n) + '\r'; }

quint8 sum(const QByteArray &data)
{
    unsigned s = 0;
    for (const char c : data)
        s += quint8(c);
    return quint8(s);
}

// Three blocks of a pattern that is easy to compute.
QByteArray testImage()
{
    QByteArray image(3 * 1024, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char((i * 31 + i / 1024 + 5) & 0xFF);
    return image;
}

QByteArray blockReply(int n, int checkOffset = 0)
{
    const QByteArray data = testImage().mid(n * 1024, 1024);
    return data + char(quint8(sum(data) + checkOffset));
}

// A host that opens the device like a program would, and collects what arrives.
class Host : public QObject
{
public:
    explicit Host(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        tarvik::setRawMode(m_fd);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    }
    ~Host() override { close(); }

    bool isOpen() const { return m_fd >= 0; }

    bool send(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p{m_fd, POLLOUT, 0};
                ::poll(&p, 1, 100);
            } else {
                return false;
            }
        }
        sent += bytes;
        return true;
    }

    void close()
    {
        delete m_notifier;
        m_notifier = nullptr;
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    QByteArray received;
    QByteArray sent;
    bool hungUp = false;

private:
    void onReadable()
    {
        char buf[4096];
        for (;;) {
            const ssize_t n = ::read(m_fd, buf, sizeof buf);
            if (n > 0) {
                received.append(buf, n);
                continue;
            }
            if (n < 0 && errno == EAGAIN)
                return;
            if (n < 0 && errno == EINTR)
                continue;
            hungUp = true;
            m_notifier->setEnabled(false);
            return;
        }
    }

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};

enum class Fault { None, BadCheck, BadTotal, SplitMarkers, ExtraAfterBlock, ExtraAfterTotal, Stall, HangUp, Paced };

} // namespace

Q_DECLARE_METATYPE(Fault)

class TestLoaderSim : public QObject
{
    Q_OBJECT

private slots:
    void defaultImage();
    void beyondImage_data();
    void beyondImage();
    void goodConversation();
    void faults_data();
    void faults();
    void deviations_data();
    void deviations();
    void program_data();
    void program();
};

void TestLoaderSim::defaultImage()
{
    const QByteArray image = LoaderSim::defaultImage();
    QCOMPARE(image.size(), 1024 * 1024);
    QCOMPARE(image.mid(8, 9), QByteArray("KSF-2100\0", 9));
    QCOMPARE(image.mid(48, 3), QByteArray("\x15\x03\x02"));
    QCOMPARE(image.mid(52, 3), QByteArray("\x0a\x00\x01", 3));
    QCOMPARE(LoaderSim::defaultImage(), image);

    const QByteArray other = LoaderSim::defaultImage("KSF-XY");
    QCOMPARE(other.mid(8, 7), QByteArray("KSF-XY\0", 7));
    QCOMPARE(other.mid(1024), image.mid(1024));

    // Data, not a fill: every byte value turns up in the first blocks.
    QSet<char> values;
    for (const char c : image.left(8 * 1024))
        values.insert(c);
    QCOMPARE(values.size(), 256);
}

void TestLoaderSim::beyondImage_data()
{
    QTest::addColumn<LoaderSim::Beyond>("beyond");
    QTest::addColumn<int>("block");
    QTest::addColumn<QByteArray>("expected");

    QByteArray image(1536, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251 + 1);
    QTest::newRow("inside") << LoaderSim::Beyond::ZeroFill << 0 << image.left(1024);
    QTest::newRow("partly beyond, zero-filled") << LoaderSim::Beyond::ZeroFill << 1
                                                << image.mid(1024) + QByteArray(512, '\0');
    QTest::newRow("partly beyond, wrapped") << LoaderSim::Beyond::Wrap << 1 << image.mid(1024) + image.left(512);
    QTest::newRow("far beyond, zero-filled") << LoaderSim::Beyond::ZeroFill << 32767 << QByteArray(1024, '\0');
    QTest::newRow("far beyond, wrapped") << LoaderSim::Beyond::Wrap << 3 << image.left(1024);
}

void TestLoaderSim::beyondImage()
{
    QFETCH(LoaderSim::Beyond, beyond);
    QFETCH(int, block);
    QFETCH(QByteArray, expected);

    QByteArray image(1536, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i % 251 + 1);
    LoaderSim sim;
    sim.setImage(image);
    sim.setBeyond(beyond);
    QCOMPARE(sim.block(block), expected);
}

// Two blocks byte for byte, the host closing, then a second conversation with
// no blocks on the same device.
void TestLoaderSim::goodConversation()
{
    LoaderSim sim;
    sim.setImage(testImage());
    QVERIFY(sim.open());
    QSignalSpy finished(&sim, &LoaderSim::conversationFinished);
    QSignalSpy hostClosed(&sim, &LoaderSim::hostClosed);
    QSignalSpy served(&sim, &LoaderSim::blockServed);

    Host host(sim.slavePath());
    QVERIFY(host.isOpen());
    QVERIFY(host.send(Handshake));
    QTRY_COMPARE(host.received, QByteArray("PC___"));
    QCOMPARE(sim.stage(), Stage::StartBlock);
    QVERIFY(host.send(StartBlock));
    QTRY_COMPARE(host.received, QByteArray("PC___0000"));
    QVERIFY(host.send(BlockWord));
    QTRY_COMPARE(host.received, QByteArray("PC___00001984"));
    QVERIFY(host.send(Download));
    QTRY_COMPARE(sim.stage(), Stage::Request);

    QByteArray expected = host.received;
    for (int n = 1; n <= 2; ++n) {
        QVERIFY(host.send(request(n)));
        expected += blockReply(n);
        QTRY_COMPARE(host.received.size(), expected.size());
        QCOMPARE(host.received, expected);
        QVERIFY(host.send(ack(n)));
    }
    QVERIFY(host.send(Total));
    expected += char(quint8(sum(testImage().mid(1024, 2048))));
    QTRY_COMPARE(host.received, expected);
    QVERIFY(host.send(DownSuccess + Upgrade));
    QVERIFY(finished.wait());
    QCOMPARE(sim.stage(), Stage::Done);
    QCOMPARE(sim.received(), host.sent);
    QCOMPARE(sim.sent(), host.received);
    QCOMPARE(sim.blocksServed(), QList<int>({1, 2}));
    QCOMPARE(served.count(), 2);
    QVERIFY2(sim.deviations().isEmpty(), qPrintable(sim.deviations().join('\n')));

    host.close();
    QVERIFY(hostClosed.wait());
    QCOMPARE(sim.stage(), Stage::Handshake);

    Host again(sim.slavePath());
    QVERIFY(again.isOpen());
    QVERIFY(again.send(HandshakeAll + Total));
    QTRY_COMPARE(again.received, QByteArray("PC___00001984\0", 14));
    QVERIFY(again.send(DownSuccess + Upgrade));
    QTRY_COMPARE(finished.count(), 2);
    QVERIFY2(sim.deviations().isEmpty(), qPrintable(sim.deviations().join('\n')));
}

void TestLoaderSim::faults_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<Point>("at");
    QTest::addColumn<int>("index");
    // What the host gets for the markers, blocks 0 and 1 and the total; the
    // script stops after the last one given.
    QTest::addColumn<QByteArrayList>("replies");
    QTest::addColumn<bool>("hungUp");
    QTest::addColumn<Stage>("stage");

    const QByteArray total(1, char(quint8(sum(testImage().left(2048)))));
    const QByteArrayList markers{"PC___", "0000", "1984"};
    const QByteArrayList clean = markers + QByteArrayList{blockReply(0), blockReply(1), total};

    QTest::newRow("none") << Fault::None << Point::None << 0 << clean << false << Stage::Done;
    QTest::newRow("paced") << Fault::Paced << Point::None << 0 << clean << false << Stage::Done;
    QTest::newRow("bad check byte") << Fault::BadCheck << Point::Block << 1
                                    << markers + QByteArrayList{blockReply(0), blockReply(1, 1)} << false
                                    << Stage::Silent;
    QTest::newRow("bad total") << Fault::BadTotal << Point::Total << 0
                               << markers + QByteArrayList{blockReply(0), blockReply(1), QByteArray(1, char(total[0] + 1))}
                               << false << Stage::Done;
    QTest::newRow("split markers") << Fault::SplitMarkers << Point::None << 0 << clean << false << Stage::Done;
    QTest::newRow("extra after a block") << Fault::ExtraAfterBlock << Point::Block << 0
                                         << markers + QByteArrayList{blockReply(0) + "EXTRA", blockReply(1), total}
                                         << false << Stage::Done;
    QTest::newRow("extra after the total") << Fault::ExtraAfterTotal << Point::Total << 0
                                           << markers + QByteArrayList{blockReply(0), blockReply(1), total + "EXTRA"}
                                           << false << Stage::Done;
    QTest::newRow("stall in a block") << Fault::Stall << Point::Block << 1
                                      << markers + QByteArrayList{blockReply(0), blockReply(1).left(100)} << false
                                      << Stage::Silent;
    QTest::newRow("hang-up at the first marker") << Fault::HangUp << Point::Marker << 0 << QByteArrayList{""}
                                                 << true << Stage::Closed;
    QTest::newRow("hang-up in a block") << Fault::HangUp << Point::Block << 1
                                        << markers + QByteArrayList{blockReply(0), blockReply(1).left(100)} << true
                                        << Stage::Closed;
    QTest::newRow("hang-up at the total") << Fault::HangUp << Point::Total << 0
                                          << markers + QByteArrayList{blockReply(0), blockReply(1), ""} << true
                                          << Stage::Closed;
}

void TestLoaderSim::faults()
{
    QFETCH(Fault, fault);
    QFETCH(Point, at);
    QFETCH(int, index);
    QFETCH(QByteArrayList, replies);
    QFETCH(bool, hungUp);
    QFETCH(Stage, stage);

    LoaderSim sim;
    sim.setImage(testImage());
    sim.setExpectedRange(0, 2);
    switch (fault) {
    case Fault::None: break;
    case Fault::BadCheck: sim.setBadCheckBlock(index); break;
    case Fault::BadTotal: sim.setBadTotal(true); break;
    case Fault::SplitMarkers: sim.setSplitMarkers(true); break;
    case Fault::ExtraAfterBlock:
    case Fault::ExtraAfterTotal: sim.setExtraAfterReply(at, index, "EXTRA"); break;
    case Fault::Stall: sim.setStall(at, index, 100); break;
    case Fault::HangUp: sim.setHangUp(at, index, at == Point::Block ? 100 : 0); break;
    case Fault::Paced: sim.setBaudRate(115200); break;
    }
    QVERIFY(sim.open());
    QSignalSpy hangUps(&sim, &LoaderSim::hungUp);
    Host host(sim.slavePath());
    QVERIFY(host.isOpen());

    const bool totalGood = fault != Fault::BadTotal;
    const QByteArrayList requests{Handshake, StartBlock, BlockWord, Download + request(0),
                                  ack(0) + request(1), ack(1) + Total};
    QByteArray expected;
    for (int step = 0; step < replies.size(); ++step) {
        const qsizetype before = host.received.size();
        QVERIFY(host.send(requests.at(step)));
        const QByteArray &reply = replies.at(step);
        if (fault == Fault::SplitMarkers && step < 3) {
            // The marker, with other text around it; nothing after the last one.
            QTRY_VERIFY(host.received.mid(before).contains(reply)
                        && (step < 2 || host.received.endsWith(reply)));
            const QByteArray got = host.received.mid(before);
            QVERIFY2(!got.startsWith(reply), got.constData());
            QCOMPARE(got.endsWith(reply), step == 2);
            expected += got;
            continue;
        }
        expected += reply;
        if (reply.isEmpty() && hungUp)
            QTRY_VERIFY(host.hungUp);
        else
            QTRY_COMPARE(host.received.size(), expected.size());
        QCOMPARE(host.received, expected);
    }
    if (replies.size() == 6 && !hungUp)
        QVERIFY(host.send((totalGood ? DownSuccess : QByteArray()) + Upgrade));

    QTRY_COMPARE(sim.stage(), stage);
    if (hungUp) {
        QTRY_VERIFY(host.hungUp);
        QCOMPARE(hangUps.count(), 1);
        QVERIFY(!sim.isOpen());
    } else {
        QVERIFY(!host.hungUp);
    }
    QCOMPARE(host.received, expected);
    QCOMPARE(sim.sent(), expected);
    QCOMPARE(sim.received(), host.sent);
    QVERIFY2(sim.deviations().isEmpty(), qPrintable(sim.deviations().join('\n')));
}

void TestLoaderSim::deviations_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("offset");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<bool>("range"); // the simulator knows the block range to expect

    const int head = int(HandshakeAll.size());
    const QByteArray block0 = HandshakeAll + request(0);
    const QByteArray twoBlocks = block0 + ack(0) + request(1) + ack(1);
    QByteArray badRecord = Handshake;
    badRecord[29 + 5] = 'x';
    const int nulAt = int(Handshake.indexOf('\0'));

    QTest::newRow("no NUL after the record") << QByteArray(Handshake).remove(nulAt, 1) << nulAt << Fault::None << true;
    QTest::newRow("wrong record byte") << badRecord << 29 + 5 << Fault::None << true;
    QTest::newRow("LF alone") << QByteArray("REQUEST_V616\n") << 12 << Fault::None << true;
    QTest::newRow("block request with CR LF")
        << HandshakeAll + "REQUEST_1024DOWN:0\r\n" << head + 19 << Fault::None << true;
    QTest::newRow("leading zero") << HandshakeAll + "REQUEST_1024DOWN:07\r" << head + 18 << Fault::None << false;
    QTest::newRow("sign") << HandshakeAll + "REQUEST_1024DOWN:-1\r" << head + 17 << Fault::None << false;
    QTest::newRow("six digits") << HandshakeAll + "REQUEST_1024DOWN:100000\r" << head + 22 << Fault::None << false;
    QTest::newRow("blocks not consecutive")
        << block0 + ack(0) + request(2) << int(block0.size() + ack(0).size()) + 17 << Fault::None << true;
    QTest::newRow("block outside the range") << HandshakeAll + request(1) << head + 17 << Fault::None << true;
    QTest::newRow("total before the blocks") << HandshakeAll + Total << head + 8 << Fault::None << true;
    QTest::newRow("ack of another block") << block0 + ack(1) << int(block0.size()) + 17 << Fault::None << false;
    QTest::newRow("ack after a bad check byte") << block0 + ack(0) << int(block0.size()) << Fault::BadCheck << false;
    QTest::newRow("DOWN_SUCCESS after a bad total")
        << twoBlocks + Total + DownSuccess << int(twoBlocks.size() + Total.size()) << Fault::BadTotal << false;
    QTest::newRow("bytes after the end")
        << twoBlocks + Total + DownSuccess + Upgrade + "\r\n"
        << int(twoBlocks.size() + Total.size() + DownSuccess.size() + Upgrade.size()) << Fault::None << true;
}

void TestLoaderSim::deviations()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, offset);
    QFETCH(Fault, fault);
    QFETCH(bool, range);

    LoaderSim sim;
    if (range)
        sim.setExpectedRange(0, 2);
    if (fault == Fault::BadCheck)
        sim.setBadCheckBlock(0);
    sim.setBadTotal(fault == Fault::BadTotal);
    QVERIFY(sim.open());
    QSignalSpy deviation(&sim, &LoaderSim::deviation);
    Host host(sim.slavePath());
    QVERIFY(host.isOpen());

    // Bytes after the first deviation are recorded but not judged again.
    QVERIFY(host.send(stream + "garbage"));
    QTRY_COMPARE(sim.received().size(), stream.size() + 7);
    QCOMPARE(deviation.count(), 1);
    QCOMPARE(sim.deviations().size(), 1);
    const QString what = sim.deviations().first();
    QVERIFY2(what.startsWith(QStringLiteral("byte %1 of").arg(offset)), qPrintable(what));
    QCOMPARE(deviation.first().first().toString(), what);
    QCOMPARE(sim.stage(), Stage::Failed);
}

void TestLoaderSim::program_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("exitCode");

    const QByteArray image = LoaderSim::defaultImage("DEMO");
    const QByteArray block = image.left(1024);
    const QByteArray one = HandshakeAll + request(0) + ack(0) + Total;
    QTest::newRow("clean, no blocks") << QStringList{} << HandshakeAll + Total + DownSuccess + Upgrade
                                      << QByteArray("PC___00001984\0", 14) << 0;
    QTest::newRow("one block of a named model")
        << QStringList{"--model", "DEMO", "--expect", "0,1"} << one + DownSuccess + Upgrade
        << QByteArray("PC___00001984") + block + char(sum(block)) + char(sum(block)) << 0;
    QTest::newRow("bad total") << QStringList{"--bad-total"} << HandshakeAll + Total + Upgrade
                               << QByteArray("PC___00001984\x01", 14) << 0;
    QTest::newRow("deviation") << QStringList{} << QByteArray("REQUEST_V616\n") << QByteArray() << 1;
}

// The program, as the demo runs it: device path on stdout, a link, and an end
// when the host closes the device.
void TestLoaderSim::program()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, replies);
    QFETCH(int, exitCode);

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    QProcess process;
    process.start(QStringLiteral(TARVIK_LOADER_SIM), arguments + QStringList{"--link", link});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY(process.canReadLine());
    const QString path = QString::fromLocal8Bit(process.readLine()).trimmed();
    QVERIFY(path.startsWith(QLatin1String("/dev/")));
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);

    {
        Host host(link);
        QVERIFY(host.isOpen());
        QVERIFY(host.send(stream));
        QTRY_COMPARE(host.received, replies);
    }
    QTRY_COMPARE(process.state(), QProcess::NotRunning);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), exitCode);
    const QByteArray errors = process.readAllStandardError();
    QCOMPARE(errors.contains("deviation"), exitCode == 1);
    QVERIFY(!QFileInfo(link).isSymLink());
}

QTEST_GUILESS_MAIN(TestLoaderSim)
#include "tst_loadersim.moc"
