// Whole dump runs through the real window against the simulated boot loader.
#include "form1.h"
#include "loadersim.h"
#include "scriptedprompts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using tarvik::LoaderSim;

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool runEnded(Form1 &w)
{
    return !w.port().portOpen() && w.control<QPushButton>("Command1")->isEnabled();
}

} // namespace

class TestDumpWindow : public QObject
{
    Q_OBJECT

private slots:
    void fullRead_data();
    void fullRead();
    void partialReadIntoTypedFolder();
    void refusedRange_data();
    void refusedRange();
    void secondRunStartsAfresh();
    void stoppedRunShowsNoTimeLeft();
};

void TestDumpWindow::fullRead_data()
{
    QTest::addColumn<bool>("header");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("without header") << false << "KSF-2100.bin";
    QTest::newRow("with header") << true << "KSF-2100_HW01.00.0A_SW02.03.15_conv.bin";
}

void TestDumpWindow::fullRead()
{
    QFETCH(bool, header);
    QFETCH(QString, fileName);

    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    Form1 w(&prompts);
    w.show();
    w.control<QLineEdit>("Text2")->setText(dir.path() + "/");
    w.control<QCheckBox>("chkHeader")->setChecked(header);

    w.control<QPushButton>("Command1")->click();
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 60000);

    QVERIFY2(sim.deviations().isEmpty(), qPrintable(sim.deviations().join('\n')));
    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{fileName});
    const QByteArray file = readFile(dir.filePath(fileName));
    const QByteArray image = sim.image();
    if (header) {
        const QByteArray kup = QByteArrayLiteral("KAON0008B9" "01000A" "020315" "0000000000C" "KSF-2100" "x");
        QCOMPARE(file.left(kup.size()), kup);
        QCOMPARE(file.size(), kup.size() + image.size());
        QVERIFY(file.mid(kup.size()) == image);
    } else {
        QCOMPARE(file.size(), image.size());
        QVERIFY(file == image);
    }

    const QStringList lines = w.logText().split("\r\n");
    QCOMPARE(lines.first(), QStringLiteral("sending request..."));
    QCOMPARE(lines.at(1), QStringLiteral("REQUEST_1024DOWN:0000    1024DOWN_SUCCESS:0000"));
    QCOMPARE(lines.at(1024), QStringLiteral("REQUEST_1024DOWN:1023    1024DOWN_SUCCESS:1023"));
    QCOMPARE(lines.mid(1025), (QStringList{"REQUEST_TOTALCRC    TOTALCRC OK!", "Transfer succesfull!",
                                           "Serial port closed.", ""}));
    QCOMPARE(w.control<QLabel>("lblModel")->text(), QStringLiteral("KSF-2100"));
    auto *bar = w.control<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->value(), 1024);
    QCOMPARE(bar->maximum(), 1024);
    QVERIFY2(bar->format().startsWith("1024 / 1024 blocks"), qPrintable(bar->format()));
    QCOMPARE(w.control<QWidget>("Shape1")->property("FillColor").toUInt(), 255u);
}

// A folder typed by hand is used as it stands: without a separator at its end,
// the file name is joined straight to it.
void TestDumpWindow::partialReadIntoTypedFolder()
{
    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setExpectedRange(5, 3);
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    Form1 w(&prompts);
    w.control<QLineEdit>("Text2")->setText(dir.path() + "/run");
    w.control<QLineEdit>("txtStart")->setText("5");
    w.control<QLineEdit>("txtNumber")->setText("3");

    w.Command1_Click();
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 20000);

    QVERIFY2(sim.deviations().isEmpty(), qPrintable(sim.deviations().join('\n')));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"runFlashDump.bin"});
    QVERIFY(readFile(dir.filePath("runFlashDump.bin")) == sim.image().mid(5 * 1024, 3 * 1024));
    QVERIFY(w.logText().contains("REQUEST_1024DOWN:0007    1024DOWN_SUCCESS:0007\r\nREQUEST_TOTALCRC"));
}

void TestDumpWindow::refusedRange_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("number");
    QTest::newRow("empty start") << "" << "1024";
    QTest::newRow("empty number") << "0" << "";
    QTest::newRow("start too big") << "40000" << "1";
    QTest::newRow("number too big") << "0" << "99999";
    QTest::newRow("last block past 32767") << "32767" << "2";
}

// A range that cannot be read is refused before the port is touched.
void TestDumpWindow::refusedRange()
{
    QFETCH(QString, start);
    QFETCH(QString, number);
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    Form1 w(&prompts);
    const QString log = w.logText();
    w.control<QLineEdit>("txtStart")->setText(start);
    w.control<QLineEdit>("txtNumber")->setText(number);
    w.Command1_Click();
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    QVERIFY(!prompts.messages.at(0).text.isEmpty());
    QVERIFY(!w.port().portOpen());
    QCOMPARE(w.logText(), log);
    QVERIFY(w.port().devicePath().isEmpty()); // no opening was even tried
}

// A second run in the same instance names its file and label after its own first block.
void TestDumpWindow::secondRunStartsAfresh()
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    Form1 w(&prompts);
    w.control<QLineEdit>("Text2")->setText(dir.path() + "/");
    w.control<QLineEdit>("txtNumber")->setText("2");
    for (const QByteArray &model : {QByteArrayLiteral("FIRST"), QByteArrayLiteral("")}) {
        LoaderSim sim;
        QVERIFY(sim.open());
        sim.setImage(LoaderSim::defaultImage(model));
        qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
        w.Command1_Click();
        QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 20000);
        QCOMPARE(w.control<QLabel>("lblModel")->text(), QString::fromLatin1(model));
        QVERIFY(w.logText().startsWith("sending request...\r\n"));
        QVERIFY(w.logText().contains("TOTALCRC OK!\r\nTransfer succesfull!\r\n"));
    }
}

// Once a run has stopped, the bar no longer shows a speed or a time left.
void TestDumpWindow::stoppedRunShowsNoTimeLeft()
{
    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setBadCheckBlock(2);
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    Form1 w(&prompts);
    w.control<QLineEdit>("Text2")->setText(dir.path() + "/");
    w.control<QLineEdit>("txtNumber")->setText("4");
    w.Command1_Click();
    QTRY_COMPARE(w.dumpRun().stage(), tarvik::DumpRun::Stage::Stopped);
    auto *bar = w.control<QProgressBar>("ProgressBar1");
    QCOMPARE(bar->value(), 2);
    QCOMPARE(bar->format(), QStringLiteral("2 / 4 blocks \u00B7 stopped"));
    w.Command2_Click();
    QCOMPARE(bar->format(), QStringLiteral("2 / 4 blocks \u00B7 stopped"));
}

QTEST_MAIN(TestDumpWindow)
#include "tst_dumpwindow.moc"
