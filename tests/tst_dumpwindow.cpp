// SPDX-License-Identifier: GPL-3.0-or-later
// Whole dump runs through the real window against the simulated boot loader.
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/ordinaryuser.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "support/showntext.h"
#include "support/wait.h"
#include "support/windowdesk.h"
#include "support/wirelog.h"
#include "window/controls.h"
#include "window/mainwindow.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

using tarvik::LoaderSim;
using tarvik::MainWindow;
using tarvik::ShapeWidget;

namespace {

QStringList entries(const QString &folder)
{
    return withoutPartRecords(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

// The default image with the same model and versions, but data of its own
// for each run, so that a file shows which run wrote it.
QByteArray imageOfRun(int run)
{
    QByteArray image = LoaderSim::defaultImage();
    for (qsizetype i = 64; i < image.size(); i += 7)
        image[i] = char(image.at(i) ^ (run * 37 + 1));
    return image;
}

// One run of the window's: the loader's fault, and whether the user clicks
// Close once block `closeAt` is on its way (-1: never). `imageOf` names the
// run whose box is read again (-1: the box of this run).
struct WindowRun {
    LoaderFault fault = LoaderFault::none();
    int closeAt = -1;
    int imageOf = -1;
};

WindowRun closeAt(int block)
{
    return {LoaderFault::none(), block, -1};
}

// Sets an environment variable for the life of the object.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvGuard()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_old;
};

} // namespace

Q_DECLARE_METATYPE(WindowRun)

class TestDumpWindow : public QObject
{
    Q_OBJECT

private slots:
    void fullRead_data();
    void fullRead();
    void keepsEveryDump_data();
    void keepsEveryDump();
    void renameFails();
    void anotherWriter();
    void typedFolder_data();
    void typedFolder();
    void modelNames_data();
    void modelNames();
    void plantedPart();
    void continueStoppedDump_data();
    void continueStoppedDump();
    void stoppedDumpIsNeverCutUnasked_data();
    void stoppedDumpIsNeverCutUnasked();
    void totalCheck_data();
    void totalCheck();
    void refusedRange_data();
    void refusedRange();
    void sharedPortIsLogged();
    void secondRunStartsAfresh();
    void stoppedRunShowsNoTimeLeft();
    void stoppedRunSaysWhatCloseKeeps_data();
    void stoppedRunSaysWhatCloseKeeps();
    void barMenu_data();
    void barMenu();
    void barColour_data();
    void barColour();
    void portBeforeQuestion_data();
    void portBeforeQuestion();
    void keysOnTheQuestion_data();
    void keysOnTheQuestion();
    void enterClicksOpenAndClose();
    void demoServesAgain();
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
    MainWindow w(&prompts);
    w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QCheckBox>("headerCheck")->setChecked(header);

    w.control<QPushButton>("openButton")->click();
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
    QCOMPARE(w.control<QLabel>("modelLabel")->text(), QStringLiteral("KSF-2100"));
    auto *bar = w.control<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), 1024);
    QCOMPARE(bar->maximum(), 1024);
    QVERIFY2(bar->format().startsWith("1024 / 1024 blocks"), qPrintable(bar->format()));
    // The tooltip names the dump and its check value, header included.
    QCOMPARE(shownText(bar->toolTip()), QStringLiteral("%1\n%2 bytes\nSHA-256 %3")
                                 .arg(dir.filePath(fileName))
                                 .arg(file.size())
                                 .arg(QString::fromLatin1(
                                     QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex())));
    QCOMPARE(w.control<ShapeWidget>("lamp")->fillColor(), 255u);
}

void TestDumpWindow::keepsEveryDump_data()
{
    QTest::addColumn<QList<WindowRun>>("runs");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("savedRun"); // whose dump is under the name; -1: none
    QTest::addColumn<bool>("partKept"); // the last run's bytes are in <name>.part
    QTest::addColumn<int>("keptRun");  // whose dump is kept under a dated name; -1: none

    const WindowRun good;
    const WindowRun again{LoaderFault::none(), -1, 0}; // the box of the run before, read again
    const auto check = [](int block) { return WindowRun{LoaderFault::badCheck(block)}; };
    QTest::newRow("good, then stopped at block 5, then closed")
        << QList<WindowRun>{good, check(5), closeAt(3)} << 0 << 1024 << "KSF-2100.bin" << 0 << true << -1;
    QTest::newRow("good re-run of another box keeps the earlier dump")
        << QList<WindowRun>{good, good} << 0 << 1024 << "KSF-2100.bin" << 1 << false << 0;
    QTest::newRow("good re-run with the same bytes replaces the dump")
        << QList<WindowRun>{good, again} << 0 << 1024 << "KSF-2100.bin" << 0 << false << -1;
    QTest::newRow("partial read closed after a good one")
        << QList<WindowRun>{good, closeAt(6)} << 5 << 8 << "FlashDump.bin" << 0 << true << -1;
    QTest::newRow("partial read stopped after a stopped one")
        << QList<WindowRun>{check(7), check(6)} << 5 << 8 << "FlashDump.bin" << -1 << true << -1;
    QTest::newRow("adapter lost after a good run")
        << QList<WindowRun>{good, {LoaderFault::hangUp(LoaderFault::Point::Block, 8)}} << 5 << 8
        << "FlashDump.bin" << 0 << true << -1;
    QTest::newRow("total differs after a good run")
        << QList<WindowRun>{good, {LoaderFault::badTotal()}} << 5 << 8 << "FlashDump.bin" << 0 << true << -1;
    QTest::newRow("good run after a stopped one")
        << QList<WindowRun>{check(6), good} << 5 << 8 << "FlashDump.bin" << 1 << false << -1;
}

