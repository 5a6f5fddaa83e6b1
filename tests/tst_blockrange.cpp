// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/blockrange.h"

#include <QTest>

using tarvik::parseBlockRange;

class TestBlockRange : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
};

void TestBlockRange::parse_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("startBlock");
    QTest::addColumn<int>("blockCount");
    QTest::addColumn<QString>("errorPart"); // a piece of the message when refused

    QTest::newRow("full") << "0" << "1024" << true << 0 << 1024 << QString();
    QTest::newRow("count 0") << "5" << "0" << true << 5 << 0 << QString();
    QTest::newRow("leading zeros") << "007" << "0010" << true << 7 << 10 << QString();
    QTest::newRow("last block 32767") << "32767" << "1" << true << 32767 << 1 << QString();
    QTest::newRow("count 0 at 32767") << "32767" << "0" << true << 32767 << 0 << QString();
    QTest::newRow("whole range") << "0" << "32767" << true << 0 << 32767 << QString();

    QTest::newRow("empty start") << "" << "1024" << false << 0 << 0 << "start block";
    QTest::newRow("empty number") << "0" << "" << false << 0 << 0 << "number of blocks";
    QTest::newRow("start above 32767") << "32768" << "1" << false << 0 << 0 << "start block";
    QTest::newRow("number above 32767") << "0" << "40000" << false << 0 << 0
                                        << "number of blocks";
    QTest::newRow("beyond 64 bits") << "99999999999999999999999" << "1" << false << 0 << 0
                                    << "start block";
    QTest::newRow("negative") << "-1" << "1" << false << 0 << 0 << "start block";
    QTest::newRow("not a number") << "0" << "1k" << false << 0 << 0 << "number of blocks";
    QTest::newRow("last block just fits") << "32000" << "768" << true << 32000 << 768 << QString();
    QTest::newRow("last block above 32767") << "32001" << "768" << false << 0 << 0
                                            << "32001 to 32768";
    QTest::newRow("last block 32768") << "32767" << "2" << false << 0 << 0 << "32767 to 32768";
}

void TestBlockRange::parse()
{
    QFETCH(QString, start);
    QFETCH(QString, number);
    QFETCH(bool, ok);
    QFETCH(int, startBlock);
    QFETCH(int, blockCount);
    QFETCH(QString, errorPart);

    const tarvik::BlockRange range = parseBlockRange(start, number);
    QCOMPARE(range.ok, ok);
    if (ok) {
        QCOMPARE(range.startBlock, startBlock);
        QCOMPARE(range.blockCount, blockCount);
        QVERIFY(range.error.isEmpty());
    } else {
        QVERIFY2(range.error.contains(errorPart), qPrintable(range.error));
    }
}

QTEST_GUILESS_MAIN(TestBlockRange)
#include "tst_blockrange.moc"
