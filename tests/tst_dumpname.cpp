// SPDX-License-Identifier: GPL-3.0-or-later
// How a dump is named, and its KUP header: pure text rules.
#include "dump/dumpname.h"
#include "dump/protocol.h"
#include "support/firstblock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>

namespace DumpName = tarvik::DumpName;
namespace protocol = tarvik::protocol;

namespace {

// The time an earlier dump was written, as its kept name gives it.
const QDateTime EarlierTime(QDate(2026, 1, 2), QTime(3, 4, 5));

} // namespace

class TestDumpName : public QObject
{
    Q_OBJECT
private slots:
    void fileName_data();
    void fileName();
    void joinPath_data();
    void joinPath();
    void headerText();
    void headerPart_data();
    void headerPart();
    void modelText_data();
    void modelText();
    void modelName_data();
    void modelName();
    void verifyOffset_data();
    void verifyOffset();
    void keptName_data();
    void keptName();
};

void TestDumpName::fileName_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<QByteArray>("sw"); // bytes 48, 49, 50
    QTest::addColumn<QByteArray>("hw"); // bytes 52, 53, 54
    QTest::addColumn<QString>("name");

    const QByteArray sw = QByteArray::fromHex("FF1003");
    const QByteArray hw = QByteArray::fromHex("0A0201");
    QTest::newRow("full, header") << 0 << 1024 << true << QByteArray("ABC") << sw << hw
                                  << "ABC_HW01.02.0A_SW03.10.FF_conv.bin";
    QTest::newRow("full, no header") << 0 << 1024 << false << QByteArray("ABC") << sw << hw
                                     << "ABC.bin";
    QTest::newRow("full, empty model")
        << 0 << 1024 << false << QByteArray() << sw << hw << "FlashDump.bin";
    QTest::newRow("full, empty model, header")
        << 0 << 1024 << true << QByteArray() << sw << hw << "FlashDump_HW01.02.0A_SW03.10.FF_conv.bin";
    QTest::newRow("full, hidden model") << 0 << 1024 << false << QByteArray(".hidden") << sw << hw
                                        << "_hidden.bin";
    QTest::newRow("version digits 00 0F FF")
        << 0 << 1024 << true << QByteArray("M") << QByteArray::fromHex("00FF0F")
        << QByteArray::fromHex("FF0F00") << "M_HW00.0F.FF_SW0F.FF.00_conv.bin";
    QTest::newRow("start 1") << 1 << 1024 << true << QByteArray("ABC") << sw << hw
                             << "FlashDump.bin";
    QTest::newRow("count 1023") << 0 << 1023 << true << QByteArray("ABC") << sw << hw
                                << "FlashDump.bin";
    QTest::newRow("count 1025") << 0 << 1025 << false << QByteArray("ABC") << sw << hw
                                << "FlashDump.bin";
    // Text that names no model is named as an empty model.
    const QByteArray erased(protocol::BlockSize - protocol::ModelOffset, '\xFF');
    QTest::newRow("erased block 0") << 0 << 1024 << false << erased << sw << hw << "FlashDump.bin";
    QTest::newRow("erased block 0, header")
        << 0 << 1024 << true << erased << sw << hw << "FlashDump_HW01.02.0A_SW03.10.FF_conv.bin";
    QTest::newRow("control characters") << 0 << 1024 << false << QByteArray("KSF\x1b[2J") << sw << hw
                                        << "FlashDump.bin";
}

void TestDumpName::fileName()
{
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(bool, ticked);
    QFETCH(QByteArray, model);
    QFETCH(QByteArray, sw);
    QFETCH(QByteArray, hw);
    QFETCH(QString, name);

    const QByteArray block = firstBlock(model, sw, hw);
    QCOMPARE(DumpName::fileName(qint16(start), qint16(count), ticked, DumpName::modelText(block),
                                block),
             name);
    // A stopped run's .part is taken for a header dump just when the run wrote one.
    QCOMPARE(DumpName::isHeaderPart(name + DumpName::PartSuffix),
             DumpName::headerDue(qint16(start), qint16(count), ticked));
}