// Only a run that ends with "Transfer succesfull!" puts its dump under the
// file's name; every other run leaves what it received in <name>.part and an
// earlier dump as it was. A good dump with other bytes never replaces an
// earlier one: that one is kept under a dated name, and the log says where.
void TestDumpWindow::keepsEveryDump()
{
    QFETCH(QList<WindowRun>, runs);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, name);
    QFETCH(int, savedRun);
    QFETCH(bool, partKept);
    QFETCH(int, keptRun);

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("startEdit")->setText(QString::number(start));
    w.control<QLineEdit>("countEdit")->setText(QString::number(count));
    // A stopped dump is started again, not continued.
    prompts.otherwiseAnswer = 1;
    QByteArray received;
    for (int i = 0; i < runs.size(); ++i) {
        const WindowRun &run = runs.at(i);
        received = runOnce(w, imageOfRun(run.imageOf >= 0 ? run.imageOf : i), run.fault, start, run.closeAt);
    }
    QVERIFY(prompts.messages.isEmpty());

    QStringList expected;
    QString kept;
    if (keptRun >= 0) {
        const QStringList dated = QDir(dir.path()).entryList({name.chopped(4) + ".*.bin"});
        QCOMPARE(dated.size(), 1);
        kept = dated.first();
        expected << kept;
        QVERIFY(readFile(dir.filePath(kept)) == imageOfRun(keptRun).mid(start * 1024, count * 1024));
        QVERIFY2(w.logText().endsWith("Transfer succesfull!\r\nThe earlier dump of this name is kept as "
                                      + dir.filePath(kept) + "\r\nSerial port closed.\r\n"),
                 qPrintable(w.logText().right(300)));
    } else {
        QVERIFY(!w.logText().contains("earlier dump"));
    }
    if (savedRun >= 0)
        expected << name;
    if (partKept)
        expected << name + ".part";
    expected.sort();
    QCOMPARE(entries(dir.path()), expected);
    if (savedRun >= 0)
        QVERIFY(readFile(dir.filePath(name)) == imageOfRun(savedRun).mid(start * 1024, count * 1024));
    if (partKept) {
        QVERIFY2(received.size() % 1024 == 0, received.constData());
        QCOMPARE(readFile(dir.filePath(name + ".part")), received);
    }
}

// The good dump cannot take its name: a file error naming both paths, and
// everything received stays in the .part.
void TestDumpWindow::renameFails()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("FlashDump.bin/inside"));
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("3");
    const QByteArray image = imageOfRun(0);
    QCOMPARE(runOnce(w, image, LoaderFault::none(), 0), image.left(3 * 1024));

    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    const QString text = prompts.messages.at(0).text;
    QVERIFY2(text.contains(dir.filePath("FlashDump.bin") + ':'), qPrintable(text));
    QVERIFY2(text.contains(dir.filePath("FlashDump.bin.part")), qPrintable(text));
    QVERIFY2(text.contains(QString::fromLocal8Bit(strerror(EISDIR))), qPrintable(text));
    QVERIFY2(w.logText().endsWith(blockLine(2) + TotalAsked + fileErrorLine(AwaitedTotal) + closedWith(3)),
             qPrintable(w.logText().right(200)));
    QCOMPARE(entries(dir.path()), (QStringList{"FlashDump.bin", "FlashDump.bin.part"}));
    QCOMPARE(entries(dir.filePath("FlashDump.bin")), QStringList{"inside"});
    QVERIFY(readFile(dir.filePath("FlashDump.bin.part")) == image.left(3 * 1024));
}

// Another process writes the .part right now: the run stops as a file error
// and leaves that file alone.
void TestDumpWindow::anotherWriter()
{
    const QString flock = QStandardPaths::findExecutable("flock");
    if (flock.isEmpty())
        QSKIP("flock (util-linux) is not installed: no second process can hold the lock");
    QTemporaryDir dir;
    const QString part = dir.filePath("FlashDump.bin.part");
    QFile other(part);
    QVERIFY(other.open(QIODevice::WriteOnly));
    other.write("OTHER");
    other.close();
    QProcess holder;
    holder.start(flock, {"--exclusive", part, "-c", "echo locked; exec cat"});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readAll(), QByteArray("locked\n"));

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("3");
    runOnce(w, imageOfRun(0), LoaderFault::none(), 0);

    QCOMPARE(w.logText(), LogStart + blockAsked(0) + fileErrorLine(awaitedBlock(0)) + LogClosed);
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    QVERIFY2(prompts.messages.at(0).text.contains(part), qPrintable(prompts.messages.at(0).text));
    QVERIFY2(prompts.messages.at(0).text.contains("another Tarvik"), qPrintable(prompts.messages.at(0).text));
    QCOMPARE(readFile(part), QByteArray("OTHER"));
    QCOMPARE(entries(dir.path()), QStringList{"FlashDump.bin.part"});
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
}

void TestDumpWindow::typedFolder_data()
{
    QTest::addColumn<QString>("typed"); // "@" stands for the scratch folder
    QTest::addColumn<QString>("home");

    QTest::newRow("without /") << "@/sub" << "@";
    QTest::newRow("with /") << "@/sub/" << "@";
    QTest::newRow("~/ without /") << "~/sub" << "@";
    QTest::newRow("~/ with /") << "~/sub/" << "@";
    QTest::newRow("~ alone") << "~" << "@/sub";
}

// A folder typed by hand gets the file inside it; "~" is the home folder.
void TestDumpWindow::typedFolder()
{
    QFETCH(QString, typed);
    QFETCH(QString, home);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("sub"));
    const EnvGuard homeGuard("HOME", QFile::encodeName(home.replace('@', dir.path())));
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(typed.replace('@', dir.path()));
    w.control<QLineEdit>("startEdit")->setText("5");
    w.control<QLineEdit>("countEdit")->setText("3");
    const QByteArray image = imageOfRun(0);
    QCOMPARE(runOnce(w, image, LoaderFault::none(), 5), image.mid(5 * 1024, 3 * 1024));

    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(entries(dir.path()), QStringList{"sub"});
    QCOMPARE(entries(dir.filePath("sub")), QStringList{"FlashDump.bin"});
    QVERIFY(readFile(dir.filePath("sub/FlashDump.bin")) == image.mid(5 * 1024, 3 * 1024));
    QVERIFY(w.logText().contains("REQUEST_1024DOWN:0007    1024DOWN_SUCCESS:0007\r\nREQUEST_TOTALCRC"));
}

