// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's start-up, its log pane, and opening and closing the port.
#include "dump/partrecord.h"
#include "dump/portmap.h"
#include "dump/version.h"
#include "support/ordinaryuser.h"
#include "support/ptypair.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "window/controls.h"
#include "window/logpane.h"
#include "window/mainwindow.h"
#include "window/prompts.h"
#include "window/startfolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QProcess>
#include <QScopeGuard>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using tarvik::LogPane;
using tarvik::MainWindow;
using tarvik::ShapeWidget;

namespace {

const QString StartupLog = QStringLiteral(
        "ACTIVATE THE \"HOST - MODE\" OF THE STB FIRST, CLICK OPEN THEN\r\n"
        "58203 for editing start block and number of blocks. (You must know what you do!!!)\r\n");

quint32 lamp(const MainWindow &w)
{
    return w.control<ShapeWidget>("lamp")->fillColor();
}

bool caretAtEndWithoutSelection(MainWindow &w)
{
    auto *log = w.control<LogPane>("logPane");
    const QTextCursor c = log->textCursor();
    return !c.hasSelection() && c.atEnd();
}

struct ControlStates {
    bool open, close, dir, folder, list, header;
};

ControlStates states(const MainWindow &w)
{
    return {w.control<QPushButton>("openButton")->isEnabled(),
            w.control<QPushButton>("closeButton")->isEnabled(),
            w.control<QPushButton>("folderButton")->isEnabled(),
            w.control<QLineEdit>("folderEdit")->isEnabled(),
            w.control<QComboBox>("portList")->isEnabled(),
            w.control<QCheckBox>("headerCheck")->isEnabled()};
}

bool isIdle(const MainWindow &w)
{
    const ControlStates s = states(w);
    return s.open && !s.close && s.dir && s.folder && s.list && s.header;
}

bool isConnected(const MainWindow &w)
{
    const ControlStates s = states(w);
    return !s.open && s.close && !s.dir && !s.folder && !s.list && !s.header;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startupState();
    void openAndClose();
    void closingTheWindowClosesThePort();
    void openErrors_data();
    void openErrors();
    void environmentWinsOverPresentPorts();
    void missingNthPortIsNotPresent();
    void startFolder_data();
    void startFolder();
    void installFolders_data();
    void installFolders();
    void stoppedDumpInProgramFolder();
    void messageBoxIsPlainText();
    void commandLine_data();
    void commandLine();

private:
    void clearPortEnvironment();
};

void TestMainWindow::clearPortEnvironment()
{
    for (int n = tarvik::PortMap::FirstPort; n <= tarvik::PortMap::LastPort; ++n)
        qunsetenv(qPrintable(tarvik::PortMap::environmentName(n)));
}

void TestMainWindow::init()
{
    clearPortEnvironment();
}

void TestMainWindow::startupState()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);

    QCOMPARE(w.logText(), StartupLog);
    QVERIFY(caretAtEndWithoutSelection(w));

    auto *list = w.control<QComboBox>("portList");
    QCOMPARE(list->count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(list->itemText(i), QStringLiteral("COM %1").arg(i + 1));
        QCOMPARE(list->itemData(i).toInt(), i + 1);
        QVERIFY(!list->itemData(i, Qt::ToolTipRole).toString().isEmpty());
    }
    QCOMPARE(list->currentIndex(), 0);

    QCOMPARE(w.control<QLineEdit>("folderEdit")->text(), prompts.folders().program + "/");
    QCOMPARE(w.control<QLineEdit>("startEdit")->text(), QStringLiteral("0"));
    QCOMPARE(w.control<QLineEdit>("countEdit")->text(), QStringLiteral("1024"));
    QVERIFY(!w.control<QLineEdit>("startEdit")->isEnabled());
    QVERIFY(!w.control<QLineEdit>("countEdit")->isEnabled());
    QCOMPARE(lamp(w), 255u);
    QVERIFY(isIdle(w));
    QVERIFY(!w.control<QPushButton>("editButton")->isVisibleTo(&w));
    QVERIFY(!w.control<QCheckBox>("headerCheck")->isChecked());
    auto *bar = w.control<QProgressBar>("progressBar");
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isVisibleTo(&w));
    QVERIFY(prompts.messages.isEmpty());
}

