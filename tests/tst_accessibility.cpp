// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in the window: names, roles and descriptions of
// the controls, labels that name their fields, a progress bar that says how
// far the run is and how it ended, and the port list's devices.
#include "loadersim/loadersim.h"
#include "support/faults.h"
#include "support/files.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "support/windowdesk.h"
#include "window/controls.h"
#include "window/designtable.h"
#include "window/mainwindow.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QComboBox>
#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QToolTip>
#include <QtTest>

using tarvik::LoaderSim;
using tarvik::MainWindow;

namespace {

QAccessibleInterface *accessible(MainWindow &w, const QString &name)
{
    QWidget *control = name == w.objectName() ? &w : w.findChild<QWidget *>(name);
    return control ? QAccessible::queryAccessibleInterface(control) : nullptr;
}

// Every interface under `iface`, as a screen reader walks the tree.
QList<QAccessibleInterface *> tree(QAccessibleInterface *iface)
{
    QList<QAccessibleInterface *> all{iface};
    for (int i = 0; i < iface->childCount(); ++i) {
        if (QAccessibleInterface *child = iface->child(i))
            all << tree(child);
    }
    return all;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void everyControlHasAName();
    void captionsSaidOnce();
    void progressFollowsTheRun();
    void progressSaysTheEnd_data();
    void progressSaysTheEnd();
    void dumpFactsByKeyboard();
    void portEntriesNameTheirDevice_data();
    void portEntriesNameTheirDevice();
};

void TestAccessibility::controls_data()
{
    QTest::addColumn<QString>("object");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("role");
    QTest::addColumn<bool>("described");
    QTest::addColumn<QString>("label"); // the label whose buddy the control is

    const int button = QAccessible::Button;
    const int edit = QAccessible::EditableText;
    QTest::newRow("window") << "mainWindow" << "Tarvik for KAON STBs" << int(QAccessible::Window) << false
                            << QString();
    const int group = QAccessible::Grouping;
    QTest::newRow("port frame") << "portFrame" << "Serial Port" << group << false << QString();
    QTest::newRow("range frame") << "dataRequestFrame" << "Data Request" << group << false << QString();
    QTest::newRow("open and close frame") << "openCloseFrame" << "COM Control" << group << false << QString();
    QTest::newRow("header frame, without caption") << "headerFrame" << "Header" << group << false << QString();
    QTest::newRow("about frame") << "aboutFrame" << "About" << group << false << QString();
    QTest::newRow("open") << "openButton" << "Open" << button << true << QString();
    QTest::newRow("close") << "closeButton" << "Close" << button << true << QString();
    QTest::newRow("edit, named by its text") << "editButton" << "Edit" << button << true << QString();
    QTest::newRow("folder") << "folderButton" << "Directory" << button << true << QString();
    QTest::newRow("start block") << "startEdit" << "Start with block" << edit << true << "startLabel";
    QTest::newRow("block count") << "countEdit" << "Number of blocks" << edit << true << "countLabel";
    QTest::newRow("save to") << "folderEdit" << "Save to" << edit << true << "folderLabel";
    QTest::newRow("log") << "logPane" << "Protocol log" << edit << true << QString();
    // Named by what it is, its entry as its value.
    QTest::newRow("port list") << "portList" << "Serial port" << int(QAccessible::ComboBox) << true << QString();
    QTest::newRow("header option") << "headerCheck" << "Add the header for the KUP loader"
                                   << int(QAccessible::CheckBox) << true << "headerLabel";
    QTest::newRow("progress before a run") << "progressBar" << "Progress" << int(QAccessible::ProgressBar) << true
                                           << QString();
    QTest::newRow("version, named by its text") << "versionLabel" << "Tarvik v2.1" << int(QAccessible::StaticText)
                                                << false << QString();
}

void TestAccessibility::controls()
{
    QFETCH(QString, object);
    QFETCH(QString, name);
    QFETCH(int, role);
    QFETCH(bool, described);
    QFETCH(QString, label);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QAccessibleInterface *iface = accessible(w, object);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), name);
    QCOMPARE(int(iface->role()), role);
    if (object == u"portList")
        QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("COM 1"));
    QCOMPARE(!iface->text(QAccessible::Description).isEmpty(), described);
    if (!label.isEmpty()) {
        auto *l = w.findChild<QLabel *>(label);
        QVERIFY(l);
        QCOMPARE(l->buddy(), w.findChild<QWidget *>(object));
        // The label is the field's label for assistive technology as well.
        const auto relations = iface->relations(QAccessible::Label);
        QVERIFY(std::any_of(relations.begin(), relations.end(),
                            [l](const auto &r) { return r.first->object() == l; }));
    }
}

