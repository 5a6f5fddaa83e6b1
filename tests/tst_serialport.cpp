// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/serialport.h"
#include "dump/session.h"
#include "support/ordinaryuser.h"
#include "support/ptypair.h"

#include <QFileInfo>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using tarvik::SerialPort;
using tarvik::SerialService;
using OpenError = tarvik::SerialService::OpenError;

namespace {

bool writeLock(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(text) == text.size();
}


// The lock file of a device in the lock folder (the test's own, see initTestCase()).
QString lockPath(const QString &device)
{
    const QString canonical = QFileInfo(device).canonicalFilePath();
    return tarvik::serialLockPath(canonical.isEmpty() ? device : canonical);
}

bool lockFileExists(const QString &device)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(lockPath(device)).constData(), &st) == 0;
}

// The port as a session sets it up to open a device.
void setUp(SerialPort &port, const QString &device)
{
    tarvik::Session::applyLineSettings(port);
    port.setDevice(device);
}

} // namespace

class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openAndClose();
    void lineSettings_data();
    void lineSettings();
    void invalidSettingsFailOpen();
    void read_data();
    void read();
    void wholeBlockReply();
    void output_data();
    void output();
    void discard();
    void closedPortIsInert();
    void openErrors_data();
    void openErrors();
    void busy_data();
    void busy();
    void permissionDenied();
    void staleLockOfAnotherUser();
    void hangUp();

private:
    QScopedPointer<PtyPair> m_pty;
    QTemporaryDir m_lockFolder;
};

void TestSerialPort::initTestCase()
{
    QVERIFY(m_lockFolder.isValid());
    // Reached by an ordinary user's probe too.
    QCOMPARE(::chmod(QFile::encodeName(m_lockFolder.path()).constData(), 01777), 0);
    qputenv("TARVIK_LOCK_FOLDER", QFile::encodeName(m_lockFolder.path()));
}

void TestSerialPort::init()
{
    m_pty.reset(new PtyPair);
    QVERIFY(m_pty->isValid());
}

void TestSerialPort::cleanup()
{
    m_pty.reset();
}

void TestSerialPort::openAndClose()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    QSignalSpy closed(&port, &SerialService::portClosed);
    QVERIFY(!port.isOpen());

    for (int round = 0; round < 2; ++round) {
        QCOMPARE(port.open(), OpenError::None);
        QVERIFY(port.isOpen());
        QCOMPARE(port.devicePath(), m_pty->slavePath());
        QVERIFY(lockFileExists(m_pty->slavePath()));

        port.close();
        QVERIFY(!port.isOpen());
        QCOMPARE(closed.count(), round + 1);
        QVERIFY(!lockFileExists(m_pty->slavePath()));
    }

    // Closing a closed port changes nothing.
    port.close();
    QCOMPARE(closed.count(), 2);
}

// The pseudo-terminal driver always keeps 8 data bits without parity, so only
// the speed, the stop bits and the flow control can be seen on it.
void TestSerialPort::lineSettings_data()
{
    QTest::addColumn<tarvik::LineSettings>("settings");
    QTest::addColumn<speed_t>("speed");
    QTest::addColumn<bool>("twoStops");

    QTest::newRow("115200,N,8,1") << tarvik::Session::Line << speed_t(B115200) << false;
    QTest::newRow("9600,E,7,2") << tarvik::LineSettings{9600, QSerialPort::EvenParity, QSerialPort::Data7,
                                                        QSerialPort::TwoStop}
                                << speed_t(B9600) << true;
}

void TestSerialPort::lineSettings()
{
    QFETCH(tarvik::LineSettings, settings);
    QFETCH(speed_t, speed);
    QFETCH(bool, twoStops);

    SerialPort port;
    setUp(port, m_pty->slavePath());
    port.setLineSettings(settings);
    QCOMPARE(port.lineSettings(), settings);
    QCOMPARE(port.open(), OpenError::None);

    termios tio{};
    QCOMPARE(::tcgetattr(m_pty->slaveKeeperFd(), &tio), 0);
    QCOMPARE(::cfgetospeed(&tio), speed);
    QCOMPARE(::cfgetispeed(&tio), speed);
    QCOMPARE(bool(tio.c_cflag & CSTOPB), twoStops);
    QVERIFY(!(tio.c_cflag & CRTSCTS));
    QVERIFY(!(tio.c_iflag & (IXON | IXOFF)));
    // Raw: bytes pass as they are.
    QVERIFY(!(tio.c_iflag & (ICRNL | INLCR | ISTRIP)));
    QVERIFY(!(tio.c_oflag & OPOST));
    QVERIFY(!(tio.c_lflag & (ICANON | ECHO | ISIG)));
}

void TestSerialPort::invalidSettingsFailOpen()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    port.setLineSettings(tarvik::LineSettings{0});
    QCOMPARE(port.open(), OpenError::Other);
    QVERIFY(!port.isOpen());
    QVERIFY2(port.errorString().contains(QLatin1String("speed 0")), qPrintable(port.errorString()));
}

