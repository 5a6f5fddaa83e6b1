// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/progressmeter.h"
#include "support/manualclock.h"

#include <QTest>

using tarvik::ProgressMeter;

class TestProgressMeter : public QObject
{
    Q_OBJECT
private slots:
    void format_data();
    void format();
    void measuresFromFirstBlock();
};

void TestProgressMeter::format_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<double>("bytesPerSecond");
    QTest::addColumn<QString>("text");

    const QString dot = QStringLiteral(" \u00B7 ");
    QTest::newRow("before the first block") << 0 << 1024 << -1.0 << "0 / 1024 blocks";
    QTest::newRow("count 0") << 0 << 0 << -1.0 << "0 / 0 blocks";
    QTest::newRow("half way") << 512 << 1024 << 11.0 * 1024
                              << "512 / 1024 blocks" + dot + "11.0 KiB/s" + dot + "0:46 left";
    QTest::newRow("hours left") << 1 << 32767 << 1024.0
                                << "1 / 32767 blocks" + dot + "1.0 KiB/s" + dot + "9:06:06 left";
    QTest::newRow("done") << 1024 << 1024 << 11.25 * 1024
                          << "1024 / 1024 blocks" + dot + "11.3 KiB/s";
    QTest::newRow("rate not measured") << 3 << 1024 << -1.0 << "3 / 1024 blocks";
}

void TestProgressMeter::format()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(double, bytesPerSecond);
    QFETCH(QString, text);
    QCOMPARE(ProgressMeter::format(done, total, bytesPerSecond), text);
}

void TestProgressMeter::measuresFromFirstBlock()
{
    ManualClock clock;
    ProgressMeter meter;
    meter.setClock(clock);
    meter.start(8);
    QCOMPARE(meter.update(0), QStringLiteral("0 / 8 blocks"));
    // One block gives no throughput yet: the wait before it is not transfer time.
    clock.advance(5000);
    QCOMPARE(meter.update(1), QStringLiteral("1 / 8 blocks"));
    clock.advance(0);
    QCOMPARE(meter.update(1), QStringLiteral("1 / 8 blocks"));
    // Three blocks in the second after the first: 3 KiB/s, four blocks to go.
    clock.advance(1000);
    QCOMPARE(meter.update(4), QStringLiteral("4 / 8 blocks \u00B7 3.0 KiB/s \u00B7 0:01 left"));
    clock.advance(1000);
    QCOMPARE(meter.update(8), QStringLiteral("8 / 8 blocks \u00B7 3.5 KiB/s"));
    // A new run measures afresh.
    meter.start(8);
    clock.advance(60000);
    QCOMPARE(meter.update(2), QStringLiteral("2 / 8 blocks"));
    clock.advance(2000);
    QCOMPARE(meter.update(4), QStringLiteral("4 / 8 blocks \u00B7 1.0 KiB/s \u00B7 0:04 left"));
}

QTEST_GUILESS_MAIN(TestProgressMeter)
#include "tst_progressmeter.moc"
