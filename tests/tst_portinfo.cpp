// SPDX-License-Identifier: GPL-3.0-or-later
// What the system tells about serial ports and their holders, read from
// sysfs, /dev/serial/by-id, lock files and /proc trees built by the test.
#include "dump/portinfo.h"
#include "support/ptypair.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using tarvik::PortDetails;
using tarvik::PortHolder;
using tarvik::SystemFolders;

Q_DECLARE_METATYPE(PortDetails)

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool makeLink(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    return QFile::link(target, path);
}

// A temporary folder holding a small system: dev/, sysfs/, by-id/, proc/ and lock/.
struct FakeSystem {
    QTemporaryDir dir;

    QString path(const QString &relative) const { return dir.filePath(relative); }
    SystemFolders folders() const
    {
        return {path("sysfs"), path("by-id"), path("proc"), {path("lock"), path("lock2")}};
    }
    // A USB device at sysfs/devices/<usb> with the given attributes ("" leaves one out).
    void usbDevice(const QString &usb, const QStringList &attributes)
    {
        const char *names[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
        for (int i = 0; i < attributes.size(); ++i) {
            if (!attributes.at(i).isEmpty())
                QVERIFY(writeFile(path("sysfs/devices/" + usb + "/" + names[i]), attributes.at(i).toUtf8() + '\n'));
        }
    }
    // A tty whose sysfs device is sysfs/devices/<device>, and its node dev/<name>.
    void tty(const QString &name, const QString &device)
    {
        QVERIFY(QDir().mkpath(path("sysfs/devices/" + device)));
        QVERIFY(makeLink(path("sysfs/devices/" + device), path("sysfs/class/tty/" + name + "/device")));
        QVERIFY(writeFile(path("dev/" + name), QByteArray()));
    }
    // A process with a command name and, optionally, the file it holds open.
    void process(qint64 pid, const QByteArray &comm, const QString &holds = QString())
    {
        QVERIFY(writeFile(path(QStringLiteral("proc/%1/comm").arg(pid)), comm + '\n'));
        QVERIFY(QDir().mkpath(path(QStringLiteral("proc/%1/fd").arg(pid))));
        QVERIFY(makeLink(path(QStringLiteral("dev/null")), path(QStringLiteral("proc/%1/fd/0").arg(pid))));
        if (!holds.isEmpty())
            QVERIFY(makeLink(holds, path(QStringLiteral("proc/%1/fd/5").arg(pid))));
    }
};

} // namespace

class TestPortInfo : public QObject
{
    Q_OBJECT
private slots:
    void plainText_data();
    void plainText();
    void sameFile_data();
    void sameFile();
    void collect_data();
    void collect();
    void holder_data();
    void holder();
};

void TestPortInfo::plainText_data()
{
    QTest::addColumn<QString>("outside");
    QTest::addColumn<QString>("plain");
    QTest::newRow("ordinary") << "FT232R USB UART" << "FT232R USB UART";
    QTest::newRow("letters beyond ASCII") << QString::fromUtf8("Prolific Ünïcödé ✓") << QString::fromUtf8("Prolific Ünïcödé ✓");
    QTest::newRow("terminal escape") << "evil\x1b[2J\x1b]0;title\x07name" << "evil[2J]0;titlename";
    QTest::newRow("line breaks and tabs") << "two\r\nlines\tand tab" << "twolinesand tab";
    QTest::newRow("DEL and C1") << QString::fromUtf8("a\x7f" "b\xc2\x9b" "c\xc2\x85" "d") << "abcd";
    QTest::newRow("bidi override, line separator") << QString::fromUtf8("gpj\u202Eexe.txt\u2028x") << "gpjexe.txtx";
    QTest::newRow("only controls") << "\x01\x02" << "";
}

void TestPortInfo::plainText()
{
    QFETCH(QString, outside);
    QFETCH(QString, plain);
    QCOMPARE(tarvik::plainText(outside), plain);
}