void TestSerialPort::read_data()
{
    QTest::addColumn<bool>("asText");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray mixed("A\0B\xff\x80\x7f\r\n", 8);
    QTest::newRow("text") << true << mixed;
    QTest::newRow("binary") << false << mixed;
    QTest::newRow("text NUL only") << true << QByteArray(1, '\0');
    QTest::newRow("binary 0xFF only") << false << QByteArray(1, '\xff');
}

void TestSerialPort::read()
{
    QFETCH(bool, asText);
    QFETCH(QByteArray, bytes);

    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.open(), OpenError::None);
    QSignalSpy readyRead(&port, &SerialService::readyRead);

    QVERIFY(m_pty->writeAll(bytes));
    QTRY_COMPARE(port.bytesWaiting(), int(bytes.size()));
    QVERIFY(readyRead.count() > 0);

    if (asText) {
        const QString text = port.readText();
        QCOMPARE(text.size(), bytes.size());
        for (qsizetype i = 0; i < bytes.size(); ++i)
            QCOMPARE(text.at(i).unicode(), ushort(quint8(bytes.at(i))));
    } else {
        QCOMPARE(port.readBytes(), bytes);
    }
    QCOMPARE(port.bytesWaiting(), 0);
}

void TestSerialPort::wholeBlockReply()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.open(), OpenError::None);

    QByteArray reply(1025, Qt::Uninitialized);
    for (int i = 0; i < reply.size(); ++i)
        reply[i] = char(i * 7);
    QVERIFY(m_pty->writeAll(reply));
    QTRY_COMPARE(port.bytesWaiting(), 1025);

    const QByteArray got = port.readBytes();
    QCOMPARE(got.size(), 1025);
    QCOMPARE(got, reply);
    QCOMPARE(port.bytesWaiting(), 0);
}

void TestSerialPort::output_data()
{
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("NUL") << QByteArray(1, '\0');
    QTest::newRow("above 0x7F") << QByteArray("\x80\xe9\xff");
    QTest::newRow("request with CR LF") << QByteArray("REQUEST_V616\r\n");
    QTest::newRow("block request with CR") << QByteArray("REQUEST_1024DOWN:7\r");
    QTest::newRow("empty") << QByteArray();
}

void TestSerialPort::output()
{
    QFETCH(QByteArray, bytes);

    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.open(), OpenError::None);
    port.send(bytes);
    port.send("#");
    // Closing right after a send must not lose it.
    port.close();

    QCOMPARE(m_pty->readExactly(int(bytes.size()) + 1), bytes + '#');
}

void TestSerialPort::discard()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.open(), OpenError::None);

    QVERIFY(m_pty->writeAll(QByteArray(300, 'x')));
    QTRY_COMPARE(port.bytesWaiting(), 300);
    port.discardInput();
    QCOMPARE(port.bytesWaiting(), 0);

    QVERIFY(m_pty->writeAll("new"));
    QTRY_COMPARE(port.bytesWaiting(), 3);
    QCOMPARE(port.readBytes(), QByteArray("new"));
}

void TestSerialPort::closedPortIsInert()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.bytesWaiting(), 0);
    port.discardInput();
    port.send("lost");
    QCOMPARE(port.readText(), QString());
    QCOMPARE(port.readBytes(), QByteArray());
    QCOMPARE(m_pty->readAvailable(), QByteArray());
}

void TestSerialPort::openErrors_data()
{
    QTest::addColumn<QString>("device"); // a file name inside a temporary folder, or empty for none
    QTest::addColumn<OpenError>("error");

    QTest::newRow("missing device") << QStringLiteral("ttyUSB9") << OpenError::NotPresent;
    QTest::newRow("dangling link") << QStringLiteral("dangling") << OpenError::NotPresent;
    QTest::newRow("not a terminal") << QStringLiteral("plain-file") << OpenError::Other;
    QTest::newRow("no device") << QString() << OpenError::NotPresent;
}