void TestDumpName::joinPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("path");

    const QString home = QDir::homePath();
    QTest::newRow("ends in /") << "/srv/dumps/" << "/srv/dumps/A.bin";
    QTest::newRow("typed without /") << "/srv/dumps" << "/srv/dumps/A.bin";
    QTest::newRow("ends in //") << "/srv/dumps//" << "/srv/dumps//A.bin";
    QTest::newRow("root") << "/" << "/A.bin";
    QTest::newRow("~ alone") << "~" << home + "/A.bin";
    QTest::newRow("~/") << "~/" << home + "/A.bin";
    QTest::newRow("~/ and a folder") << "~/dumps" << home + "/dumps/A.bin";
    QTest::newRow("~ inside stays") << "/srv/~/x" << "/srv/~/x/A.bin";
    QTest::newRow("another user's ~ stays") << "~bob/x" << "~bob/x/A.bin";
    QTest::newRow("relative") << "dumps" << "dumps/A.bin";
}

void TestDumpName::joinPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, path);
    QCOMPARE(DumpName::joinPath(folder, QStringLiteral("A.bin")), path);
}

void TestDumpName::headerText()
{
    const QByteArray block = firstBlock("ABC");
    QCOMPARE(DumpName::headerText(QStringLiteral("ABC"), block),
             QStringLiteral("KAON0008B901020A0310FF0000000000CABCx"));
    // The header carries the model bytes as received, unlike the file name.
    const QString raw = QString::fromLatin1("a/\x01\x7F\xE9");
    QCOMPARE(DumpName::headerText(raw, block).toLatin1(),
             QByteArray("KAON0008B901020A0310FF0000000000Ca/\x01\x7F\xE9x"));

    // Where a stopped dump and --verify look for the model in a header.
    for (const QString &model : {QString(), QStringLiteral("ABC"), raw}) {
        const QString header = DumpName::headerText(model, block);
        QVERIFY(header.startsWith(DumpName::HeaderPrefix));
        QCOMPARE(header.size(), DumpName::HeaderFixedBytes + model.size());
        QCOMPARE(header.mid(DumpName::HeaderModelOffset), model + u'x');
    }
}

void TestDumpName::headerPart_data()
{
    QTest::addColumn<QString>("part");
    QTest::addColumn<bool>("header");

    QTest::newRow("header dump") << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin.part" << true;
    QTest::newRow("with its folder") << "/srv/dumps/KSF_HW01.00.0A_SW02.03.15_conv.bin.part" << true;
    QTest::newRow("plain dump") << "KSF-2100.bin.part" << false;
    QTest::newRow("partial read") << "FlashDump.bin.part" << false;
    QTest::newRow("finished header dump") << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin" << false;
    QTest::newRow("its record") << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin.part.state" << false;
}

// A header dump's .part is known by its name: the rule that a continued run
// and tarvik-dump --resume go by.
void TestDumpName::headerPart()
{
    QFETCH(QString, part);
    QFETCH(bool, header);
    QCOMPARE(DumpName::isHeaderPart(part), header);
}

void TestDumpName::modelText_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("model");

    QByteArray noZero(protocol::BlockSize + 1, 'Q');
    noZero[protocol::BlockSize] = 'Z'; // the check byte never joins the name

    QTest::newRow("zero at 8") << firstBlock(QByteArray()) << QString();
    QTest::newRow("three letters") << firstBlock("ABC") << QStringLiteral("ABC");
    QTest::newRow("one byte per character")
        << firstBlock("\xE9\xFF") << QString::fromLatin1("\xE9\xFF");
    QTest::newRow("no zero after 8") << noZero << QString(protocol::BlockSize - 8, u'Q');
}

void TestDumpName::modelText()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, model);
    QCOMPARE(DumpName::modelText(reply), model);
}

