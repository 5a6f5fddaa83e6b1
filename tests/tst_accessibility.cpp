// SPDX-License-Identifier: GPL-3.0-or-later
// What a screen reader finds in the window: names, roles and descriptions of
// the controls, labels that name their fields, and a progress bar that says
// how far the run is.
#include "loadersim/loadersim.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "window/designtable.h"
#include "window/mainwindow.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QtTest>

using tarvik::LoaderSim;
using tarvik::MainWindow;

namespace {

QAccessibleInterface *accessible(MainWindow &w, const QString &name)
{
    QWidget *control = w.findChild<QWidget *>(name);
    return control ? QAccessible::queryAccessibleInterface(control) : nullptr;
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT
private slots:
    void controls_data();
    void controls();
    void everyControlHasAName();
    void progressFollowsTheRun();
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
    QTest::newRow("open") << "openButton" << "Open" << button << true << QString();
    QTest::newRow("close") << "closeButton" << "Close" << button << true << QString();
    QTest::newRow("edit, named by its text") << "editButton" << "Edit" << button << true << QString();
    QTest::newRow("folder") << "folderButton" << "Directory" << button << true << QString();
    QTest::newRow("start block") << "startEdit" << "Start with block" << edit << true << "startLabel";
    QTest::newRow("block count") << "countEdit" << "Number of blocks" << edit << true << "countLabel";
    QTest::newRow("save to") << "folderEdit" << "Save to" << edit << true << "folderLabel";
    QTest::newRow("log") << "logPane" << "Protocol log" << edit << true << QString();
    // On Linux a combo box is named by its current entry; what it is for is its description.
    QTest::newRow("port list") << "portList" << "COM 1" << int(QAccessible::ComboBox) << true << QString();
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

// The bar's name and value say how far the run is, block by block.
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
    connect(bar, &QProgressBar::valueChanged, this, [&heard, iface](int value) {
        if (value == 1 || value == 217)
            heard << iface->text(QAccessible::Name) + QStringLiteral(" = ")
                             + iface->valueInterface()->currentValue().toString();
    });
    w.findChild<QPushButton *>(QStringLiteral("openButton"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!portOf(w.session()).isOpen(), 60000);
    QCOMPARE(heard, (QStringList{QStringLiteral("Progress: 1 of 1024 blocks = 1"),
                                 QStringLiteral("Progress: 217 of 1024 blocks = 217")}));
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Progress: 1024 of 1024 blocks"));
    QCOMPARE(iface->valueInterface()->maximumValue().toInt(), 1024);
}

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