// Whatever the user can operate or read from has a name.
void TestAccessibility::everyControlHasAName()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    for (const tarvik::Design::Control &c : tarvik::Design::controls()) {
        using Kind = tarvik::Design::Kind;
        // Decoration, and the model label that is empty until a box reports.
        if (c.kind == Kind::Line || QLatin1String(c.name) == QLatin1String("panelBorder")
            || (c.kind == Kind::Label && c.caption.isEmpty()))
            continue;
        QAccessibleInterface *iface = accessible(w, QLatin1String(c.name));
        QVERIFY2(iface, c.name);
        QVERIFY2(!iface->text(QAccessible::Name).isEmpty(), c.name);
    }
}

// A frame's caption is its name and is not said again by a label inside it;
// lines and outlines, which only draw, are not in the tree at all.
void TestAccessibility::captionsSaidOnce()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    QAccessibleInterface *window = QAccessible::queryAccessibleInterface(&w);
    QVERIFY(window);
    const QList<QAccessibleInterface *> all = tree(window);
    QStringList names;
    QStringList unnamedFillers;
    for (QAccessibleInterface *iface : all) {
        names << iface->text(QAccessible::Name);
        // (The log pane's scroll area parts are Qt's own: "qt_scrollarea_viewport" ...)
        if (iface->role() == QAccessible::Client && iface->text(QAccessible::Name).isEmpty()
            && iface->object() && !iface->object()->objectName().startsWith(QLatin1String("qt_")))
            unnamedFillers << iface->object()->objectName() + u'(' + iface->object()->metaObject()->className() + u')';
        // Each one's parent knows it as its child: the tree is whole both ways.
        if (iface != window)
            QVERIFY(iface->parent() && iface->parent()->indexOfChild(iface) >= 0);
    }
    for (const QString caption : {"Serial Port", "Data Request", "COM Control", "About"})
        QVERIFY2(names.count(caption) == 1, qPrintable(caption + ": " + QString::number(names.count(caption))));
    QVERIFY2(unnamedFillers.isEmpty(), qPrintable(unnamedFillers.join(u' ')));
    // Every control of the design that has a name is still in the tree.
    for (const char *name : {"openButton", "lamp", "portList", "headerCheck", "logPane", "progressBar", "aboutLink"})
        QVERIFY2(std::any_of(all.begin(), all.end(),
                             [name](QAccessibleInterface *i) { return i->object() && i->object()->objectName() == name; }),
                 name);
}

