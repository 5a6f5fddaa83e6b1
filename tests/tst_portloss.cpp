// SPDX-License-Identifier: GPL-3.0-or-later
// Which failures of an open port are told as a disconnected adapter.
#include "dump/portloss.h"

#include <QTest>

#include <cerrno>

using namespace tarvik;

class TestPortLoss : public QObject
{
    Q_OBJECT
private slots:
    void signs_data();
    void signs();
    void text();
};

void TestPortLoss::signs_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("hungUp");
    QTest::addColumn<bool>("nodeGone");
    QTest::addColumn<bool>("disconnect");

    // What an unplugged adapter gives.
    QTest::newRow("EIO") << EIO << false << false << true;
    QTest::newRow("ENODEV") << ENODEV << false << false << true;
    QTest::newRow("ENXIO") << ENXIO << false << false << true;
    // A read that ends the file leaves no errno ("Unknown error"), or a stale one.
    QTest::newRow("hang-up, no errno") << 0 << true << false << true;
    QTest::newRow("hang-up, stale ENOENT") << ENOENT << true << false << true;
    QTest::newRow("device node gone") << 0 << false << true << true;
    QTest::newRow("device node gone, EAGAIN") << EAGAIN << false << true << true;
    // Failures of a port that is still there keep the system's reason.
    QTest::newRow("EAGAIN alone") << EAGAIN << false << false << false;
    QTest::newRow("no errno, nothing else") << 0 << false << false << false;
    QTest::newRow("ENOMEM") << ENOMEM << false << false << false;
    QTest::newRow("stale ENOENT alone") << ENOENT << false << false << false;
}

void TestPortLoss::signs()
{
    QFETCH(int, error);
    QFETCH(bool, hungUp);
    QFETCH(bool, nodeGone);
    QFETCH(bool, disconnect);
    QCOMPARE(isDisconnect({error, hungUp, nodeGone}), disconnect);
}

void TestPortLoss::text()
{
    QCOMPARE(disconnectText(QStringLiteral("/dev/ttyUSB0"), QStringLiteral("Open")),
             QStringLiteral("the adapter was disconnected (/dev/ttyUSB0): plug it in again and continue with Open"));
}

QTEST_GUILESS_MAIN(TestPortLoss)
#include "tst_portloss.moc"