void TestMainWindow::openAndClose()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    qputenv("TARVIK_COM1", pty.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();

    // The user had selected part of the log; the next append still leaves the caret at the end.
    auto *log = w.control<LogPane>("logPane");
    QTextCursor sel = log->textCursor();
    sel.setPosition(3);
    sel.setPosition(10, QTextCursor::KeepAnchor);
    log->setTextCursor(sel);

    w.control<QPushButton>("openButton")->click();
    QVERIFY(portOf(w.session()).isOpen());
    QVERIFY(isConnected(w));
    QCOMPARE(lamp(w), 65280u);
    auto *bar = w.control<QProgressBar>("progressBar");
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->maximum(), 1024);
    QCOMPARE(w.logText(), QStringLiteral("sending request...\r\n"));
    QVERIFY(caretAtEndWithoutSelection(w));

    w.control<QPushButton>("closeButton")->click();
    QVERIFY(!portOf(w.session()).isOpen());
    QCOMPARE(w.logText(), QStringLiteral("sending request...\r\nSerial port closed.\r\n"));
    QVERIFY(caretAtEndWithoutSelection(w));
    QCOMPARE(lamp(w), 255u);
    QVERIFY(isIdle(w));

    // A second Close logs nothing and leaves the lamp as it is.
    w.onCloseClicked();
    QCOMPARE(w.logText(), QStringLiteral("sending request...\r\nSerial port closed.\r\n"));
    QCOMPARE(lamp(w), 255u);
    QVERIFY(isIdle(w));
    QVERIFY(prompts.messages.isEmpty());
}

void TestMainWindow::closingTheWindowClosesThePort()
{
    PtyPair pty;
    qputenv("TARVIK_COM1", pty.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    w.control<QPushButton>("openButton")->click();
    QVERIFY(portOf(w.session()).isOpen());
    QVERIFY(w.close());
    QVERIFY(!portOf(w.session()).isOpen());
    QVERIFY(w.logText().endsWith(QStringLiteral("\r\nSerial port closed.\r\n")));
    QCOMPARE(w.logText().count(QStringLiteral("Serial port closed.")), 1);
}

void TestMainWindow::openErrors_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("logLine");

    // Each failure names the next step.
    QTest::newRow("missing device") << "missing"
        << "Serial port COM 1 not present.\n\nPlug the adapter in and click Open again, or choose another COM "
           "port (tarvik-dump --list shows the serial ports of this computer)."
        << "Error opening COM 1" << QString();
    QTest::newRow("held by another program") << "busy"
        << "COM 1 blocked by another application.\n\nTo see which program holds it, run: "
               + QString(::geteuid() == 0 ? "" : "sudo ") + "fuser -v %1"
        << "Error opening COM 1" << QString();
    QTest::newRow("held by a program that can be named") << "held"
        << "%1 is in use by HOLDER." << "Error opening COM 1" << QString();
    QTest::newRow("no rights") << "denied"
        << "No permission to open %1" << "Error opening COM 1" << QString();
    QTest::newRow("not a serial device") << "file"
        << QString() << QString() << "error opening COM1: ";
}