// The bar's value says how far the run is, block by block; its name stays
// put, so that a screen reader does not read out every block.
void TestAccessibility::progressFollowsTheRun()
{
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *bar = w.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QVERIFY(bar);
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(bar);
    QVERIFY(iface && iface->valueInterface());

    QStringList heard;
    QSet<QString> names;
    connect(bar, &QProgressBar::valueChanged, this, [&heard, &names, iface](int value) {
        names << iface->text(QAccessible::Name);
        if (value == 1 || value == 217)
            heard << iface->text(QAccessible::Name) + QStringLiteral(" = ")
                             + iface->valueInterface()->currentValue().toString();
    });
    w.findChild<QPushButton *>(QStringLiteral("openButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!portOf(w.session()).isOpen(), 60000);
    QCOMPARE(heard, (QStringList{QStringLiteral("Progress = 1"), QStringLiteral("Progress = 217")}));
    QCOMPARE(names, QSet<QString>{QStringLiteral("Progress")});
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Done: 1024 blocks"));
    QCOMPARE(iface->valueInterface()->maximumValue().toInt(), 1024);
}

void TestAccessibility::progressSaysTheEnd_data()
{
    QTest::addColumn<int>("start");          // of 8 blocks
    QTest::addColumn<LoaderFault>("fault");
    QTest::addColumn<int>("closeAt");        // Close while this block is on its way (-1: never)
    QTest::addColumn<bool>("focused");       // the bar has the keyboard focus
    QTest::addColumn<QString>("whileStopped"); // the name while a stopped run waits for Close
    QTest::addColumn<QString>("atTheEnd");

    using Point = LoaderFault::Point;
    QTest::newRow("good") << 0 << LoaderFault::none() << -1 << false << QString() << "Done: 8 blocks";
    QTest::newRow("good, the bar focused") << 0 << LoaderFault::none() << -1 << true << QString() << "Done: 8 blocks";
    QTest::newRow("wrong total") << 0 << LoaderFault::badTotal() << -1 << false << QString()
                                 << "Total check failed: 8 blocks";
    QTest::newRow("wrong check byte") << 0 << LoaderFault::badCheck(5) << -1 << false
                                      << "Stopped at block 5 of 8: check error" << "Stopped at block 5 of 8: check error";
    QTest::newRow("wrong check byte, the bar focused")
            << 0 << LoaderFault::badCheck(5) << -1 << true << "Stopped at block 5 of 8: check error"
            << "Stopped at block 5 of 8: check error";
    QTest::newRow("unexpected data") << 0 << LoaderFault::extraAfter(Point::Block, 2, "\r\nOK\r\n") << -1 << false
                                     << "Stopped at block 2 of 8: unexpected data"
                                     << "Stopped at block 2 of 8: unexpected data";
    QTest::newRow("adapter pulled") << 0 << LoaderFault::hangUp(Point::Block, 4, 10) << -1 << false << QString()
                                    << "Stopped at block 4 of 8: adapter lost";
    QTest::newRow("closed by the user") << 0 << LoaderFault::none() << 3 << false << QString()
                                        << "Stopped at block 3 of 8: closed";
    QTest::newRow("another range, wrong check byte")
            << 100 << LoaderFault::badCheck(105) << -1 << false << "Stopped at block 105 of blocks 100\u2013107: check error"
            << "Stopped at block 105 of blocks 100\u2013107: check error";
    QTest::newRow("another range, good") << 100 << LoaderFault::none() << -1 << false << QString() << "Done: 8 blocks";
}

// Once a run is over, the bar's name says how it ended and where it stopped,
// in plain block numbers, and that is said once, whatever has the focus: by
// the focused bar's new name, else by a notification. Nothing is said while
// the blocks come in.
void TestAccessibility::progressSaysTheEnd()
{
    QFETCH(int, start);
    QFETCH(LoaderFault, fault);
    QFETCH(int, closeAt);
    QFETCH(bool, focused);
    QFETCH(QString, whileStopped);
    QFETCH(QString, atTheEnd);

    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("startEdit")->setText(QString::number(start));
    w.control<QLineEdit>("countEdit")->setText("8");
    QAccessibleInterface *bar = accessible(w, QStringLiteral("progressBar"));
    QVERIFY(bar);
    auto *announcer = w.findChild<tarvik::Announcer *>();
    QVERIFY(announcer);
    QStringList announced;
    connect(announcer, &tarvik::Announcer::announced, this, [&announced](const QString &text) { announced << text; });
    QString heardStopped;
    connect(&w.session(), &tarvik::Session::stopped, this,
            [&heardStopped, bar] { heardStopped = bar->text(QAccessible::Name); });
    QSet<QString> whileRunning;
    connect(w.control<QProgressBar>("progressBar"), &QProgressBar::valueChanged, this,
            [&whileRunning, bar] { whileRunning << bar->text(QAccessible::Name); });
    if (focused) {
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // Shown from the first Open on: the focus goes to it once it is there.
        connect(&w.session(), &tarvik::Session::progressed, this, [&w] {
            w.control<QProgressBar>("progressBar")->setFocus(Qt::TabFocusReason);
        });
    }
    runOnce(w, LoaderSim::defaultImage(), fault, start, closeAt);
    QVERIFY(runEnded(w));
    QCOMPARE(heardStopped, whileStopped);
    QCOMPARE(bar->text(QAccessible::Name), atTheEnd);
    QCOMPARE(whileRunning, QSet<QString>{QStringLiteral("Progress")});
    if (focused) {
        QVERIFY(w.control<QProgressBar>("progressBar")->hasFocus());
        QCOMPARE(announced, QStringList());
    } else {
        QCOMPARE(announced, QStringList{atTheEnd});
        QAccessibleInterface *notification = QAccessible::queryAccessibleInterface(announcer);
        QCOMPARE(notification->role(), QAccessible::Notification);
        QCOMPARE(notification->text(QAccessible::Name), atTheEnd);
        QVERIFY(announcer->isVisibleTo(&w));
    }

    // The next run starts from the plain name again, with nothing announced.
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    prompts.buttonTexts = {QStringLiteral("Start again")};
    w.onOpenClicked();
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Progress"));
    QVERIFY(!announcer->isVisibleTo(&w));
    w.onCloseClicked();
}

// After a good run the dump's path, size and SHA-256 are one Tab away: the
// bar takes the focus after the Directory button, shows a focus ring and
// the facts, and says them.
void TestAccessibility::dumpFactsByKeyboard()
{
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    w.control<QLineEdit>("folderEdit")->setText(dir.path() + "/");
    w.control<QLineEdit>("countEdit")->setText("4");
    auto *progressBar = w.control<QProgressBar>("progressBar");
    QAccessibleInterface *bar = accessible(w, QStringLiteral("progressBar"));
    const QString before = bar->text(QAccessible::Description);
    QCOMPARE(runOnce(w, LoaderSim::defaultImage(), LoaderFault::none(), 0), LoaderSim::defaultImage().left(4096));

    const QString file = dir.filePath(QStringLiteral("FlashDump.bin"));
    const QString facts = QStringLiteral("%1\n4096 bytes\nSHA-256 %2")
            .arg(file, QString::fromLatin1(QCryptographicHash::hash(readFile(file), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(bar->text(QAccessible::Description), facts);

    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.control<QPushButton>("folderButton")->setFocus(Qt::OtherFocusReason);
    const QImage unfocused = progressBar->grab().toImage();
    QTest::keyClick(w.control<QPushButton>("folderButton"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), progressBar);
    // A focus ring shows where the keyboard is.
    QVERIFY(progressBar->grab().toImage() != unfocused);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), progressBar->toolTip());

    // A new run's bar holds no facts until it has some.
    LoaderSim sim;
    QVERIFY(sim.open());
    qputenv("TARVIK_COM1", sim.slavePath().toLocal8Bit());
    w.onOpenClicked();
    QCOMPARE(bar->text(QAccessible::Description), before);
    w.onCloseClicked();
}

void TestAccessibility::portEntriesNameTheirDevice_data()
{
    QTest::addColumn<QString>("device"); // PTY: a pseudo-terminal, LINK: a link to one
    QTest::addColumn<QString>("said");

    QTest::newRow("a device") << "PTY" << "PTY (TARVIK_COM2)";
    QTest::newRow("a link to a device") << "LINK" << "LINK (TARVIK_COM2)";
    QTest::newRow("a device that is not there") << "/nowhere/ttyUSB7" << "/nowhere/ttyUSB7 (not present)";
}

// Each entry of the port list keeps its text and says which device it stands
// for, as its tooltip and to a screen reader.
void TestAccessibility::portEntriesNameTheirDevice()
{
    QFETCH(QString, device);
    QFETCH(QString, said);

    LoaderSim sim;
    QVERIFY(sim.open());
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("box"));
    QVERIFY(QFile::link(sim.slavePath(), link));
    device.replace(QStringLiteral("PTY"), sim.slavePath()).replace(QStringLiteral("LINK"), link);
    said.replace(QStringLiteral("PTY"), sim.slavePath()).replace(QStringLiteral("LINK"), link);
    const auto variable = [](int n) { return QStringLiteral("TARVIK_COM%1").arg(n).toLatin1(); };
    for (int n = 1; n <= 4; ++n)
        qputenv(variable(n).constData(), n == 2 ? device.toLocal8Bit() : QByteArray("/x"));
    const auto unset = qScopeGuard([&variable] {
        for (int n = 1; n <= 4; ++n)
            qunsetenv(variable(n).constData());
    });

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *list = w.control<QComboBox>("portList");
    QCOMPARE(list->itemText(1), QStringLiteral("COM 2"));
    QCOMPARE(list->itemData(1, Qt::ToolTipRole).toString(), tarvik::plainToolTip(said));

    // The entries as the list that drops down offers them.
    QAccessibleInterface *combo = accessible(w, QStringLiteral("portList"));
    QVERIFY(combo);
    QStringList entries;
    for (QAccessibleInterface *iface : tree(combo)) {
        if (iface->role() == QAccessible::ListItem || iface->role() == QAccessible::Cell)
            entries << iface->text(QAccessible::Name) + u'=' + iface->text(QAccessible::Description);
    }
    QCOMPARE(entries, (QStringList{"COM 1=/x (not present)", "COM 2=" + said, "COM 3=/x (not present)",
                                   "COM 4=/x (not present)"}));
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