void TestDumpWindow::modelNames_data()
{
    QTest::addColumn<QByteArray>("model");
    QTest::addColumn<bool>("header");
    QTest::addColumn<QString>("fileName");

    QTest::newRow("empty") << QByteArray() << false << "FlashDump.bin";
    QTest::newRow("empty, header") << QByteArray() << true << "FlashDump_HW01.00.0A_SW02.03.15_conv.bin";
    QTest::newRow(".hidden") << QByteArray(".hidden") << false << "_hidden.bin";
    QTest::newRow(".hidden, header") << QByteArray(".hidden") << true
                                     << "_hidden_HW01.00.0A_SW02.03.15_conv.bin";
    // Markup that would show a made-up path and hash in a rich-text tooltip.
    const QByteArray markup = "X.bin<br>1 bytes<br>SHA-256 0<!--";
    QTest::newRow("markup") << markup << false << QString::fromLatin1(markup + ".bin");
}

// No model name hides the dump; the label and the header keep the name as the
// box reports it; the tooltip shows the path as it is.
void TestDumpWindow::modelNames()
{
    QFETCH(QByteArray, model);
    QFETCH(bool, header);
    QFETCH(QString, fileName);
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path());
    w.control<QCheckBox>("headerCheck")->setChecked(header);
    const QByteArray image = LoaderSim::defaultImage(model);
    QCOMPARE(runOnce(w, image, LoaderFault::none(), 0).size(), image.size());

    QVERIFY(prompts.messages.isEmpty());
    QCOMPARE(w.control<QLabel>("modelLabel")->text(), QString::fromLatin1(model));
    QCOMPARE(entries(dir.path()), QStringList{fileName});
    const QByteArray kup = header ? "KAON0008B9" "01000A" "020315" "0000000000C" + model + "x" : QByteArray();
    const QByteArray file = readFile(dir.filePath(fileName));
    QVERIFY(file == kup + image);
    QCOMPARE(shownText(w.control<QProgressBar>("progressBar")->toolTip()),
             QStringLiteral("%1\n%2 bytes\nSHA-256 %3")
                     .arg(dir.filePath(fileName))
                     .arg(file.size())
                     .arg(QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex())));
}

// Something planted where the dump is received is never written through: the
// run stops before a byte is written, and says what is in the way.
void TestDumpWindow::plantedPart()
{
    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString victim = elsewhere.filePath("victim");
    QVERIFY(writeFile(victim, "precious"));
    const QString part = dir.filePath("FlashDump.bin.part");
    QVERIFY(QFile::link(victim, part));

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("3");
    runOnce(w, imageOfRun(0), LoaderFault::none(), 0);

    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    QCOMPARE(prompts.messages.at(0).text, part + " is a symbolic link: remove it, or choose another folder.");
    QVERIFY2(w.logText().endsWith(blockAsked(0) + fileErrorLine(awaitedBlock(0)) + LogClosed),
             qPrintable(w.logText().right(200)));
    QCOMPARE(readFile(victim), QByteArray("precious"));
    QCOMPARE(QFileInfo(part).symLinkTarget(), victim);
    QCOMPARE(entries(dir.path()), QStringList{"FlashDump.bin.part"});
}

void TestDumpWindow::continueStoppedDump_data()
{
    QTest::addColumn<int>("answer");        // of the question: 0 Continue, 1 Start again, 2 Cancel
    QTest::addColumn<bool>("folderChanged"); // between the two runs: no question then
    QTest::addColumn<bool>("restarted");     // the program, between the two runs

    QTest::newRow("continue") << 0 << false << false;
    QTest::newRow("start again") << 1 << false << false;
    QTest::newRow("cancel") << 2 << false << false;
    QTest::newRow("another folder") << -1 << true << false;
    QTest::newRow("continue after a restart") << 0 << false << true;
    QTest::newRow("start again after a restart") << 1 << false << true;
}

