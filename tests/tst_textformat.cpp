// SPDX-License-Identifier: GPL-3.0-or-later
// How tarvik-dump prints the ports it lists and its JSON lines.
#include "cli/textformat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using tarvik::PortDetails;
using namespace tarvik::cli;

Q_DECLARE_METATYPE(PortDetails)

class TestTextFormat : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
    void jsonLines();
};

void TestTextFormat::table_data()
{
    QTest::addColumn<QList<PortDetails>>("ports");
    QTest::addColumn<QString>("text");

    const PortDetails ftdi{"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-port0", "0403", "6001", "FTDI",
                           "FT232R USB UART", "A1B2"};
    const PortDetails builtIn{"/dev/ttyS0", "", "", "", "", "", ""};
    QTest::newRow("none") << QList<PortDetails>{} << QString();
    QTest::newRow("USB and built-in, aligned, - for unknown") << QList<PortDetails>{ftdi, builtIn}
        << "DEVICE        BY-ID                             USB ID     MANUFACTURER  PRODUCT          SERIAL\n"
           "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI-port0  0403:6001  FTDI          FT232R USB UART  A1B2\n"
           "/dev/ttyS0    -                                 -          -             -                -\n";
    QTest::newRow("controls stripped, nothing left is unknown")
        << QList<PortDetails>{{"/dev/ttyUSB1", "", "1a86", "", "\x1b\x07\r", "CH340\tserial\r\n", "x\x9by"}}
        << "DEVICE        BY-ID  USB ID  MANUFACTURER  PRODUCT      SERIAL\n"
           "/dev/ttyUSB1  -      1a86:-  -             CH340serial  xy\n";
}

void TestTextFormat::table()
{
    QFETCH(QList<PortDetails>, ports);
    QFETCH(QString, text);
    QCOMPARE(portTable(ports), text);
}

// One object per port and line; control characters escaped, unknown is null.
void TestTextFormat::jsonLines()
{
    const QList<PortDetails> ports{
            {"/dev/ttyUSB0", "/dev/serial/by-id/usb-FTDI-port0", "0403", "6001", "FTDI", "FT232R USB UART", "A1B2"},
            {"/dev/ttyUSB1", "", "067b", "2303", QString::fromUtf8("Evil\x1b[31m\xc2\x9b" "Corp"), "Line\nBreak", "\"q\""}};
    const QString text = portJsonLines(ports);
    QVERIFY(text.endsWith(u'\n'));
    const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    for (const QString &line : lines) {
        for (const QChar c : line)
            QVERIFY2(c.unicode() >= 0x20 && !(c.unicode() >= 0x7F && c.unicode() <= 0x9F), qPrintable(line));
    }
    QCOMPARE(lines.at(0), QStringLiteral(
            R"({"by_id":"/dev/serial/by-id/usb-FTDI-port0","device":"/dev/ttyUSB0","manufacturer":"FTDI",)"
            R"("product":"FT232R USB UART","product_id":"6001","serial_number":"A1B2","vendor_id":"0403"})"));
    const QJsonObject second = QJsonDocument::fromJson(lines.at(1).toUtf8()).object();
    QVERIFY(second.value("by_id").isNull());
    QCOMPARE(second.value("manufacturer").toString(), ports.at(1).manufacturer);
    QCOMPARE(second.value("product").toString(), ports.at(1).product);
    QCOMPARE(second.value("serial_number").toString(), ports.at(1).serialNumber);
}

QTEST_GUILESS_MAIN(TestTextFormat)
#include "tst_textformat.moc"
