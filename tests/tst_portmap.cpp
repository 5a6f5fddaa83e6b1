// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portmap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using tarvik::PortMap;

class TestPortMap : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void ordered_data();
    void ordered();
    void environmentWins_data();
    void environmentWins();
    void noSuchPort_data();
    void noSuchPort();
};

void TestPortMap::cleanup()
{
    for (int n = PortMap::FirstPort; n <= PortMap::LastPort; ++n)
        qunsetenv(qPrintable(PortMap::environmentName(n)));
}

void TestPortMap::ordered_data()
{
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("natural order")
        << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
        << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
    QTest::newRow("USB, then ACM, then the others")
        << QStringList{"/dev/ttyS0", "/dev/ttyACM0", "/dev/ttyUSB1", "/dev/rfcomm0", "/dev/ttyUSB0"}
        << QStringList{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyACM0", "/dev/rfcomm0", "/dev/ttyS0"};
    QTest::newRow("each group natural")
        << QStringList{"/dev/ttyS10", "/dev/ttyACM11", "/dev/ttyS9", "/dev/ttyACM3", "/dev/ttyAMA0"}
        << QStringList{"/dev/ttyACM3", "/dev/ttyACM11", "/dev/ttyAMA0", "/dev/ttyS9", "/dev/ttyS10"};
    QTest::newRow("leading zeros") << QStringList{"/dev/ttyS010", "/dev/ttyS9"}
                                   << QStringList{"/dev/ttyS9", "/dev/ttyS010"};
    QTest::newRow("empty") << QStringList{} << QStringList{};
}

void TestPortMap::ordered()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, expected);
    QCOMPARE(PortMap::ordered(paths), expected);
}

void TestPortMap::environmentWins_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<bool>("exists");

    QTest::newRow("COM 1") << 1 << true;
    QTest::newRow("COM 4") << 4 << true;
    QTest::newRow("COM 2, missing device") << 2 << false;
}

void TestPortMap::environmentWins()
{
    QFETCH(int, n);
    QFETCH(bool, exists);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench-adapter"));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    qputenv(qPrintable(PortMap::environmentName(n)), QFile::encodeName(path));

    const PortMap::Entry entry = PortMap::resolve(n);
    QCOMPARE(entry.path, path);
    QCOMPARE(PortMap::path(n), path);
    const QString variable = QStringLiteral("TARVIK_COM%1").arg(n);
    QCOMPARE(entry.description, variable);
    QCOMPARE(PortMap::tooltip(n), exists ? QStringLiteral("%1 (%2)").arg(path, variable)
                                         : QStringLiteral("%1 (not present)").arg(path));

    // The other numbers are not affected.
    for (int other = PortMap::FirstPort; other <= PortMap::LastPort; ++other) {
        if (other != n)
            QVERIFY(PortMap::resolve(other).path != path);
    }
}

void TestPortMap::noSuchPort_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QByteArray>("override"); // TARVIK_COMn's value; an empty one counts as unset

    const int present = int(PortMap::presentPorts().size());
    if (present < PortMap::LastPort)
        QTest::newRow("n-th port missing") << present + 1 << QByteArray();
    if (present < PortMap::LastPort)
        QTest::newRow("empty override") << present + 1 << QByteArray("");
    QTest::newRow("port 0") << 0 << QByteArray();
    QTest::newRow("port 5") << 5 << QByteArray("/dev/null");
}

void TestPortMap::noSuchPort()
{
    QFETCH(int, n);
    QFETCH(QByteArray, override);

    if (!override.isNull())
        qputenv(qPrintable(PortMap::environmentName(n)), override);
    QCOMPARE(PortMap::resolve(n).path, QString());
    QCOMPARE(PortMap::path(n), QString());
    QCOMPARE(PortMap::tooltip(n), QStringLiteral("No serial device present"));
}

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