void TestDumpName::modelName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("model");

    const QString longest(DumpName::MaxModelChars, u'M');
    QTest::newRow("model") << "KSF-2100" << "KSF-2100";
    QTest::newRow("spaces and punctuation") << "KSF 2100/HD (v2)" << "KSF 2100/HD (v2)";
    QTest::newRow("64 characters") << longest << longest;
    QTest::newRow("65 characters") << longest + u'M' << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("erased block 0") << QString(protocol::BlockSize - protocol::ModelOffset, QChar(0xFF)) << QString();
    QTest::newRow("escape sequence") << "KSF\x1b[31m" << QString();
    QTest::newRow("tab") << "KSF\t2100" << QString();
    QTest::newRow("DEL") << "KSF\x7f" << QString();
    QTest::newRow("Latin-1 letter") << QString::fromLatin1("D\xE9" "codeur") << QString();
}

// Only text that reads as a model name is one; the rest is no model at all.
void TestDumpName::modelName()
{
    QFETCH(QString, text);
    QFETCH(QString, model);
    QCOMPARE(DumpName::modelName(text), model);
}

void TestDumpName::verifyOffset_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("offset");

    const qint64 whole = qint64(protocol::FullReadBlocks) * protocol::BlockSize;
    const QByteArray plain = firstBlock("ABC");
    const QByteArray header = DumpName::headerText(QStringLiteral("ABC"), plain).toLatin1();
    const QByteArray withHeader = header + plain;
    QTest::newRow("whole dump") << whole << plain << 0 << 1024 << qint64(0);
    QTest::newRow("whole dump, a range of it") << whole << plain << 10 << 5 << qint64(10 * protocol::BlockSize);
    QTest::newRow("whole dump with a header")
        << whole + header.size() << withHeader << 10 << 5 << header.size() + qint64(10 * protocol::BlockSize);
    QTest::newRow("header prefix, model not in block 0")
        << whole + header.size() << header + firstBlock("ABD") << 0 << 1024 << qint64(-1);
    QTest::newRow("dump of just the range") << qint64(5 * protocol::BlockSize) << plain << 10 << 5 << qint64(0);
    QTest::newRow("range beyond the flash, whole dump") << whole << plain << 1020 << 10 << qint64(-1);
    QTest::newRow("ten blocks for a whole read") << qint64(10 * protocol::BlockSize) << plain << 0 << 1024 << qint64(-1);
    QTest::newRow("a byte short") << whole - 1 << plain << 0 << 1024 << qint64(-1);
}

// Which bytes of a file --verify compares with the range.
void TestDumpName::verifyOffset()
{
    QFETCH(qint64, size);
    QFETCH(QByteArray, head);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(qint64, offset);
    QCOMPARE(DumpName::blocksOffset(size, head, qint16(start), qint16(count)), offset);
}

void TestDumpName::keptName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("attempt");
    QTest::addColumn<QString>("kept");

    QTest::newRow("model") << "KSF-2100.bin" << 1 << "KSF-2100.2026-01-02_030405.bin";
    QTest::newRow("second try") << "KSF-2100.bin" << 2 << "KSF-2100.2026-01-02_030405-2.bin";
    QTest::newRow("header") << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin" << 1
                            << "KSF-2100_HW01.00.0A_SW02.03.15_conv.2026-01-02_030405.bin";
    QTest::newRow("partial read") << "FlashDump.bin" << 12 << "FlashDump.2026-01-02_030405-12.bin";
    const QString longStem(DumpName::MaxNameBytes - 9, u'L');
    QTest::newRow("longest name") << longStem + ".bin" << 3
                                  << QString(DumpName::MaxNameBytes - 24, u'L') + ".2026-01-02_030405-3.bin";
}

void TestDumpName::keptName()
{
    QFETCH(QString, name);
    QFETCH(int, attempt);
    QFETCH(QString, kept);
    QCOMPARE(DumpName::keptName(name, EarlierTime, attempt), kept);
    QVERIFY(QFile::encodeName(kept).size() <= DumpName::MaxNameBytes);
}

QTEST_GUILESS_MAIN(TestDumpName)
#include "tst_dumpname.moc"