// After a dump of the whole flash stopped, the next Open offers to continue it
// from its .part, also in a program started anew (from the record beside the
// .part); continuing reads only the blocks from the last good one on.
void TestDumpWindow::continueStoppedDump()
{
    QFETCH(int, answer);
    QFETCH(bool, folderChanged);
    QFETCH(bool, restarted);

    QTemporaryDir dir;
    QTemporaryDir other;
    ScriptedPrompts prompts;
    auto window = std::make_unique<MainWindow>(&prompts);
    window->control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    const QByteArray image = imageOfRun(0);
    runOnce(*window, image, LoaderFault::badCheck(900), 0);
    QVERIFY(QFileInfo::exists(dir.filePath("KSF-2100.bin.part")));
    QVERIFY(window->logText().endsWith("Serial port closed.\r\nOpen again to continue from block 0899\r\n"));
    if (restarted) {
        window = std::make_unique<MainWindow>(&prompts);
        window->control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    }
    MainWindow &w = *window;
    if (folderChanged)
        w.control<QLineEdit>("folderEdit")->setText(other.path() + "/");

    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setImage(image);
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    prompts.answers = {answer};
    w.onOpenClicked();
    if (folderChanged) {
        QVERIFY(prompts.questions.isEmpty());
    } else {
        QCOMPARE(prompts.questions.size(), 1);
        QCOMPARE(prompts.questions.at(0).text,
                 QStringLiteral("The last dump of KSF-2100 holds blocks 0000\u20130900 and is kept in "
                                "KSF-2100.bin.part. Continue it from block 0899, or start again from block 0?"));
        QCOMPARE(prompts.questionButtons.at(0), (QStringList{"Continue", "Start again", "Cancel"}));
    }
    if (answer == 2) {
        QVERIFY(!portOf(w.session()).isOpen());
        QVERIFY(sim.received().isEmpty());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    // The loader takes in the closing message after the window is idle again.
    QTRY_VERIFY(sim.received().endsWith("UPGRADE_SUCCESS\r\n"));
    QCOMPARE(sim.deviations(), QStringList());
    const QString folder = folderChanged ? other.path() : dir.path();
    QVERIFY(readFile(folder + "/KSF-2100.bin") == image);
    if (answer == 0) {
        QTRY_COMPARE(sim.received(), resumedWire(SamplesBefore899, 899, 1024, true));
        QVERIFY2(w.logText().startsWith("sending request...\r\nContinuing " + dir.filePath("KSF-2100.bin.part")
                                        + " from block 0899\r\nREQUEST_1024DOWN:0000    "),
                 qPrintable(w.logText().left(300)));
        // The bar counts the flash's blocks, so a whole flash reads as whole.
        const auto *bar = w.control<QProgressBar>("progressBar");
        QCOMPARE(bar->maximum(), 1024);
        QCOMPARE(bar->value(), 1024);
    } else {
        QTRY_COMPARE(sim.received(), wholeWire(0, 1024, true));
    }
}

void TestDumpWindow::stoppedDumpIsNeverCutUnasked_data()
{
    QTest::addColumn<LoaderFault>("first");  // the run that leaves the .part (blocks 0-7)
    QTest::addColumn<QString>("between");    // "restart" the program without the record, read "10" blocks,
                                             // or "forge" the record's whole blocks
    QTest::addColumn<bool>("refusedFirst");  // the next run stops rather than cut it, then Open asks
    QTest::addColumn<QString>("question");   // PART: the .part's path
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QString>("answer");

    const QStringList startAgain{"Start again", "Cancel"};
    const QStringList all{"Continue", "Start again", "Cancel"};
    const QString failedTotal = "PART cannot be continued: its run failed the check over the whole transfer, so "
                                "any of its blocks may be wrong. Cut it and start again from block 0?";
    const QString noRecord = "The last dump of KSF-2100 holds blocks 0000\u20130006 and is kept in FlashDump.bin.part. "
                             "Continue it from block 0005, or start again from block 0? It has no record of its "
                             "run: it is taken for a read of this range.";
    const QString otherRange = "PART holds a stopped read of 8 blocks from block 0: give that range to continue it. "
                               "Cut it and start again from block 0?";
    QTest::newRow("failed total, start again") << LoaderFault::badTotal() << "" << false << failedTotal << startAgain << "Start again";
    QTest::newRow("failed total, cancel") << LoaderFault::badTotal() << "" << false << failedTotal << startAgain << "Cancel";
    QTest::newRow("no record, continue") << LoaderFault::badCheck(6) << "restart" << true << noRecord << all << "Continue";
    QTest::newRow("no record, cancel") << LoaderFault::badCheck(6) << "restart" << true << noRecord << all << "Cancel";
    const QString forged = "PART.state does not agree with its .part: it counts 50 whole blocks, and the .part "
                           "holds 7. Nothing was cut. Cut it and start again from block 0?";
    QTest::newRow("forged record, cancel") << LoaderFault::badCheck(6) << "forge" << false << forged << startAgain
                                           << "Cancel";
    QTest::newRow("another range, start again") << LoaderFault::badCheck(6) << "10" << true << otherRange << startAgain
                                                << "Start again";
}

// A .part that holds a stopped dump is cut only when the user chose to start
// again: also when its run can't be continued, when it has no record (an
// older version's, after a restart) and when its record gives another range.
// A run that would cut one unasked stops first and says so; Open then asks.
void TestDumpWindow::stoppedDumpIsNeverCutUnasked()
{
    QFETCH(LoaderFault, first);
    QFETCH(QString, between);
    QFETCH(bool, refusedFirst);
    QFETCH(QString, question);
    QFETCH(QStringList, buttons);
    QFETCH(QString, answer);

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    auto window = std::make_unique<MainWindow>(&prompts);
    window->control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    window->control<QLineEdit>("countEdit")->setText("8");
    const QByteArray image = imageOfRun(0);
    runOnce(*window, image, first, 0);
    const QString part = dir.filePath("FlashDump.bin.part");
    if (first.stops())
        QVERIFY2(window->logText().endsWith("Serial port closed.\r\nOpen again to continue from block 0005\r\n"),
                 qPrintable(window->logText().right(100)));
    else
        QVERIFY(window->logText().endsWith("Serial port closed.\r\n"));
    if (between == u"restart") {
        QVERIFY(QFile::remove(part + ".state"));
        window = std::make_unique<MainWindow>(&prompts);
        window->control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
        window->control<QLineEdit>("countEdit")->setText("8");
    } else if (between == u"forge") {
        const QByteArray record = readFile(part + ".state");
        QVERIFY(record.contains("\nwhole_blocks=7\n"));
        QVERIFY(writeFile(part + ".state", QByteArray(record).replace("\nwhole_blocks=7\n", "\nwhole_blocks=50\n")));
    } else if (!between.isEmpty()) {
        window->control<QLineEdit>("countEdit")->setText(between);
    }
    MainWindow &w = *window;
    const QByteArray partBefore = readFile(part);
    const QByteArray recordBefore = readFile(part + ".state");

    if (refusedFirst) {
        QCOMPARE(runOnce(w, image, LoaderFault::none(), 0).left(5), QByteArray());
        QCOMPARE(prompts.questions.size(), 0);
        QCOMPARE(prompts.messages.size(), 1);
        QCOMPARE(prompts.messages.at(0).text,
                 part + QStringLiteral(" holds a stopped dump of 7 whole blocks: Open again to continue it or to "
                                       "start again."));
        QVERIFY(readFile(part) == partBefore);
        QVERIFY(readFile(part + ".state") == recordBefore);
    }

    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setImage(image);
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    prompts.buttonTexts = {answer};
    w.onOpenClicked();
    QCOMPARE(prompts.questions.size(), 1);
    QCOMPARE(prompts.questions.at(0).title, QStringLiteral("Stopped dump"));
    QCOMPARE(prompts.questions.at(0).text, QString(question).replace("PART", part));
    QCOMPARE(prompts.questionButtons.at(0), buttons);
    if (answer == u"Cancel") {
        QVERIFY(!portOf(w.session()).isOpen());
        QVERIFY(sim.received().isEmpty());
        QVERIFY(readFile(part) == partBefore);
        QVERIFY(readFile(part + ".state") == recordBefore);
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    QCOMPARE(sim.deviations(), QStringList());
    const int count = w.control<QLineEdit>("countEdit")->text().toInt();
    QVERIFY(readFile(dir.filePath("FlashDump.bin")) == image.left(count * 1024));
    QCOMPARE(entries(dir.path()), QStringList{"FlashDump.bin"});
    QVERIFY(w.logText().endsWith("Transfer succesfull!\r\nSerial port closed.\r\n"));
    if (answer == u"Continue")
        QVERIFY2(w.logText().contains("Continuing " + part + " from block 0005\r\n"), qPrintable(w.logText()));
    else
        QVERIFY(!w.logText().contains("Continuing"));
}

void TestDumpWindow::totalCheck_data()
{
    QTest::addColumn<bool>("differs");
    QTest::newRow("differs") << true;
    QTest::newRow("matches") << false;
}

// A differing total is said in the log and on the bar; the wire stays as it
// is. A matching one adds nothing new to the log.
void TestDumpWindow::totalCheck()
{
    QFETCH(bool, differs);
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("4");
    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setBadTotal(differs);
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    w.onOpenClicked();
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 20000);

    // DOWN_SUCCESS only for a match, UPGRADE_SUCCESS always.
    QTRY_VERIFY(sim.received().endsWith("UPGRADE_SUCCESS\r\n"));
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(prompts.messages.isEmpty());
    int total = 0;
    for (int n = 0; n < 4; ++n)
        total += LoaderSim::checkValue(sim.block(n));
    total %= 256;
    const QString ending = differs ? totalErrorLine(total, total + 1) : LogSuccess;
    QVERIFY2(w.logText().endsWith("REQUEST_1024DOWN:0003    1024DOWN_SUCCESS:0003\r\nREQUEST_TOTALCRC    "
                                  + ending + "Serial port closed.\r\n"),
             qPrintable(w.logText().right(200)));

    auto *bar = w.control<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), 4);
    const QByteArray data = readFile(dir.filePath(differs ? "FlashDump.bin.part" : "FlashDump.bin"));
    QVERIFY(data == sim.image().left(4 * 1024));
    if (differs) {
        QCOMPARE(bar->format(), QStringLiteral("4 / 4 blocks \u00B7 total check failed"));
        QCOMPARE(bar->toolTip(), QString());
        QCOMPARE(entries(dir.path()), QStringList{"FlashDump.bin.part"});
    } else {
        QVERIFY2(bar->format().startsWith("4 / 4 blocks") && !bar->format().contains("failed"),
                 qPrintable(bar->format()));
        QVERIFY(shownText(bar->toolTip()).startsWith(dir.filePath("FlashDump.bin") + "\n4096 bytes\nSHA-256 "));
        QCOMPARE(entries(dir.path()), QStringList{"FlashDump.bin"});
    }
}