// A failed open leaves exactly the idle state: the dump run's own closePort
// logs nothing, and the log keeps its start-up lines apart from the open's own line.
void TestMainWindow::openErrors()
{
    QFETCH(QString, situation);
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(QString, logLine);

    QTemporaryDir dir;
    PtyPair pty;
    int holder = -1;
    const auto closeHolder = qScopeGuard([&holder] {
        if (holder >= 0)
            ::close(holder);
    });
    QProcess heldBy;
    const auto endHolder = qScopeGuard([&heldBy] {
        heldBy.closeWriteChannel();
        heldBy.waitForFinished();
    });
    QString path = pty.slavePath();
    if (situation == "missing") {
        path = dir.filePath("ttyGone");
    } else if (situation == "busy") {
        // Kept to itself with flock(), as serial tools do; the test's own
        // process is not looked at for a holder, so none is found.
        holder = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
    } else if (situation == "held") {
        // A program of the user who opens the port, as that user's window would meet it.
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ReadOther | QFileDevice::WriteOther));
        QVERIFY(holdAsOrdinaryUser(heldBy, path));
        text.replace(QLatin1String("HOLDER"), QStringLiteral("%1 (pid %2)").arg(holderName()).arg(heldBy.processId()));
        if (::geteuid() == 0) {
            const QStringList probe = probeOpenAsOrdinaryUser(path);
            QCOMPARE(probe.value(0), QStringLiteral("Busy"));
            QCOMPARE(probe.value(1), text.arg(path));
            return;
        }
    } else if (situation == "denied") {
        QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        if (::geteuid() == 0) {
            // The rights on a device do not hold for root: an ordinary user
            // tries, and is told what the window would tell.
            const QStringList probe = probeOpenAsOrdinaryUser(path);
            QCOMPARE(probe.value(0), QStringLiteral("PermissionDenied"));
            QVERIFY2(probe.value(1).startsWith(text.arg(path)), qPrintable(probe.value(1)));
            return;
        }
    } else if (situation == "file") {
        path = dir.filePath("plain-file");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    qputenv("TARVIK_COM1", path.toLocal8Bit());

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QPushButton>("openButton")->click();

    QVERIFY(!portOf(w.session()).isOpen());
    QVERIFY(isIdle(w));
    QCOMPARE(lamp(w), 255u);
    QVERIFY(!w.control<QProgressBar>("progressBar")->isVisibleTo(&w));
    if (text.isEmpty()) {
        QVERIFY(prompts.messages.isEmpty());
    } else {
        QCOMPARE(prompts.messages.size(), 1);
        const QString shown = prompts.messages.at(0).text;
        QVERIFY2(text.contains(u'%') ? shown.startsWith(text.arg(path)) : shown == text, qPrintable(shown));
        QCOMPARE(prompts.messages.at(0).title, title);
    }
    if (logLine.isEmpty()) {
        QCOMPARE(w.logText(), StartupLog);
    } else {
        QVERIFY(w.logText().startsWith(StartupLog + logLine));
        QVERIFY(w.logText().endsWith("\r\n"));
        QVERIFY(w.logText().size() > StartupLog.size() + logLine.size() + 2); // carries the reason
    }
}

