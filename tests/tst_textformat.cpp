// SPDX-License-Identifier: GPL-3.0-or-later
// How tarvik-dump prints the ports it lists and its JSON lines.
#include "cli/textformat.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <QTimeZone>

using tarvik::PortDetails;
using tarvik::RunReport;
using tarvik::RunResult;
using namespace tarvik::cli;

Q_DECLARE_METATYPE(PortDetails)
Q_DECLARE_METATYPE(RunReport)
Q_DECLARE_METATYPE(BoxSummary::Run)

namespace {

const QDateTime Began(QDate(2026, 12, 11), QTime(9, 0, 0), QTimeZone(3600));

// A read of the whole flash that went well, as the session reports it.
RunReport goodReport()
{
    RunReport r;
    r.outcome = tarvik::DumpRun::Outcome::Success;
    r.filePath = QStringLiteral("/srv/dumps/KSF-2100.bin");
    r.size = 1048576;
    r.sha256 = QByteArray::fromHex("ab01");
    r.saved = true;
    r.hardwareVersion = QStringLiteral("01.00.0A");
    r.softwareVersion = QStringLiteral("02.03.15");
    r.goodBlocks = 1024;
    return r;
}

BoxSummary::Run goodRun()
{
    BoxSummary::Run run;
    run.device = QStringLiteral("/dev/ttyUSB0");
    run.model = QStringLiteral("KSF-2100");
    run.blockCount = 1024;
    run.began = Began;
    run.ended = Began.addSecs(95);
    run.seconds = 95.04;
    run.result = RunResult::Ok;
    run.replySeconds = 10;
    run.continueCommand = QStringLiteral("CONTINUE");
    run.startAgainCommand = QStringLiteral("RESTART");
    run.runAgainCommand = QStringLiteral("AGAIN");
    return run;
}

} // namespace