void TestDumpWindow::refusedRange_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("number");
    QTest::addColumn<QString>("folder");  // empty: the window's start folder; FILE: a plain file
    QTest::addColumn<QString>("message"); // empty: any reason
    QTest::newRow("empty start") << "" << "1024" << "" << "";
    QTest::newRow("empty number") << "0" << "" << "" << "";
    QTest::newRow("start too big") << "40000" << "1" << "" << "";
    QTest::newRow("number too big") << "0" << "99999" << "" << "";
    QTest::newRow("last block past 32767") << "32767" << "2" << "" << "";
    QTest::newRow("folder missing") << "0" << "1024" << "/nonexistent/out"
                                    << "The output folder /nonexistent/out does not exist.";
    QTest::newRow("folder is a file") << "0" << "1024" << "FILE" << "FILE is not a folder.";
}

// A range that cannot be read, or a folder that cannot take the dump, is
// refused before the port is touched.
void TestDumpWindow::refusedRange()
{
    QFETCH(QString, start);
    QFETCH(QString, number);
    QFETCH(QString, folder);
    QFETCH(QString, message);
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plain"));
    QVERIFY(writeFile(file, "not a folder"));
    folder.replace(QStringLiteral("FILE"), file);
    message.replace(QStringLiteral("FILE"), file);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    const QString log = w.logText();
    w.control<QLineEdit>("startEdit")->setText(start);
    w.control<QLineEdit>("countEdit")->setText(number);
    if (!folder.isEmpty())
        w.control<QLineEdit>("folderEdit")->setText(folder);
    w.onOpenClicked();
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    QVERIFY(!prompts.messages.at(0).text.isEmpty());
    if (!message.isEmpty())
        QCOMPARE(prompts.messages.at(0).text, message);
    QVERIFY(!portOf(w.session()).isOpen());
    QCOMPARE(w.logText(), log);
    QVERIFY(portOf(w.session()).devicePath().isEmpty()); // no opening was even tried
    QVERIFY(sim.received().isEmpty());
}