void TestMainWindow::environmentWinsOverPresentPorts()
{
    PtyPair pty;
    qputenv("TARVIK_COM3", pty.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QComboBox>("portList")->setCurrentIndex(2);
    w.control<QPushButton>("openButton")->click();
    QVERIFY(portOf(w.session()).isOpen());
    QCOMPARE(portOf(w.session()).devicePath(), pty.slavePath());
    w.onCloseClicked();
}

void TestMainWindow::missingNthPortIsNotPresent()
{
    if (tarvik::PortMap::presentPorts().size() >= 4)
        QSKIP("this machine has four serial ports or more");
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QComboBox>("portList")->setCurrentIndex(3);
    w.control<QPushButton>("openButton")->click();
    QCOMPARE(prompts.messages.size(), 1);
    QVERIFY2(prompts.messages.at(0).text.startsWith(QStringLiteral("Serial port COM 4 not present.\n\nPlug the")),
             qPrintable(prompts.messages.at(0).text));
    QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error opening COM 4"));
    QCOMPARE(w.logText(), StartupLog);
}

void TestMainWindow::startFolder_data()
{
    QTest::addColumn<QString>("place"); // of the program's folder in the scratch folder
    QTest::addColumn<bool>("readOnly"); // the program's folder
    QTest::addColumn<bool>("documents"); // the home folder has Documents
    QTest::addColumn<QString>("expected"); // "prog", "docs" or "home"

    QTest::newRow("program folder the user can write") << "bin" << false << true << "prog";
    QTest::newRow("read-only program folder") << "bin" << true << true << "docs";
    QTest::newRow("read-only program folder, no Documents") << "bin" << true << false << "home";
    // Root may write there, and so may the user who owns the scratch folder.
    QTest::newRow("installed program folder that may be written") << "usr/bin" << false << true << "docs";
    QTest::newRow("installed, no Documents") << "opt/tarvik" << false << false << "home";
}

// A program folder that the user cannot write, or where programs are
// installed, is not where dumps go: the output folder then starts as
// Documents, or the home folder, and a cancelled picker goes back to the
// same, whoever runs the program. A copy of this test program plays the
// program, its folder mounted read-only where the row says so.
void TestMainWindow::startFolder()
{
    QFETCH(QString, place);
    QFETCH(bool, readOnly);
    QFETCH(bool, documents);
    QFETCH(QString, expected);

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString prog = scratch.filePath(place);
    const QString home = scratch.filePath("home");
    const QString docs = home + "/Documents";
    QVERIFY(QDir().mkpath(prog));
    QVERIFY(QDir().mkpath(documents ? docs : home));
    const QString copy = prog + "/tst_mainwindow";
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), copy));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TARVIK_PRINT_START_FOLDERS", "1");
    env.insert("HOME", home);
    env.insert("XDG_CONFIG_HOME", home + "/.config"); // no user-dirs.dirs: Documents is ~/Documents
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess child;
    child.setProcessEnvironment(env);
    // Root may write into any folder that is not on a read-only mount.
    const bool asRoot = ::geteuid() == 0;
    const auto restore = qScopeGuard([&prog] {
        QFile::setPermissions(prog, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    if (readOnly && asRoot) {
        // A read-only bind mount in a mount namespace of the child's own.
        const QString unshare = QStandardPaths::findExecutable("unshare");
        if (unshare.isEmpty())
            QSKIP("unshare (util-linux) is not installed: no private mount namespace for a read-only folder");
        child.start(unshare, {"--mount", "--propagation", "private", "sh", "-c",
                              "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" "
                              "&& ! touch \"$1/probe\" 2>/dev/null && exec \"$1/tst_mainwindow\"",
                              "sh", prog});
    } else {
        if (readOnly)
            QVERIFY(QFile::setPermissions(prog, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup
                                                    | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
        child.start(copy, QStringList());
    }
    QVERIFY(child.waitForFinished(60000));
    const QByteArray errors = child.readAllStandardError();
    if (readOnly && asRoot && child.exitCode() != 0 && child.readAllStandardOutput().isEmpty())
        QSKIP(qPrintable("no read-only bind mount here (a container without CAP_SYS_ADMIN?): "
                         + QString::fromLocal8Bit(errors)));
    QCOMPARE(child.exitCode(), 0);

    const QString folder = expected == u"prog" ? prog : expected == u"docs" ? docs : home;
    const QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n');
    QCOMPARE(lines, (QStringList{folder + "/", folder + "/", ""}));
}

void TestMainWindow::installFolders_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("installed");

    QTest::newRow("/usr/bin") << "/usr/bin" << true;
    QTest::newRow("/usr/local/bin") << "/usr/local/bin" << true;
    QTest::newRow("/usr itself") << "/usr" << true;
    QTest::newRow("/opt") << "/opt/tarvik/bin" << true;
    QTest::newRow("/bin") << "/bin" << true;
    QTest::newRow("a staged install") << "/tmp/stage/usr/bin" << true;
    QTest::newRow("the build's own folder") << QCoreApplication::applicationDirPath() << false;
    QTest::newRow("a folder of its own") << "/home/ana/tarvik" << false;
    QTest::newRow("a name that only starts like one") << "/usrdata/tarvik" << false;
    QTest::newRow("written with dots") << "/srv/../usr/bin" << true;
}

void TestMainWindow::installFolders()
{
    QFETCH(QString, folder);
    QFETCH(bool, installed);
    QCOMPARE(tarvik::isInstallFolder(folder), installed);
}

// A stopped dump in the program's own folder (the demo's, say, run from the
// build tree) is not the window's business in a test: its start folder is the
// test's own. The record is planted only where there is none, and only what
// was planted is taken away.
void TestMainWindow::stoppedDumpInProgramFolder()
{
    const QString part = QCoreApplication::applicationDirPath() + QStringLiteral("/FlashDump.bin.part");
    const QString record = tarvik::partRecordPath(part);
    QStringList planted;
    const auto unplant = qScopeGuard([&planted] {
        for (const QString &path : std::as_const(planted))
            QFile::remove(path);
    });
    if (!QFileInfo::exists(part)) {
        QFile file(part);
        QVERIFY(file.open(QIODevice::NewOnly));
        planted << part;
        QVERIFY(file.write(QByteArray(8 * 1024, 'x')) == 8 * 1024);
    }
    if (!QFileInfo::exists(record)) {
        tarvik::PartRecord r;
        r.blockCount = 1024;
        r.model = QStringLiteral("KSF-2100");
        r.wholeBlocks = 8;
        r.stoppedBy = QStringLiteral("check-error");
        QFile file(record);
        QVERIFY(file.open(QIODevice::NewOnly));
        planted << record;
        QVERIFY(file.write(r.toText()) > 0);
    }

    PtyPair pty;
    QVERIFY(pty.isValid());
    qputenv("TARVIK_COM1", pty.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    QVERIFY(w.control<QLineEdit>("folderEdit")->text() != QCoreApplication::applicationDirPath() + "/");
    w.control<QPushButton>("openButton")->click();
    QVERIFY(portOf(w.session()).isOpen());
    QVERIFY(prompts.questions.isEmpty());
    w.onCloseClicked();
}

void TestMainWindow::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("display"); // an offscreen one, else none at all
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out"); // the start of what is printed on stdout
    QTest::addColumn<QString>("err"); // all that is printed on stderr

    const QString version = QStringLiteral("tarvik %1\n").arg(QLatin1String(tarvik::Version));
    const QString usage = QStringLiteral("Usage: tarvik [Qt options]\n");
    const auto unknown = [](const char *option) {
        return QStringLiteral("tarvik: Unknown option '%1'.\nTry \"tarvik --help\".\n").arg(QLatin1String(option));
    };
    QTest::newRow("--help") << QStringList{"--help"} << false << 0 << usage << QString();
    QTest::newRow("-h") << QStringList{"-h"} << false << 0 << usage << QString();
    QTest::newRow("--version") << QStringList{"--version"} << false << 0 << version << QString();
    QTest::newRow("-v") << QStringList{"-v"} << false << 0 << version << QString();
    QTest::newRow("after a Qt option") << QStringList{"-style", "fusion", "--version"} << false << 0 << version
                                       << QString();
    QTest::newRow("after Qt options written with = and --")
            << QStringList{"-style=fusion", "--platform", "offscreen", "-reverse", "-v"} << false << 0 << version
            << QString();
    QTest::newRow("unknown, without a display") << QStringList{"--bogus"} << false << 2 << QString()
                                                << unknown("--bogus");
    QTest::newRow("unknown, with a display") << QStringList{"--bogus"} << true << 2 << QString()
                                             << unknown("--bogus");
    QTest::newRow("unknown after a Qt option") << QStringList{"-style", "fusion", "-x"} << true << 2 << QString()
                                               << unknown("-x");
    QTest::newRow("unknown before --help") << QStringList{"--bogus", "--help"} << false << 2 << QString()
                                           << unknown("--bogus");
    QTest::newRow("a Qt flag given a value") << QStringList{"-reverse=1"} << false << 2 << QString()
                                             << unknown("-reverse=1");
}

// --help, --version and a usage error answer before a window is made, on a
// machine without a display as well.
void TestMainWindow::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, display);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QLatin1String(name));
    if (display)
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess tarvik;
    tarvik.setProcessEnvironment(environment);
    tarvik.start(QStringLiteral(TARVIK_WINDOW), arguments);
    QVERIFY(tarvik.waitForFinished(30000));
    QCOMPARE(tarvik.exitStatus(), QProcess::NormalExit);
    QCOMPARE(QString::fromUtf8(tarvik.readAllStandardError()), err);
    QCOMPARE(tarvik.exitCode(), status);
    const QString printed = QString::fromUtf8(tarvik.readAllStandardOutput());
    QVERIFY2(out.isEmpty() ? printed.isEmpty() : printed.startsWith(out), qPrintable(printed));
}