void TestSerialPort::openErrors()
{
    QFETCH(QString, device);
    QFETCH(OpenError, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = device.isEmpty() ? QString() : dir.filePath(device);
    if (device == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
    if (device == QLatin1String("plain-file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    SerialPort port;
    setUp(port, path);
    QCOMPARE(port.open(), error);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.devicePath(), path);
    QVERIFY(!port.errorString().isEmpty());

    // A failed open leaves the port closed and quiet.
    QSignalSpy closed(&port, &SerialService::portClosed);
    port.close();
    QCOMPARE(closed.count(), 0);
}

void TestSerialPort::busy_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("throughLink");

    QTest::newRow("second port") << QStringLiteral("port") << false;
    QTest::newRow("second port through a link") << QStringLiteral("port") << true;
    QTest::newRow("lock file of another program") << QStringLiteral("lock") << false;
    QTest::newRow("exclusive opener without a lock file") << QStringLiteral("exclusive") << false;
}

void TestSerialPort::busy()
{
    QFETCH(QString, holder);
    QFETCH(bool, throughLink);

    SerialPort first;
    setUp(first, m_pty->slavePath());
    bool lock = false;
    int exclusive = -1;
    const auto closeExclusive = qScopeGuard([&exclusive] {
        if (exclusive >= 0)
            ::close(exclusive);
    });
    if (holder == QLatin1String("port")) {
        QCOMPARE(first.open(), OpenError::None);
    } else if (holder == QLatin1String("exclusive")) {
        exclusive = ::open(QFile::encodeName(m_pty->slavePath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(exclusive >= 0);
        QCOMPARE(::ioctl(exclusive, TIOCEXCL), 0);
    } else {
        // Named after a live process: the one that started the test.
        QVERIFY(writeLock(lockPath(m_pty->slavePath()), QByteArray::number(qint64(::getppid())) + '\n'));
        lock = true;
    }

    QTemporaryDir dir;
    QString device = m_pty->slavePath();
    if (throughLink) {
        device = dir.filePath(QStringLiteral("tty-link"));
        QVERIFY(QFile::link(m_pty->slavePath(), device));
    }
    if (exclusive >= 0 && ::geteuid() == 0) {
        // An exclusive opener does not keep root out: an ordinary user tries.
        QCOMPARE(::chmod(QFile::encodeName(m_pty->slavePath()).constData(), 0666), 0);
        QVERIFY(openFolderToOrdinaryUser(dir.path()));
        QCOMPARE(probeOpenAsOrdinaryUser(device).value(0), QStringLiteral("Busy"));
        return;
    }
    SerialPort second;
    setUp(second, device);
    QCOMPARE(second.open(), OpenError::Busy);
    QVERIFY(!second.isOpen());

    // The holder's lock is untouched by the failed attempt.
    QCOMPARE(lockFileExists(m_pty->slavePath()), exclusive < 0);
    if (lock)
        QVERIFY(QFile::remove(lockPath(m_pty->slavePath())));
    if (exclusive >= 0)
        ::ioctl(exclusive, TIOCNXCL);
    first.close();
    QCOMPARE(second.open(), OpenError::None);
}

void TestSerialPort::permissionDenied()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("tty-link"));
    QVERIFY(QFile::link(m_pty->slavePath(), link));
    QCOMPARE(::chmod(QFile::encodeName(m_pty->slavePath()).constData(), 0), 0);
    if (::geteuid() == 0) {
        // The rights on a device do not hold for root: an ordinary user tries.
        QVERIFY(openFolderToOrdinaryUser(dir.path()));
        const QStringList probe = probeOpenAsOrdinaryUser(link);
        QCOMPARE(probe.value(0), QStringLiteral("PermissionDenied"));
        QVERIFY2(probe.value(1).startsWith(QStringLiteral("No permission to open ") + link), qPrintable(probe.value(1)));
        QVERIFY(!lockFileExists(m_pty->slavePath()));
        return;
    }

    SerialPort port;
    setUp(port, link);
    QCOMPARE(port.open(), OpenError::PermissionDenied);
    QVERIFY(!port.isOpen());
    QCOMPARE(port.devicePath(), link);
    QVERIFY(!lockFileExists(m_pty->slavePath()));
}

// A lock whose process is gone, in a folder where only its owner may remove
// it: the port is refused with what to remove, not as held by somebody.
void TestSerialPort::staleLockOfAnotherUser()
{
    if (::geteuid() != 0)
        QSKIP("only root can leave a lock file that an ordinary user may not remove");
    const QString lock = lockPath(m_pty->slavePath());
    QVERIFY(writeLock(lock, "  99999999\n"));
    const auto removeLock = qScopeGuard([&lock] { QFile::remove(lock); });
    QCOMPARE(::chmod(QFile::encodeName(m_pty->slavePath()).constData(), 0666), 0);
    const QStringList probe = probeOpenAsOrdinaryUser(m_pty->slavePath());
    QCOMPARE(probe.value(0), QStringLiteral("LockInTheWay"));
    QCOMPARE(probe.value(1), lock + QStringLiteral(" is a stale lock file (the process it names is gone) that this "
                                                   "user may not remove: remove it (it belongs to uid 0)"));
    QVERIFY(QFileInfo::exists(lock));
}

void TestSerialPort::hangUp()
{
    SerialPort port;
    setUp(port, m_pty->slavePath());
    QCOMPARE(port.open(), OpenError::None);
    QSignalSpy lost(&port, &SerialService::portLost);
    QSignalSpy closed(&port, &SerialService::portClosed);

    m_pty->closeMaster();
    QVERIFY(lost.wait());
    QVERIFY(!lost.first().first().toString().isEmpty());
    // The device is let go at once, but the port stays open until closed.
    QTRY_VERIFY(!lockFileExists(m_pty->slavePath()));
    QVERIFY(port.isOpen());
    QCOMPARE(lost.count(), 1);
    QCOMPARE(closed.count(), 0);
    QCOMPARE(port.bytesWaiting(), 0);
    port.send("nowhere");

    port.close();
    QVERIFY(!port.isOpen());
    QCOMPARE(closed.count(), 1);
    QCOMPARE(lost.count(), 1);
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