// The port opened, but another program has it open too: the run's log says
// who, right under its first line, and the run goes on.
void TestDumpWindow::sharedPortIsLogged()
{
    LoaderSim sim;
    Desk desk(sim, 2);
    QProcess heldBy;
    QVERIFY(holdShared(heldBy, sim.slavePath()));
    const auto endHolder = qScopeGuard([&heldBy] {
        heldBy.closeWriteChannel();
        heldBy.waitForFinished();
    });
    desk.open();
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(desk.w), 20000);
    const QString warning = QStringLiteral("%1 (pid %2) also has %3 open: it may take the box's answers\r\n")
                                    .arg(holderName(), QString::number(heldBy.processId()), sim.slavePath());
    QVERIFY2(desk.w.logText().startsWith("sending request...\r\n" + warning + "REQUEST_1024DOWN:0000"),
             qPrintable(desk.w.logText()));
    QVERIFY(desk.w.logText().contains("Transfer succesfull!\r\n"));
}

// A second run in the same instance names its file and label after its own first block.
void TestDumpWindow::secondRunStartsAfresh()
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("2");
    for (const QByteArray &model : {QByteArrayLiteral("FIRST"), QByteArrayLiteral("")}) {
        LoaderSim sim;
        QVERIFY(sim.open());
        sim.setImage(LoaderSim::defaultImage(model));
        qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
        w.onOpenClicked();
        QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 20000);
        QCOMPARE(w.control<QLabel>("modelLabel")->text(), QString::fromLatin1(model));
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
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("4");
    w.onOpenClicked();
    QTRY_COMPARE(runOf(w.session()).stage(), tarvik::DumpRun::Stage::Stopped);
    auto *bar = w.control<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), 2);
    QCOMPARE(bar->format(), QStringLiteral("2 / 4 blocks \u00B7 stopped"));
    w.onCloseClicked();
    QCOMPARE(bar->format(), QStringLiteral("2 / 4 blocks \u00B7 stopped"));
}

void TestDumpWindow::stoppedRunSaysWhatCloseKeeps_data()
{
    QTest::addColumn<LoaderFault>("fault"); // a fault that stops the run with the port open, of 8 blocks
    using Point = LoaderFault::Point;
    QTest::newRow("check error") << LoaderFault::badCheck(5);
    QTest::newRow("stall") << LoaderFault::stall(Point::Block, 5, 600);
    QTest::newRow("unexpected data") << LoaderFault::extraAfter(Point::Block, 4, "\r\nOK\r\n");
    QTest::newRow("too early to keep anything") << LoaderFault::badCheck(0);
}

// A run that stops keeps the port and the file open until Close; right after
// its error line the log says that Close keeps the blocks and where Open
// then goes on, the block that the hint after Close names as well.
void TestDumpWindow::stoppedRunSaysWhatCloseKeeps()
{
    QFETCH(LoaderFault, fault);
    LoaderSim sim;
    fault.applyTo(sim);
    Desk desk(sim, 8);
    desk.open();
    if (fault.kind == LoaderFault::Kind::Stall) {
        // The loader falls silent; ten seconds later the run gives up.
        QTRY_COMPARE(sim.stage(), LoaderSim::Stage::Silent);
        QTRY_COMPARE(portOf(desk.w.session()).bytesWaiting(), fault.afterBytes);
        desk.clock.advance(tarvik::DumpRun::DefaultStallMs);
    }
    QTRY_COMPARE(runOf(desk.w.session()).stage(), tarvik::DumpRun::Stage::Stopped);
    QTRY_VERIFY(desk.w.logText().startsWith(fault.log(sim, 0, 8)));
    QCOMPARE(desk.controls(), QStringLiteral("Open off, Close on, folder off, lamp green"));
    const int whole = fault.wholeBlocks(0, 8);
    QTRY_COMPARE(desk.w.logText(), fault.log(sim, 0, 8) + stoppedWith(whole));
    QCOMPARE(stoppedWith(whole).isEmpty(), whole < 2);

    desk.close();
    QVERIFY(runEnded(desk.w));
    QCOMPARE(desk.w.logText(), fault.log(sim, 0, 8) + stoppedWith(whole) + closedWith(whole));
}

void TestDumpWindow::barMenu_data()
{
    QTest::addColumn<QString>("how"); // the menu is opened by: "mouse", "Menu" or "Shift+F10"
    QTest::addColumn<LoaderFault>("fault");

    QTest::newRow("right click, good run") << "mouse" << LoaderFault::none();
    QTest::newRow("Menu key, good run") << "Menu" << LoaderFault::none();
    QTest::newRow("Shift+F10, good run") << "Shift+F10" << LoaderFault::none();
    QTest::newRow("right click, wrong total") << "mouse" << LoaderFault::badTotal();
    QTest::newRow("Shift+F10, check error") << "Shift+F10" << LoaderFault::badCheck(2);
}