class TestTextFormat : public QObject
{
    Q_OBJECT
private slots:
    void table_data();
    void table();
    void jsonLines();
    void summary_data();
    void summary();
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

void TestTextFormat::summary_data()
{
    QTest::addColumn<RunReport>("report");
    QTest::addColumn<BoxSummary::Run>("run");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QVariantMap>("json");   // keys the JSON line has, with their values
    QTest::addColumn<QStringList>("footer"); // "key: value" lines that the log footer holds

    const QString sha = QStringLiteral("SHA-256 ab01, 95.0 s");
    QTest::newRow("ok") << goodReport() << goodRun()
        << "/dev/ttyUSB0: ok, /srv/dumps/KSF-2100.bin, 1048576 bytes, " + sha + "\n"
        << QVariantMap{{"format", 1}, {"model", "KSF-2100"}, {"result", "ok"}, {"failed_block", QVariant()},
                       {"began", "2026-12-11T09:00:00+01:00"}, {"ended", "2026-12-11T09:01:35+01:00"},
                       {"file", "/srv/dumps/KSF-2100.bin"}, {"sha256", "ab01"}}
        << QStringList{"model: KSF-2100", "file: /srv/dumps/KSF-2100.bin", "result: ok", "failed_block: -",
                       "error: -", "resumed_from: -", "differing_blocks: -", "end: 2026-12-11T09:01:35+01:00"};

    RunReport erased = goodReport();
    erased.filePath = QStringLiteral("/srv/dumps/FlashDump.bin");
    erased.previousKeptAs = QStringLiteral("/srv/dumps/FlashDump.2026-12-10_160405.bin");
    BoxSummary::Run noModel = goodRun();
    noModel.model.clear();
    QTest::newRow("no model name, an earlier dump kept") << erased << noModel
        << "/dev/ttyUSB0: ok, /srv/dumps/FlashDump.bin, 1048576 bytes, " + sha
               + ", earlier dump kept as /srv/dumps/FlashDump.2026-12-10_160405.bin"
                 ", no model name in block 0 (erased or unreadable flash?)\n"
        << QVariantMap{{"model", QVariant()}, {"previous_kept_as", "/srv/dumps/FlashDump.2026-12-10_160405.bin"}}
        << QStringList{"model: -", "hw_version: 01.00.0A"};

    RunReport stopped = goodReport();
    stopped.outcome = tarvik::DumpRun::Outcome::CheckError;
    stopped.text = QStringLiteral("CRC Error while receiving BLOCK: 0400\r\n");
    stopped.filePath = QStringLiteral("/srv/dumps/KSF-2100.bin.part");
    stopped.partPath = stopped.filePath;
    stopped.size = 400 * 1024 + 1024;
    stopped.mayContinue = true;
    stopped.endedAtBlock = 400;
    stopped.goodBlocks = 400;
    BoxSummary::Run checkError = goodRun();
    checkError.result = RunResult::CheckError;
    checkError.error = QStringLiteral("CRC Error while receiving BLOCK: 0400");
    QTest::newRow("check error, continued") << stopped << checkError
        << "/dev/ttyUSB0: check-error (block 0400 failed its check), /srv/dumps/KSF-2100.bin.part, 410624 bytes, "
               + sha + ", continue with: CONTINUE\n"
        << QVariantMap{{"result", "check-error"}, {"failed_block", 400}, {"resume_command", "CONTINUE"},
                       {"error", "CRC Error while receiving BLOCK: 0400"}}
        << QStringList{"result: check-error", "failed_block: 400", "error: CRC Error while receiving BLOCK: 0400"};

    RunReport badTotal = stopped;
    badTotal.outcome = tarvik::DumpRun::Outcome::TotalMismatch;
    badTotal.mayContinue = false;
    badTotal.endedAtBlock = -1;
    badTotal.size = 1048576;
    BoxSummary::Run totalMismatch = goodRun();
    totalMismatch.result = RunResult::TotalMismatch;
    totalMismatch.error = QStringLiteral("TOTALCRC Error! (expected F1, received F2)");
    QTest::newRow("total mismatch, started again") << badTotal << totalMismatch
        << "/dev/ttyUSB0: total-mismatch (the check over the whole transfer failed), /srv/dumps/KSF-2100.bin.part, "
           "1048576 bytes, " + sha + ", start again with: RESTART\n"
        << QVariantMap{{"failed_block", QVariant()}, {"result", "total-mismatch"}}
        << QStringList{"failed_block: -", "error: TOTALCRC Error! (expected F1, received F2)"};

    RunReport silent;
    silent.outcome = tarvik::DumpRun::Outcome::None;
    BoxSummary::Run noAnswer = goodRun();
    noAnswer.model.clear();
    noAnswer.result = RunResult::NoAnswer;
    noAnswer.waitSeconds = 30;
    noAnswer.error = QStringLiteral("no answer from the boot loader in 30 s: is the box in HOST - MODE?");
    QTest::newRow("no answer") << silent << noAnswer
        << "/dev/ttyUSB0: no-answer (no answer from the boot loader in 30 s), 0 bytes, 95.0 s, "
           "put the box into its HOST - MODE and run again\n"
        << QVariantMap{{"model", QVariant()}, {"hw_version", QVariant()}, {"sha256", QVariant()}, {"bytes", 0}}
        << QStringList{"model: -", "hw_version: -", "file: -", "sha256: -"};

    RunReport compared = goodReport();
    compared.filePath.clear();
    compared.goodBlocks = 16;
    BoxSummary::Run stalled = goodRun();
    stalled.verify = true;
    stalled.blockCount = 16;
    stalled.blocksReceived = 5;
    stalled.receivedSha256 = QStringLiteral("cd02");
    stalled.differingBlocks = {2, 3};
    stalled.result = RunResult::Timeout;
    stalled.replySeconds = 0.3;
    stalled.error = QStringLiteral("Timeout while receiving BLOCK: 0005");
    compared.endedAtBlock = 5;
    QTest::newRow("verify, stalled: the same again") << compared << stalled
        << "/dev/ttyUSB0: timeout (no answer for 0.3 s at block 0005), 5120 bytes, SHA-256 cd02, 95.0 s, "
           "run again with: AGAIN\n"
        << QVariantMap{{"differing_blocks", QVariantList{2, 3}}, {"bytes", 5120}, {"failed_block", 5}}
        << QStringList{"differing_blocks: 2-3", "file: -", "sha256: cd02"};

    RunReport refused;
    refused.refusedStoppedDump = true;
    refused.stoppedMayContinue = true;
    refused.partPath = QStringLiteral("/srv/dumps/KSF-2100.bin.part");
    refused.untouchedPart = refused.partPath;
    refused.untouchedWholeBlocks = 301;
    refused.untouchedBytes = 301 * 1024 + 100;
    BoxSummary::Run inTheWay = goodRun();
    inTheWay.model.clear();
    inTheWay.result = RunResult::PartExists;
    inTheWay.error = QStringLiteral("/srv/dumps/KSF-2100.bin.part holds a stopped dump of 301 whole blocks");
    QTest::newRow("a stopped dump in the way, untouched") << refused << inTheWay
        << "/dev/ttyUSB0: part-exists (/srv/dumps/KSF-2100.bin.part holds a stopped dump of 301 whole blocks), "
           "/srv/dumps/KSF-2100.bin.part untouched, 301 whole blocks, 95.0 s, continue it with: CONTINUE, or start "
           "again with: RESTART\n"
        << QVariantMap{{"part", "/srv/dumps/KSF-2100.bin.part"}, {"part_untouched", true}, {"part_whole_blocks", 301},
                       {"bytes", 301 * 1024 + 100}}
        << QStringList{"part: /srv/dumps/KSF-2100.bin.part", "part_untouched: yes", "part_whole_blocks: 301"};

    BoxSummary::Run different = stalled;
    different.result = RunResult::Different;
    different.differingBlocks = {2, 3, 4, 9};
    QTest::newRow("verify, different") << compared << different
        << "/dev/ttyUSB0: different in blocks 2-4, 9, 5120 bytes, SHA-256 cd02, 95.0 s\n"
        << QVariantMap{{"result", "different"}, {"failed_block", QVariant()}}
        << QStringList{"differing_blocks: 2-4, 9", "result: different"};
}

// One value, three layouts that agree: the summary line, the JSON line and
// the --log footer, from one table of runs.
void TestTextFormat::summary()
{
    QFETCH(RunReport, report);
    QFETCH(BoxSummary::Run, run);
    QFETCH(QString, line);
    QFETCH(QVariantMap, json);
    QFETCH(QStringList, footer);

    const BoxSummary s = BoxSummary::of(report, run);
    QCOMPARE(summaryLine(s, false), line);
    const QString jsonText = jsonLine(s);
    QVERIFY(jsonText.endsWith(u'\n') && jsonText.count(u'\n') == 1);
    const QJsonObject o = QJsonDocument::fromJson(jsonText.toUtf8()).object();
    for (auto it = json.cbegin(); it != json.cend(); ++it) {
        QVERIFY2(o.contains(it.key()), qPrintable(it.key()));
        if (it.value().isNull())
            QVERIFY2(o.value(it.key()).isNull(), qPrintable(it.key()));
        else
            QCOMPARE(o.value(it.key()).toVariant(), it.value());
    }
    const RunLog::Fields fields = logFooter(s);
    QStringList keys;
    QStringList shown;
    for (const auto &[key, value] : fields) {
        keys << key;
        shown << key + QStringLiteral(": ") + value;
    }
    QCOMPARE(keys, QStringList({"model", "hw_version", "sw_version", "file", "bytes", "sha256", "part", "part_untouched", "part_whole_blocks", "resumed_from",
                                "compared_blocks", "kept_blocks", "differing_blocks", "result", "failed_block",
                                "error", "end"}));
    for (const QString &field : std::as_const(footer))
        QVERIFY2(shown.contains(field), qPrintable(field + " in " + shown.join(u'|')));
    // The colour goes around the result word alone.
    const QString word = tarvik::resultWord(run.result);
    const QString coloured = summaryLine(s, true);
    QVERIFY2(coloured.startsWith(run.device + QStringLiteral(": \x1b[3")), qPrintable(coloured));
    QCOMPARE(coloured.section(u'm', 1).section(QStringLiteral("\x1b[0m"), 0, 0), word);
}

QTEST_GUILESS_MAIN(TestTextFormat)
#include "tst_textformat.moc"
