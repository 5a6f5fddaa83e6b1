// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump's live lines fitted to the terminal's width.
#include "cli/liveline.h"

#include <QTest>

using tarvik::cli::fitLine;
using tarvik::cli::LiveLine;

Q_DECLARE_METATYPE(LiveLine)

namespace {

const QString ByIdName = QStringLiteral("usb-FTDI_FT232R_A1B2-if00-port0");
const QString Progress = QStringLiteral("512 / 1024 blocks \u00B7 11.0 KiB/s \u00B7 0:46 left");

LiveLine reading(const QString &device, const QString &model)
{
    LiveLine line;
    line.device = device;
    line.model = model;
    line.bar = true;
    line.done = 512;
    line.total = 1024;
    line.status = Progress;
    return line;
}

} // namespace

class TestDisplay : public QObject
{
    Q_OBJECT
private slots:
    void fitsEveryWidth_data();
    void fitsEveryWidth();
    void fittedLine_data();
    void fittedLine();
};

void TestDisplay::fitsEveryWidth_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("utf8");
    const QString longModel = QStringLiteral("D\u00E9codeur num\u00E9rique HD-2100"); // Latin-1 from the box
    for (const int columns : {10, 40, 60, 80, 120}) {
        for (const QString &device : {QStringLiteral("ttyUSB0"), ByIdName}) {
            for (const QString &model : {QStringLiteral("KSF-2100"), longModel}) {
                for (const bool utf8 : {true, false}) {
                    QTest::addRow("%d %s %s %s", columns, qPrintable(device), qPrintable(model.left(3)),
                                  utf8 ? "UTF-8" : "ASCII")
                        << columns << device << model << utf8;
                }
            }
        }
    }
}

// Never as wide as the terminal; the device name keeps its end, the model its
// start, the block count stays where there is room for it, and on a common
// terminal a long model never costs the time left.
void TestDisplay::fitsEveryWidth()
{
    QFETCH(int, columns);
    QFETCH(QString, device);
    QFETCH(QString, model);
    QFETCH(bool, utf8);

    const QString line = fitLine(reading(device, model), columns, utf8);
    // Every character here takes one column.
    QVERIFY2(line.size() <= columns - 1, qPrintable(line));
    if (!utf8) {
        for (const QChar c : line)
            QVERIFY2(c.unicode() < 0x80, qPrintable(line));
    }
    if (columns < 40)
        return;
    const QString ellipsis = utf8 ? QStringLiteral("\u2026") : QStringLiteral("...");
    const QString shownDevice = line.section(QStringLiteral("  "), 0, 0);
    const QString deviceEnd = shownDevice.mid(ellipsis.size());
    QVERIFY2(shownDevice == device
                 || (shownDevice.startsWith(ellipsis) && device.endsWith(deviceEnd)
                     && deviceEnd.size() >= tarvik::cli::DeviceKeep - ellipsis.size()),
             qPrintable(line));
    if (columns < 60)
        return;
    QVERIFY2(line.contains(tarvik::cli::forCharset(model, utf8).left(tarvik::cli::ModelKeep - ellipsis.size())),
             qPrintable(line));
    QVERIFY2(line.contains(QStringLiteral("512 / 1024")), qPrintable(line));
    if (columns >= 80)
        QVERIFY2(line.endsWith(QStringLiteral("0:46 left")), qPrintable(line));
}

void TestDisplay::fittedLine_data()
{
    QTest::addColumn<LiveLine>("line");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QString>("expected");

    const LiveLine byId = reading(ByIdName, QStringLiteral("KSF-2100"));
    const LiveLine ttyUsb = reading(QStringLiteral("ttyUSB0"), QStringLiteral("KSF-2100"));
    QTest::newRow("wide enough") << byId << 120 << true
                                 << ByIdName + QStringLiteral("  KSF-2100      [##########----------]  ") + Progress;
    QTest::newRow("narrower bar") << ttyUsb << 80 << true
                                  << QStringLiteral("ttyUSB0  KSF-2100      [#####-----]  ") + Progress;
    QTest::newRow("device end, narrowest bar")
        << byId << 80 << true << QStringLiteral("\u2026A1B2-if00-port0  KSF-2100  [##---]  ") + Progress;
    QTest::newRow("no bar") << byId << 72 << true
                            << QStringLiteral("\u2026_A1B2-if00-port0  KSF-2100  ") + Progress;
    QTest::newRow("model padding goes before the time left")
        << ttyUsb << 64 << true << QStringLiteral("ttyUSB0  KSF-2100  ") + Progress;
    QTest::newRow("text cut at its end")
        << byId << 40 << true << QStringLiteral("\u2026A1B2-if00-port0  KSF-2100  512 / 1024\u2026");
    QTest::newRow("ASCII") << reading(QStringLiteral("ttyUSB0"), QStringLiteral("D\u00E9codeur HD")) << 80 << false
                           << QStringLiteral("ttyUSB0  D?codeur HD   [#####-----]  512 / 1024 blocks - 11.0 KiB/s - 0:46 left");
    QTest::newRow("ASCII ellipsis")
        << byId << 40 << false << QStringLiteral("...B2-if00-port0  KSF-2100  512 / 10...");

    // A box that sent a long garbled model (Latin-1 bytes, C1 controls among
    // them) keeps the model column of the others.
    const LiveLine garbled = reading(QStringLiteral("ttyUSB0"),
                                     QString::fromLatin1("\xA7\xB1KSF-2100\xFE\x9D\xFF\xC3\x87\x8Fgarbage"));
    QTest::newRow("garbled model, same column")
        << garbled << 80 << true << QStringLiteral("ttyUSB0  \u00A7\u00B1KSF-2100\u00FE\u2026  [#####-----]  ") + Progress;
    QTest::newRow("garbled model narrows before the time left")
        << garbled << 64 << true << QStringLiteral("ttyUSB0  \u00A7\u00B1KSF-210\u2026  ") + Progress;
    QTest::newRow("garbled model at its narrowest")
        << garbled << 60 << true
        << QStringLiteral("ttyUSB0  \u00A7\u00B1KSF-2\u2026  512 / 1024 blocks \u00B7 11.0 KiB/s \u00B7 0:46 l\u2026");
    LiveLine besideLonger = ttyUsb;
    besideLonger.device = QStringLiteral("ttyUSB1");
    besideLonger.deviceWidth = 8; // beside ttyUSB10
    QTest::newRow("device column of the widest name")
        << besideLonger << 80 << true << QStringLiteral("ttyUSB1   KSF-2100      [####-----]  ") + Progress;

    LiveLine waiting;
    waiting.device = QStringLiteral("\u7AEF\u53E3\u4E00\u53F7"); // four wide characters, eight columns
    waiting.status = QStringLiteral("waiting for the boot loader");
    QTest::newRow("wide characters") << waiting << 36 << true
                                     << QStringLiteral("\u7AEF\u53E3\u4E00\u53F7  waiting for the boot loa\u2026");
    LiveLine failed = byId;
    failed.bar = false;
    failed.status = QStringLiteral("timeout");
    QTest::newRow("failed, no bar") << failed << 60 << true << ByIdName + QStringLiteral("  KSF-2100      timeout");
    QTest::newRow("one column") << byId << 1 << true << QString();
}

void TestDisplay::fittedLine()
{
    QFETCH(LiveLine, line);
    QFETCH(int, columns);
    QFETCH(bool, utf8);
    QFETCH(QString, expected);

    QCOMPARE(fitLine(line, columns, utf8), expected);
}

QTEST_GUILESS_MAIN(TestDisplay)
#include "tst_display.moc"