// The bar's context menu, by mouse or keyboard, copies the dump's path and
// SHA-256 and shows its folder; with no good dump each entry is disabled.
void TestDumpWindow::barMenu()
{
    QFETCH(QString, how);
    QFETCH(LoaderFault, fault);

    LoaderSim sim;
    fault.applyTo(sim);
    Desk desk(sim, 4);
    desk.w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&desk.w));
    desk.open();
    if (fault.stops()) {
        QTRY_COMPARE(runOf(desk.w.session()).stage(), tarvik::DumpRun::Stage::Stopped);
        desk.close();
    }
    QTRY_VERIFY(runEnded(desk.w));

    auto *bar = desk.w.control<QProgressBar>("progressBar");
    bar->setFocus(Qt::TabFocusReason);
    if (how == u"mouse") // through the window, as the platform delivers it
        QTest::mouseClick(desk.w.windowHandle(), Qt::RightButton, {}, bar->mapTo(&desk.w, QPoint(5, 5)));
    else if (how == u"Menu")
        QTest::keyClick(bar, Qt::Key_Menu);
    else
        QTest::keyClick(bar, Qt::Key_F10, Qt::ShiftModifier);
    QMenu *menu = nullptr;
    QTRY_VERIFY((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())) != nullptr);
    const QList<QAction *> actions = menu->actions();
    QStringList offered;
    for (QAction *a : actions)
        offered << a->text() + (a->isEnabled() ? "" : " (off)");
    const bool good = fault.outcome() == LoaderFault::Outcome::Success;
    const QString off = good ? QString() : QStringLiteral(" (off)");
    QCOMPARE(offered, (QStringList{"Copy file path" + off, "Copy SHA-256" + off, "Show in folder" + off}));
    menu->close();
    if (!good) {
        for (QAction *a : actions)
            a->trigger();
        QVERIFY(desk.prompts.shownFolders.isEmpty());
        return;
    }

    const QString file = desk.path(QStringLiteral("FlashDump.bin"));
    QClipboard *clipboard = QGuiApplication::clipboard();
    actions.at(0)->trigger();
    QCOMPARE(clipboard->text(), file);
    actions.at(1)->trigger();
    QCOMPARE(clipboard->text(),
             QString::fromLatin1(QCryptographicHash::hash(readFile(file), QCryptographicHash::Sha256).toHex()));
    actions.at(2)->trigger();
    QCOMPARE(desk.prompts.shownFolders, QStringList{QFileInfo(file).absolutePath()});

    // A new run offers nothing until it has a dump of its own.
    LoaderSim next;
    QVERIFY(next.open());
    qputenv("TARVIK_COM1", next.slavePath().toLocal8Bit());
    desk.prompts.buttonTexts = {QStringLiteral("Start again")};
    desk.open();
    for (QAction *a : actions)
        QVERIFY(!a->isEnabled());
    desk.close();
}

void TestDumpWindow::barColour_data()
{
    QTest::addColumn<LoaderFault>("fault"); // of 8 blocks
    QTest::addColumn<int>("closeAt");       // Close while this block is on its way (-1: never)
    QTest::addColumn<bool>("red");

    using Point = LoaderFault::Point;
    QTest::newRow("good") << LoaderFault::none() << -1 << false;
    QTest::newRow("wrong total") << LoaderFault::badTotal() << -1 << true;
    QTest::newRow("check error") << LoaderFault::badCheck(4) << -1 << true;
    QTest::newRow("adapter pulled") << LoaderFault::hangUp(Point::Block, 4, 10) << -1 << true;
    QTest::newRow("closed by the user") << LoaderFault::none() << 4 << true;
}

// After a run that did not end well the bar is filled in the lamp's red; after
// a good one as at the start. Its value stays the count of good blocks.
void TestDumpWindow::barColour()
{
    QFETCH(LoaderFault, fault);
    QFETCH(int, closeAt);
    QFETCH(bool, red);

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("8");
    auto *bar = w.control<QProgressBar>("progressBar");
    // The colour of the filled part, a few pixels in from the left.
    const auto fill = [bar] { return bar->grab().toImage().pixelColor(6, bar->height() / 2); };
    runOnce(w, LoaderSim::defaultImage(), fault, 0, closeAt);
    QVERIFY(runEnded(w));
    QVERIFY(bar->value() >= 2);
    const QColor ended = fill();
    const QColor lampRed(255, 0, 0);
    const auto near = [](const QColor &a, const QColor &b) {
        return qAbs(a.red() - b.red()) + qAbs(a.green() - b.green()) + qAbs(a.blue() - b.blue()) < 90;
    };
    QVERIFY2(near(ended, lampRed) == red, qPrintable(ended.name()));

    // The next run starts in the usual colour.
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    prompts.buttonTexts = {QStringLiteral("Start again")};
    w.onOpenClicked();
    bar->setValue(4);
    QVERIFY2(!near(fill(), lampRed), qPrintable(fill().name()));
    if (!red)
        QCOMPARE(fill(), ended);
    w.onCloseClicked();
}

namespace {

// The window's folder with a stopped dump of blocks 0-7 in it: blocks 0 to 5
// kept in FlashDump.bin.part, the run stopped at a wrong check byte in block 5.
QString leaveStoppedDump(const QTemporaryDir &dir)
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("8");
    runOnce(w, imageOfRun(0), LoaderFault::badCheck(5), 0);
    return dir.filePath("FlashDump.bin.part");
}

} // namespace

void TestDumpWindow::portBeforeQuestion_data()
{
    QTest::addColumn<bool>("portThere");
    QTest::addColumn<QString>("message"); // the start of the box's text, if one is shown
    QTest::addColumn<int>("questions");

    QTest::newRow("port missing") << false << "Serial port COM 1 not present." << 0;
    QTest::newRow("cancelled at the question") << true << QString() << 1;
}

