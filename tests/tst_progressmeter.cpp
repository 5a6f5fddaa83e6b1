#include "progressmeter.h"

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
    ProgressMeter meter;
    meter.start(8);
    QCOMPARE(meter.update(0), QStringLiteral("0 / 8 blocks"));
    // One block gives no throughput yet: the wait before it is not transfer time.
    QCOMPARE(meter.update(1), QStringLiteral("1 / 8 blocks"));
    const QString text = meter.update(4);
    QVERIFY2(text.startsWith(QStringLiteral("4 / 8 blocks \u00B7 ")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral(" KiB/s \u00B7 ")) && text.endsWith(QStringLiteral(" left")),
             qPrintable(text));
}

QTEST_GUILESS_MAIN(TestProgressMeter)
#include "tst_progressmeter.moc"