void TestPortInfo::sameFile_data()
{
    QTest::addColumn<QString>("a"); // PTY1, PTY2, or a path in the test's folder
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("a pty and itself") << "PTY1" << "PTY1" << true;
    QTest::newRow("a pty and a link to it") << "PTY1" << "a/ttyUSB0" << true;
    QTest::newRow("two links to one pty") << "a/ttyUSB0" << "b/COM" << true;
    QTest::newRow("two ptys") << "PTY1" << "PTY2" << false;
    QTest::newRow("two ptys through links of one name") << "a/ttyUSB0" << "c/ttyUSB0" << false;
    QTest::newRow("a file and a hard link to it") << "file" << "hardlink" << true;
    QTest::newRow("missing, one path spelled twice") << "gone/ttyUSB9" << "gone/./x/../ttyUSB9" << true;
    QTest::newRow("missing and present") << "gone/ttyUSB9" << "PTY1" << false;
}

void TestPortInfo::sameFile()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    PtyPair one;
    PtyPair two;
    QVERIFY(one.isValid() && two.isValid());
    QTemporaryDir dir;
    QVERIFY(makeLink(one.slavePath(), dir.filePath("a/ttyUSB0")));
    QVERIFY(makeLink(one.slavePath(), dir.filePath("b/COM")));
    QVERIFY(makeLink(two.slavePath(), dir.filePath("c/ttyUSB0")));
    QVERIFY(writeFile(dir.filePath("file"), "x"));
    QCOMPARE(::link(QFile::encodeName(dir.filePath("file")).constData(),
                    QFile::encodeName(dir.filePath("hardlink")).constData()), 0);
    const auto resolve = [&](const QString &name) {
        return name == "PTY1" ? one.slavePath() : name == "PTY2" ? two.slavePath() : dir.filePath(name);
    };
    QCOMPARE(tarvik::sameFile(resolve(a), resolve(b)), same);
    QCOMPARE(tarvik::sameFile(resolve(b), resolve(a)), same);
}

