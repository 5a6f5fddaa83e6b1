// SPDX-License-Identifier: GPL-3.0-or-later
// What the user is told when a port does not open, in the window and on the command line.
#include "dump/openfailure.h"

#include <QTest>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>

using tarvik::OpenFailureReport;
using tarvik::PortName;
using OpenError = tarvik::SerialService::OpenError;
using Shown = OpenFailureReport::Shown;

namespace {

const QString Device = QStringLiteral("/dev/ttyUSB0");

QString userName()
{
    const passwd *user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

// The report for /dev/ttyUSB0, named "COM 3" as in the window or by its path.
OpenFailureReport reportFor(OpenError error, bool window, const QString &group,
                            const tarvik::PortHolder &holder = {})
{
    return tarvik::describeOpenFailure(error, window ? PortName::comPort(3) : PortName::device(Device), Device,
                                       group, QStringLiteral("Input/output error"), holder);
}

} // namespace

class TestOpenFailure : public QObject
{
    Q_OBJECT
private slots:
    void fromErrno_data();
    void fromErrno();
    void report_data();
    void report();
    void busyWithHolder_data();
    void busyWithHolder();
    void sharedPort_data();
    void sharedPort();
};

void TestOpenFailure::fromErrno_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<OpenError>("expected");
    QTest::newRow("none") << 0 << OpenError::None;
    QTest::newRow("ENOENT") << ENOENT << OpenError::NotPresent;
    QTest::newRow("ENOTDIR") << ENOTDIR << OpenError::NotPresent;
    QTest::newRow("ENXIO") << ENXIO << OpenError::NotPresent;
    QTest::newRow("ENODEV") << ENODEV << OpenError::NotPresent;
    QTest::newRow("EACCES") << EACCES << OpenError::PermissionDenied;
    QTest::newRow("EPERM") << EPERM << OpenError::PermissionDenied;
    QTest::newRow("EBUSY") << EBUSY << OpenError::Busy;
    QTest::newRow("EIO") << EIO << OpenError::Other;
    QTest::newRow("ELOOP") << ELOOP << OpenError::Other;
}

void TestOpenFailure::fromErrno()
{
    QFETCH(int, error);
    QFETCH(OpenError, expected);
    QCOMPARE(tarvik::openErrorFromErrno(error), expected);
}

void TestOpenFailure::report_data()
{
    QTest::addColumn<OpenError>("error");
    QTest::addColumn<bool>("window"); // named "COM 3" as in the window, else by its device path
    QTest::addColumn<QString>("group");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");

    const QString dev = QStringLiteral("/dev/ttyUSB0");
    const int nothing = int(Shown::Nothing);
    const int message = int(Shown::Message);
    const int logLine = int(Shown::LogLine);
    const QString groupRemedy = QStringLiteral(
            "No permission to open /dev/ttyUSB0.\n\nAdd your user to the group \"dialout\", which owns the "
            "device (for example: sudo usermod -aG dialout $USER), then log out and log in again.");
    const QString udevRemedy = QStringLiteral(
            "No permission to open /dev/ttyUSB0.\n\nNo group of users may open it. Give it one with a udev "
            "rule (docs/troubleshooting.md in Tarvik's sources shows one for USB adapters), then plug the "
            "adapter in again.");

    // The next step of each failure, as the user of each front end reads it.
    const QString sudo = ::geteuid() == 0 ? QString() : QStringLiteral("sudo ");
    const QString findHolder = "\n\nTo see which program holds it, run: " + sudo + "fuser -v /dev/ttyUSB0";
    const QString plugInWindow = QStringLiteral(
            "\n\nPlug the adapter in and click Open again, or choose another COM port "
            "(tarvik-dump --list shows the serial ports of this computer).");
    const QString plugInDevice = QStringLiteral(
            "\n\nPlug the adapter in, or name another port: tarvik-dump --list shows the serial ports of this "
            "computer.");

    QTest::newRow("opened") << OpenError::None << true << QString() << nothing << QString() << QString();
    QTest::newRow("window: not present") << OpenError::NotPresent << true << QString() << message
                                         << "Error opening COM 3" << "Serial port COM 3 not present." + plugInWindow;
    QTest::newRow("window: busy") << OpenError::Busy << true << QString() << message << "Error opening COM 3"
                                  << "COM 3 blocked by another application." + findHolder;
    QTest::newRow("window: no permission, group") << OpenError::PermissionDenied << true << "dialout" << message
                                                  << "Error opening COM 3" << groupRemedy;
    QTest::newRow("window: no permission, no group") << OpenError::PermissionDenied << true << QString()
                                                     << message << "Error opening COM 3" << udevRemedy;
    QTest::newRow("window: other") << OpenError::Other << true << QString() << logLine << QString()
                                   << "error opening COM3: Input/output error";
    QTest::newRow("device: not present") << OpenError::NotPresent << false << QString() << message
                                         << "Error opening " + dev << "Serial port /dev/ttyUSB0 not present." + plugInDevice;
    QTest::newRow("device: busy") << OpenError::Busy << false << QString() << message << "Error opening " + dev
                                  << "/dev/ttyUSB0 blocked by another application." + findHolder;
    QTest::newRow("device: no permission") << OpenError::PermissionDenied << false << "dialout" << message
                                           << "Error opening " + dev << groupRemedy;
    QTest::newRow("device: other") << OpenError::Other << false << QString() << logLine << QString()
                                   << "error opening /dev/ttyUSB0: Input/output error";
}