// A message box shows its text as it is: a path or a name from the box that
// looks like markup is not rendered.
void TestMainWindow::messageBoxIsPlainText()
{
    tarvik::DialogPrompts prompts;
    const QString text = QStringLiteral("<h1 style=\"color:red\">KSF</h1>.bin.part is a FIFO");
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            format = box->textFormat();
            shown = box->text();
            box->accept();
        }
    });
    answer.start(10);
    prompts.message(nullptr, text, QStringLiteral("Error"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, text);
}

namespace {

// As the copy of the program in startFolder(): the output folder at start-up
// and after a cancelled picker.
int printStartFolders()
{
    ScriptedPrompts prompts;
    prompts.machine = tarvik::machineFolders();
    MainWindow w(&prompts);
    auto *field = w.control<QLineEdit>("folderEdit");
    const QString atStart = field->text();
    field->setText("/somewhere/else/");
    w.control<QPushButton>("folderButton")->click();
    std::printf("%s\n%s\n", qPrintable(atStart), qPrintable(field->text()));
    return 0;
}

} // namespace

QTEST_MAIN_WRAPPER(TestMainWindow, QTEST_MAIN_SETUP()
                   if (qEnvironmentVariableIsSet("TARVIK_PRINT_START_FOLDERS")) return printStartFolders();)
#include "tst_mainwindow.moc"
