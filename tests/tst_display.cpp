// SPDX-License-Identifier: GPL-3.0-or-later
// tarvik-dump's live lines fitted to the terminal's width.
#include "cli/liveline.h"

#include <QSet>
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
    void barKeepsItsWidth_data();
    void barKeepsItsWidth();
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

// Never as wide as the terminal; the counts and the time left stay whole, the
// device name keeps its end.
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
    QVERIFY2(line.contains(QStringLiteral("512 / 1024 blocks")), qPrintable(line));
    QVERIFY2(line.endsWith(QStringLiteral(" 0:46 left")), qPrintable(line));
    const QString ellipsis = utf8 ? QStringLiteral("\u2026") : QStringLiteral("...");
    const QString shownDevice = line.section(QStringLiteral("  "), 0, 0);
    const QString deviceEnd = shownDevice.mid(ellipsis.size());
    QVERIFY2(shownDevice == device
                 || (shownDevice.startsWith(ellipsis) && device.endsWith(deviceEnd)
                     && deviceEnd.size() >= tarvik::cli::DeviceKeep - ellipsis.size()),
             qPrintable(line));
}

void TestDisplay::barKeepsItsWidth_data()
{
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("device");
    for (const int columns : {60, 80, 100, 120, 200}) {
        for (const QString &device : {QStringLiteral("ttyUSB0"), ByIdName})
            QTest::addRow("%d %s", columns, qPrintable(device)) << columns << device;
    }
}

// From the first block to the last, the bar keeps one width: the speed and
// the time left come and go and change their width beside it.
void TestDisplay::barKeepsItsWidth()
{
    QFETCH(int, columns);
    QFETCH(QString, device);
    const std::pair<int, QString> moments[] = {
        {0, QStringLiteral("0 / 1024 blocks")},
        {1, QStringLiteral("1 / 1024 blocks")},
        {12, QStringLiteral("12 / 1024 blocks \u00B7 0.9 KiB/s \u00B7 18:44 left")},
        {471, QStringLiteral("471 / 1024 blocks \u00B7 10.8 KiB/s \u00B7 0:51 left")},
        {1023, QStringLiteral("1023 / 1024 blocks \u00B7 9.5 KiB/s \u00B7 0:00 left")},
        {1024, QStringLiteral("1024 / 1024 blocks \u00B7 10.9 KiB/s")},
    };
    QSet<qsizetype> widths;
    for (const auto &[done, status] : moments) {
        LiveLine line = reading(device, QStringLiteral("KSF-2100"));
        line.done = done;
        line.status = status;
        const QString fitted = fitLine(line, columns, true);
        QVERIFY2(fitted.contains(status.section(QStringLiteral(" \u00B7 "), 0, 0)), qPrintable(fitted));
        widths.insert(fitted.contains(u'[') ? fitted.indexOf(u']') - fitted.indexOf(u'[') - 1 : 0);
    }
    QCOMPARE(widths.size(), 1);
}

void TestDisplay::fittedLine_data()
{
    QTest::addColumn<LiveLine>("line");
    QTest::addColumn<int>("columns");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QString>("expected");

    const LiveLine byId = reading(ByIdName, QStringLiteral("KSF-2100"));
    const LiveLine ttyUsb = reading(QStringLiteral("ttyUSB0"), QStringLiteral("KSF-2100"));
    const QString noSpeed = QStringLiteral("512 / 1024 blocks \u00B7 0:46 left");
    QTest::newRow("wide enough") << byId << 120 << true
                                 << ByIdName + QStringLiteral("  KSF-2100      [##########----------]  ") + Progress;
    QTest::newRow("narrower bar") << ttyUsb << 80 << true
                                  << QStringLiteral("ttyUSB0  KSF-2100      [####----]  ") + Progress;
    LiveLine ended = ttyUsb;
    ended.done = 1024;
    ended.status = QStringLiteral("1024 / 1024 blocks \u00B7 10.9 KiB/s");
    QTest::newRow("the same bar at the end")
        << ended << 80 << true << QStringLiteral("ttyUSB0  KSF-2100      [########]  ") + ended.status;
    QTest::newRow("no bar, the model goes first") << byId << 80 << true << ByIdName + QStringLiteral("  ") + Progress;
    QTest::newRow("then the speed") << byId << 72 << true << ByIdName + QStringLiteral("  ") + noSpeed;
    QTest::newRow("then the device loses its beginning")
        << byId << 40 << true << QStringLiteral("\u20260-port0  ") + noSpeed;
    QTest::newRow("model padding goes before the model")
        << ttyUsb << 64 << true << QStringLiteral("ttyUSB0  KSF-2100  ") + Progress;
    QTest::newRow("60 columns keep the time left") << ttyUsb << 60 << true << QStringLiteral("ttyUSB0  ") + Progress;
    QTest::newRow("ASCII") << reading(QStringLiteral("ttyUSB0"), QStringLiteral("D\u00E9codeur HD")) << 80 << false
                           << QStringLiteral("ttyUSB0  D?codeur HD   [####----]  512 / 1024 blocks - 11.0 KiB/s - 0:46 left");
    QTest::newRow("ASCII ellipsis")
        << byId << 40 << false << QStringLiteral("...port0  512 / 1024 blocks - 0:46 left");
    QTest::newRow("counts alone, cut at the end")
        << byId << 16 << true << QStringLiteral("\u2026rt0  512 / 10\u2026");

    // A long model keeps the model column of the others.
    const LiveLine garbled = reading(QStringLiteral("ttyUSB0"),
                                     QString::fromLatin1("\xA7\xB1KSF-2100\xFE\x9D\xFF\xC3\x87\x8Fgarbage"));
    QTest::newRow("long model, same column")
        << garbled << 80 << true << QStringLiteral("ttyUSB0  \u00A7\u00B1KSF-2100\u00FE\u2026  [####----]  ") + Progress;
    QTest::newRow("long model goes before the time left") << garbled << 64 << true << QStringLiteral("ttyUSB0  ") + Progress;
    LiveLine besideLonger = ttyUsb;
    besideLonger.device = QStringLiteral("ttyUSB1");
    besideLonger.deviceWidth = 8; // beside ttyUSB10
    QTest::newRow("device column of the widest name")
        << besideLonger << 80 << true << QStringLiteral("ttyUSB1   KSF-2100      [###----]  ") + Progress;

    LiveLine waiting;
    waiting.device = QStringLiteral("\u7AEF\u53E3\u4E00\u53F7"); // four wide characters, eight columns
    waiting.status = QStringLiteral("waiting for the boot loader");
    QTest::newRow("wide characters") << waiting << 36 << true
                                     << QStringLiteral("\u2026\u4E00\u53F7   waiting for the boot loader");
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