// With a stopped dump in the folder, Open tries the port before it asks: a
// missing port is said without the question. Cancelled at the question, the
// port is closed again without a word: the log, the controls and the .part
// stay as they were, and nothing goes out.
void TestDumpWindow::portBeforeQuestion()
{
    QFETCH(bool, portThere);
    QFETCH(QString, message);
    QFETCH(int, questions);

    QTemporaryDir dir;
    const QString part = leaveStoppedDump(dir);
    const QByteArray partBefore = readFile(part);
    QVERIFY(!partBefore.isEmpty());

    LoaderSim sim;
    QVERIFY(sim.open());
    const EnvGuard com1("TARVIK_COM1", portThere ? sim.slavePath().toLocal8Bit() : dir.filePath("ttyUSB9").toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("8");
    const QString log = w.logText();
    prompts.buttonTexts = {QStringLiteral("Cancel")};
    w.control<QPushButton>("openButton")->click();

    QCOMPARE(prompts.questions.size(), questions);
    QCOMPARE(prompts.messages.size(), message.isEmpty() ? 0 : 1);
    if (!message.isEmpty()) {
        QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error opening COM 1"));
        QVERIFY2(prompts.messages.at(0).text.startsWith(message), qPrintable(prompts.messages.at(0).text));
    }
    QVERIFY(!portOf(w.session()).isOpen());
    QVERIFY(runEnded(w));
    QCOMPARE(w.control<ShapeWidget>("lamp")->fillColor(), 255u);
    QVERIFY(w.control<QPushButton>("folderButton")->isEnabled());
    QVERIFY(!w.control<QPushButton>("closeButton")->isEnabled());
    QCOMPARE(w.logText(), log);
    QVERIFY(readFile(part) == partBefore);
    QCOMPARE(sim.received(), QByteArray());
}

void TestDumpWindow::keysOnTheQuestion_data()
{
    QTest::addColumn<QString>("button"); // of the question, by its text: the one with the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("answer"); // what the key chose

    QTest::newRow("Escape") << "Continue" << int(Qt::Key_Escape) << "Cancel";
    QTest::newRow("Return on Start again") << "Start again" << int(Qt::Key_Return) << "Start again";
    QTest::newRow("keypad Enter on Continue") << "Continue" << int(Qt::Key_Enter) << "Continue";
    QTest::newRow("Return on Cancel") << "Cancel" << int(Qt::Key_Return) << "Cancel";
}

// The stopped-dump question as the user has it, a real message box reached
// by Return on Open: Escape is Cancel, and Return or keypad Enter clicks the
// button that has the focus, whichever is the default.
void TestDumpWindow::keysOnTheQuestion()
{
    QFETCH(QString, button);
    QFETCH(int, key);
    QFETCH(QString, answer);

    QTemporaryDir dir;
    const QString part = leaveStoppedDump(dir);
    const QByteArray partBefore = readFile(part);
    const QByteArray image = imageOfRun(0);
    LoaderSim sim;
    QVERIFY(sim.open());
    sim.setImage(image);
    const EnvGuard com1("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    MainWindow w; // with real dialogs
    w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("8");
    const QString log = w.logText();

    QStringList boxes;
    QTimer keys;
    connect(&keys, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        boxes << box->windowTitle();
        for (QAbstractButton *b : box->buttons()) {
            if (boxes.size() == 1 && b->text() == button) {
                b->setFocus(Qt::TabFocusReason);
                QTest::keyClick(b, Qt::Key(key), key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
            }
        }
        if (box->isVisible()) { // the key did nothing, or another box: do not hang the test
            boxes << QStringLiteral("left open");
            box->done(-1);
        }
    });
    keys.start(10);
    auto *open = w.control<QPushButton>("openButton");
    open->setFocus(Qt::TabFocusReason);
    QTest::keyClick(open, Qt::Key_Return);

    if (answer == u"Cancel") {
        QCOMPARE(boxes, QStringList{"Stopped dump"});
        QVERIFY(runEnded(w));
        QCOMPARE(w.logText(), log);
        QVERIFY(readFile(part) == partBefore);
        QCOMPARE(sim.received(), QByteArray());
        return;
    }
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    QCOMPARE(sim.deviations(), QStringList());
    QVERIFY(readFile(dir.filePath("FlashDump.bin")) == image.left(8 * 1024));
    QCOMPARE(w.logText().contains("Continuing " + part + " from block 0004\r\n"), answer == u"Continue");
    QCOMPARE(boxes, QStringList{"Stopped dump"});
}

// Return on a focused Open starts a run, keypad Enter on a focused Close ends it.
void TestDumpWindow::enterClicksOpenAndClose()
{
    QTemporaryDir dir;
    LoaderSim sim;
    QVERIFY(sim.open());
    const EnvGuard com1("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("8");
    auto *close = w.control<QPushButton>("closeButton");
    connect(&sim, &LoaderSim::blockServed, &w, [close](int n) {
        if (n == 3) {
            close->setFocus(Qt::TabFocusReason);
            QTest::keyClick(close, Qt::Key_Enter, Qt::KeypadModifier);
        }
    });
    auto *open = w.control<QPushButton>("openButton");
    open->setFocus(Qt::TabFocusReason);
    QTest::keyClick(open, Qt::Key_Return);
    QVERIFY(portOf(w.session()).isOpen());
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    QCOMPARE(w.control<QProgressBar>("progressBar")->value(), 3);
    QVERIFY2(w.logText().endsWith("Serial port closed.\r\nOpen again to continue from block 0001\r\n"),
             qPrintable(w.logText().right(200)));
}

// The simulated loader as scripts/run.sh --demo starts it answers one Open
// after another: a run closed half-way is continued by the next.
void TestDumpWindow::demoServesAgain()
{
    QProcess loader;
    loader.start(QStringLiteral(TARVIK_LOADER_SIM), {"--baud", "115200", "--keep-running"});
    QVERIFY(loader.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(loader.canReadLine(), 10000);
    const QByteArray device = loader.readLine().trimmed();
    const EnvGuard com1("TARVIK_COM1", device);

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("16");
    bool closing = false;
    connect(&w.session(), &tarvik::Session::progressed, &w, [&](int done) {
        if (done >= 3 && !closing) {
            closing = true;
            QTimer::singleShot(0, &w, &MainWindow::onCloseClicked);
        }
    });
    w.onOpenClicked();
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    QVERIFY2(w.logText().contains("Serial port closed.\r\nOpen again to continue from block"),
             qPrintable(w.logText().right(200)));

    prompts.buttonTexts = {QStringLiteral("Continue")};
    w.onOpenClicked();
    QCOMPARE(prompts.messages.size(), 0);
    QCOMPARE(prompts.questions.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(runEnded(w), 30000);
    QVERIFY2(w.logText().contains("Continuing ") && w.logText().endsWith("Transfer succesfull!\r\nSerial port closed.\r\n"),
             qPrintable(w.logText()));
    QVERIFY(readFile(dir.filePath("FlashDump.bin")) == LoaderSim::defaultImage().left(16 * 1024));

    QCOMPARE(loader.state(), QProcess::Running);
    loader.terminate();
    QVERIFY(loader.waitForFinished());
    QCOMPARE(loader.readAllStandardError(), QByteArray());
}

QTEST_MAIN(TestDumpWindow)
#include "tst_dumpwindow.moc"