void TestPortInfo::collect_data()
{
    QTest::addColumn<QString>("tty");
    QTest::addColumn<QStringList>("expected"); // by-id link name, vendor, product id, manufacturer, product, serial

    QTest::newRow("USB serial adapter") << "ttyUSB0"
        << QStringList{"usb-FTDI_FT232R_USB_UART_A1B2-if00-port0", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2"};
    QTest::newRow("CDC ACM device") << "ttyACM0"
        << QStringList{"usb-Arduino_Uno_7543-if00", "2341", "0043", "Arduino (www.arduino.cc)", "Uno", "7543"};
    QTest::newRow("USB without strings") << "ttyUSB1" << QStringList{"", "1a86", "7523", "", "", ""};
    QTest::newRow("built-in port") << "ttyS0" << QStringList{"", "", "", "", "", ""};
    QTest::newRow("not in sysfs") << "ttyGone" << QStringList{"", "", "", "", "", ""};
    QTest::newRow("strings as the device sent them") << "ttyUSB2"
        << QStringList{"", "067b", "2303", "Evil\x1b[31mCorp", "Line\nBreak", "\"quoted\""};
}

void TestPortInfo::collect()
{
    QFETCH(QString, tty);
    QFETCH(QStringList, expected);

    FakeSystem fake;
    // usb-serial: the tty is a child of the interface, the USB device above it.
    fake.tty("ttyUSB0", "pci0/usb1/1-1/1-1:1.0/ttyUSB0");
    fake.usbDevice("pci0/usb1/1-1", {"0403", "6001", "FTDI", "FT232R USB UART", "A1B2"});
    // cdc-acm: the tty's device is the interface itself.
    fake.tty("ttyACM0", "pci0/usb1/1-2/1-2:1.0");
    fake.usbDevice("pci0/usb1/1-2", {"2341", "0043", "Arduino (www.arduino.cc)", "Uno", "7543"});
    fake.tty("ttyUSB1", "pci0/usb1/1-3/1-3:1.0/ttyUSB1");
    fake.usbDevice("pci0/usb1/1-3", {"1a86", "7523"});
    fake.tty("ttyUSB2", "pci0/usb1/1-4/1-4:1.0/ttyUSB2");
    fake.usbDevice("pci0/usb1/1-4", {"067b", "2303", "Evil\x1b[31mCorp", "Line\nBreak", "\"quoted\""});
    fake.tty("ttyS0", "platform/serial8250/tty/ttyS0");
    // A USB device outside the tree must not be found by walking up.
    QVERIFY(writeFile(fake.path("idVendor"), "ffff\n"));
    QVERIFY(makeLink("../dev/ttyUSB0", fake.path("by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0")));
    QVERIFY(makeLink("../dev/ttyACM0", fake.path("by-id/usb-Arduino_Uno_7543-if00")));
    QVERIFY(makeLink("../dev/ttyGone", fake.path("by-id/usb-dangling")));

    const QString device = fake.path("dev/" + tty);
    const QList<PortDetails> ports = tarvik::collectPortDetails({device}, fake.folders());
    QCOMPARE(ports.size(), 1);
    const PortDetails &p = ports.first();
    QCOMPARE(p.device, device);
    QCOMPARE(p.byId, expected.at(0).isEmpty() ? QString() : fake.path("by-id/" + expected.at(0)));
    QCOMPARE(QStringList({p.vendorId, p.productId, p.manufacturer, p.product, p.serialNumber}), expected.mid(1));
}

void TestPortInfo::holder_data()
{
    QTest::addColumn<QString>("tty");
    QTest::addColumn<QString>("lock");      // content of its lock file, none when empty
    QTest::addColumn<QString>("lockKind");  // "file", "link" (to a file with that content) or "hard link"
    QTest::addColumn<qint64>("ownPid");
    QTest::addColumn<qint64>("pid");        // expected, 0 for none
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("lockPid");    // expected: named by a lock file without holding the port
    QTest::addColumn<QString>("lockName");  // and its name
    QTest::addColumn<bool>("lockUnseen");   // and whether that was seen or not

    // Processes 52 "tarvik" and 4711 "minicom" have ttyUSB0 open, 300
    // "picocom" has ttyUSB1 open, 77 (named with a terminal escape) ttyUSB2.
    const QString usb0 = QStringLiteral("ttyUSB0");
    const QString file = QStringLiteral("file");
    QTest::newRow("lock file of QLockFile") << usb0 << "4711\nminicom\nhost\n" << file << qint64(1) << qint64(4711)
                                            << "minicom" << qint64(0) << "" << false;
    QTest::newRow("lock file of UUCP style") << usb0 << "      4711\n" << file << qint64(1) << qint64(4711)
                                             << "minicom" << qint64(0) << "" << false;
    QTest::newRow("stale lock file: an open descriptor") << usb0 << "999\n" << file << qint64(1) << qint64(52)
                                                         << "tarvik" << qint64(0) << "" << false;
    QTest::newRow("lock file of our own: another opener") << usb0 << "52\n" << file << qint64(52) << qint64(4711)
                                                          << "minicom" << qint64(0) << "" << false;
    QTest::newRow("garbage lock file") << usb0 << "minicom" << file << qint64(1) << qint64(52) << "tarvik" << qint64(0) << "" << false;
    QTest::newRow("open descriptor, first by pid") << usb0 << "" << file << qint64(1) << qint64(52) << "tarvik"
                                                   << qint64(0) << "" << false;
    QTest::newRow("only we hold it") << "ttyUSB1" << "" << file << qint64(300) << qint64(0) << "" << qint64(0) << "" << false;
    QTest::newRow("name with a terminal escape") << "ttyUSB2" << "" << file << qint64(1) << qint64(77)
                                                 << "evil[2Jname" << qint64(0) << "" << false;
    QTest::newRow("nobody holds it") << "ttyUSB3" << "" << file << qint64(1) << qint64(0) << "" << qint64(0) << "" << false;
    // Anybody may write a lock file: a process it names must hold the port.
    QTest::newRow("lock naming a bystander, nobody holds it")
            << "ttyUSB3" << "300\n" << file << qint64(1) << qint64(0) << "" << qint64(300) << "picocom" << false;
    QTest::newRow("lock naming a bystander, another holds it")
            << usb0 << "300\n" << file << qint64(1) << qint64(52) << "tarvik" << qint64(0) << "" << false;
    // Process 9 "systemd" is alive, but its descriptors cannot be seen.
    QTest::newRow("lock naming a process that cannot be looked into, nobody seen holding it")
            << "ttyUSB3" << "9\n" << file << qint64(1) << qint64(0) << "" << qint64(9) << "systemd" << true;
    QTest::newRow("lock naming a process that cannot be looked into, another holds it")
            << usb0 << "9\n" << file << qint64(1) << qint64(52) << "tarvik" << qint64(0) << "" << false;
    QTest::newRow("lock file as a link is not read")
            << "ttyUSB3" << "300\n" << "link" << qint64(1) << qint64(0) << "" << qint64(0) << "" << false;
    QTest::newRow("lock file with two names is not read")
            << "ttyUSB3" << "300\n" << "hard link" << qint64(1) << qint64(0) << "" << qint64(0) << "" << false;
}

void TestPortInfo::holder()
{
    QFETCH(QString, tty);
    QFETCH(QString, lock);
    QFETCH(QString, lockKind);
    QFETCH(qint64, ownPid);
    QFETCH(qint64, pid);
    QFETCH(QString, name);
    QFETCH(qint64, lockPid);
    QFETCH(QString, lockName);
    QFETCH(bool, lockUnseen);

    FakeSystem fake;
    QVERIFY(writeFile(fake.path("dev/null"), QByteArray()));
    for (const char *name : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"})
        QVERIFY(writeFile(fake.path(QStringLiteral("dev/") + name), QByteArray()));
    const QString device = fake.path("dev/" + tty);
    fake.process(52, "tarvik", fake.path("dev/ttyUSB0"));
    fake.process(300, "picocom", fake.path("dev/ttyUSB1"));
    fake.process(4711, "minicom", fake.path("dev/ttyUSB0"));
    fake.process(77, "evil\x1b[2Jname", fake.path("dev/ttyUSB2"));
    QVERIFY(writeFile(fake.path("proc/9/comm"), "systemd\n"));
    QVERIFY(QDir().mkpath(fake.path("proc/self")));
    QVERIFY(QDir().mkpath(fake.path("lock")));
    // The lock file is named after the device as the lock-taking programs name it.
    QString lockFileName = device.startsWith("/dev/") ? device.mid(5) : device;
    lockFileName = "LCK.." + lockFileName.replace(u'/', u'_');
    const QString lockPath = fake.path("lock2/" + lockFileName);
    if (!lock.isEmpty()) {
        const QString content = lockKind == u"file" ? lockPath : fake.path("elsewhere");
        QVERIFY(writeFile(content, lock.toUtf8()));
        if (lockKind == u"link") {
            QVERIFY(makeLink(content, lockPath));
        } else if (lockKind == u"hard link") {
            QVERIFY(QDir().mkpath(fake.path("lock2")));
            QCOMPARE(::link(QFile::encodeName(content).constData(), QFile::encodeName(lockPath).constData()), 0);
        }
    }

    // Through a link: the holder holds the device itself.
    QVERIFY(makeLink(device, fake.path("by-id/usb-link")));
    const PortHolder holder = tarvik::findPortHolder(fake.path("by-id/usb-link"), ownPid, fake.folders());
    QCOMPARE(holder.pid, pid);
    QCOMPARE(holder.name, name);
    QCOMPARE(holder.isFound(), pid > 0);
    QCOMPARE(holder.lockPid, lockPid);
    QCOMPARE(holder.lockFile, lockPid > 0 ? lockPath : QString());
    QCOMPARE(holder.lockName, lockName);
    QCOMPARE(holder.lockUnseen, lockUnseen);
}

QTEST_GUILESS_MAIN(TestPortInfo)
#include "tst_portinfo.moc"