void TestOpenFailure::report()
{
    QFETCH(OpenError, error);
    QFETCH(bool, window);
    QFETCH(QString, group);
    QFETCH(int, shown);
    QFETCH(QString, title);
    QFETCH(QString, text);

    const OpenFailureReport r = reportFor(error, window, group);
    QCOMPARE(int(r.shown), shown);
    QCOMPARE(r.title, title);
    QCOMPARE(r.text, text);
    QVERIFY(!r.oneLine().contains(u'\n'));
}

void TestOpenFailure::busyWithHolder_data()
{
    QTest::addColumn<bool>("window");
    QTest::addColumn<qint64>("pid");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("lockFile"); // naming a live process that does not hold the port
    QTest::addColumn<bool>("unseen");      // or one whose descriptors this user cannot see
    QTest::addColumn<QString>("text");
    QTest::newRow("window") << true << qint64(4711) << "minicom" << "" << false
                            << "/dev/ttyUSB0 is in use by minicom (pid 4711).";
    QTest::newRow("device") << false << qint64(4711) << "minicom" << "" << false
                            << "/dev/ttyUSB0 is in use by minicom (pid 4711).";
    QTest::newRow("holder without a name") << false << qint64(12) << "" << "" << false
                                           << "/dev/ttyUSB0 is in use by another program (pid 12).";
    QTest::newRow("holder calling itself %3") << false << qint64(12) << "%3%1" << "" << false
                                              << "/dev/ttyUSB0 is in use by %3%1 (pid 12).";
    QTest::newRow("no holder found") << true << qint64(0) << "" << "" << false
                                     << "COM 3 blocked by another application.\n\nTo see which program holds it, "
                                        "run: " + QString(::geteuid() == 0 ? "" : "sudo ") + "fuser -v /dev/ttyUSB0";
    QTest::newRow("lock file naming a bystander")
            << false << qint64(0) << "sleep" << "/run/lock/LCK..ttyUSB0" << false
            << "/run/lock/LCK..ttyUSB0 names sleep (pid 17425) as the holder of /dev/ttyUSB0, but that process "
               "does not have it open: if no other program uses the port, remove /run/lock/LCK..ttyUSB0.";
    // Only what was seen is said: not that it holds the port, nor that it does not.
    QTest::newRow("lock file naming a process that cannot be looked into")
            << false << qint64(0) << "systemd" << "/run/lock/LCK..ttyUSB0" << true
            << "/run/lock/LCK..ttyUSB0 names systemd (pid 17425) as the holder; whether it still has the port "
               "open can't be seen as user " + userName() + ".";
}

// A busy port names the program that holds it, when it was found, and never
// a process that a lock file names without holding the port.
void TestOpenFailure::busyWithHolder()
{
    QFETCH(bool, window);
    QFETCH(qint64, pid);
    QFETCH(QString, name);
    QFETCH(QString, lockFile);
    QFETCH(bool, unseen);
    QFETCH(QString, text);
    tarvik::PortHolder holder;
    if (lockFile.isEmpty()) {
        holder.pid = pid;
        holder.name = name;
    } else {
        holder.lockFile = lockFile;
        holder.lockPid = 17425;
        holder.lockName = name;
        holder.lockUnseen = unseen;
    }
    const OpenFailureReport r = reportFor(OpenError::Busy, window, QString(), holder);
    QCOMPARE(int(r.shown), int(Shown::Message));
    QCOMPARE(r.title, window ? QStringLiteral("Error opening COM 3") : "Error opening " + Device);
    QCOMPARE(r.text, text);
}

void TestOpenFailure::sharedPort_data()
{
    QTest::addColumn<qint64>("pid"); // 0: nobody else has it open
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("warning");
    QTest::newRow("nobody") << qint64(0) << "" << "";
    QTest::newRow("python3") << qint64(4711) << "python3"
                             << "python3 (pid 4711) also has /dev/ttyUSB0 open: it may take the box's answers";
    QTest::newRow("without a name") << qint64(12) << ""
                                    << "another program (pid 12) also has /dev/ttyUSB0 open: it may take the box's "
                                       "answers";
    QTest::newRow("calling itself %2") << qint64(12) << "%2"
                                       << "%2 (pid 12) also has /dev/ttyUSB0 open: it may take the box's answers";
}

// The port opened, but another program reads it too: the user is warned, by name.
void TestOpenFailure::sharedPort()
{
    QFETCH(qint64, pid);
    QFETCH(QString, name);
    QFETCH(QString, warning);
    tarvik::PortHolder holder;
    holder.pid = pid;
    holder.name = name;
    QCOMPARE(tarvik::sharedPortWarning(Device, holder), warning);
}

QTEST_GUILESS_MAIN(TestOpenFailure)
#include "tst_openfailure.moc"
