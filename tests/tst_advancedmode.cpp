// SPDX-License-Identifier: GPL-3.0-or-later
// The block range fields, the access code and advanced mode, the header
// option's rule, the output folder and the About link.
#include "support/ptypair.h"
#include "support/scriptedprompts.h"
#include "support/sessionprobe.h"
#include "window/designtable.h"
#include "window/logpane.h"
#include "window/mainwindow.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using tarvik::LogPane;
using tarvik::MainWindow;

namespace {

const QString HeaderMessage =
        QStringLiteral("It's useless to add a header if you don't want to backup the software!");

} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class TestAdvancedMode : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("TARVIK_COM1"); }
    void digitFilter_data();
    void digitFilter();
    void editingKeysKeepWorking();
    void accessCode();
    void logShortcutsKeepWorking();
    void accessCodeWhilePortOpen();
    void editAndOk_data();
    void editAndOk();
    void captionClickWhileEditing_data();
    void captionClickWhileEditing();
    void captionTogglesDisabledBox();
    void folder_data();
    void folder();
    void aboutLink();

private:
    static void enterAdvancedMode(MainWindow &w)
    {
        for (QChar c : MainWindow::AccessCode)
            w.onLogKeyPressed(c);
    }
};

void TestAdvancedMode::digitFilter_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("passes");
    for (char c = '0'; c <= '9'; ++c)
        QTest::addRow("digit %c", c) << int(c) << true;
    const struct { const char *name; int code; } dropped[] = {
        {"letter a", 'a'}, {"letter Z", 'Z'}, {"space", ' '}, {"minus", '-'}, {"plus", '+'},
        {"point", '.'}, {"backspace", 8}, {"return", 13}, {"escape", 27}, {"ctrl-a code", 1},
        {"latin-1 superscript two", 0xB2}, {"arabic-indic digit", 0x0663},
    };
    for (const auto &d : dropped)
        QTest::newRow(d.name) << d.code << false;
}

void TestAdvancedMode::digitFilter()
{
    QFETCH(int, code);
    QFETCH(bool, passes);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    const QChar typed(code);
    const QChar start = w.onStartKeyPressed(typed);
    QCOMPARE(start, passes ? typed : QChar());
    QCOMPARE(w.onCountKeyPressed(typed), start);
}

// Typed through real key events: only digits land; Backspace is dropped, Delete
// and the cursor keys keep working.
void TestAdvancedMode::editingKeysKeepWorking()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    enterAdvancedMode(w);
    w.onEditClicked();
    auto *field = w.control<QLineEdit>("countEdit");
    QVERIFY(field->isEnabled());
    field->setFocus();
    field->setCursorPosition(field->text().size());
    QTest::keyClicks(field, "5x-7 ");
    QCOMPARE(field->text(), QStringLiteral("102457"));
    QTest::keyClick(field, Qt::Key_Backspace);
    QCOMPARE(field->text(), QStringLiteral("102457"));
    QTest::keyClick(field, Qt::Key_Home);
    QTest::keyClick(field, Qt::Key_Delete);
    QCOMPARE(field->text(), QStringLiteral("02457"));
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClick(field, Qt::Key_Left);
    QTest::keyClick(field, Qt::Key_Delete);
    QCOMPARE(field->text(), QStringLiteral("0245"));
}

void TestAdvancedMode::accessCode()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *log = w.control<LogPane>("logPane");
    const QString before = w.logText();

    // The five characters in order, with other keys and out-of-turn code characters between them.
    log->setFocus();
    QTest::keyClicks(log, "5a8\r52x9 0");
    QCOMPARE(w.logText(), before);
    QCOMPARE(w.matchedCode(), QStringLiteral("5820"));
    QVERIFY(!w.control<QPushButton>("editButton")->isVisible());

    QTest::keyClick(log, '3');
    QVERIFY(w.control<QPushButton>("editButton")->isVisible());
    QVERIFY(w.control<QPushButton>("editButton")->isEnabled());
    QCOMPARE(w.logText(), before + "Advanced mode.\r\n");
    QVERIFY(w.matchedCode().isEmpty());

    // Once on, the code does nothing more.
    QTest::keyClicks(log, "58203");
    QCOMPARE(w.logText(), before + "Advanced mode.\r\n");
    QVERIFY(w.matchedCode().isEmpty());
}

void TestAdvancedMode::logShortcutsKeepWorking()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *log = w.control<LogPane>("logPane");
    log->setFocus();
    const QString before = w.logText();
    QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(log->textCursor().hasSelection());
    QCOMPARE(log->textCursor().selectedText().size(), log->toPlainText().size());
    QTest::keyClick(log, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(log, Qt::Key_Delete);
    QTest::keyClick(log, Qt::Key_Backspace);
    QCOMPARE(w.logText(), before);
}

void TestAdvancedMode::accessCodeWhilePortOpen()
{
    PtyPair pty;
    qputenv("TARVIK_COM1", pty.slavePath().toLocal8Bit());
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    w.onOpenClicked();
    QVERIFY(portOf(w.session()).isOpen());
    enterAdvancedMode(w);
    auto *edit = w.control<QPushButton>("editButton");
    QVERIFY(edit->isVisible());
    QVERIFY(!edit->isEnabled());
    w.onCloseClicked();
    QVERIFY(edit->isEnabled());
}

void TestAdvancedMode::editAndOk_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("number");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("full");

    QTest::newRow("full range, ticked") << "0" << "1024" << true << true;
    QTest::newRow("full range, not ticked") << "0" << "1024" << false << true;
    QTest::newRow("partial, ticked") << "0" << "512" << true << false;
    QTest::newRow("partial, not ticked") << "16" << "1024" << false << false;
    QTest::newRow("start 00 is not the full range") << "00" << "1024" << true << false;
    QTest::newRow("number 01024 is not the full range") << "0" << "01024" << true << false;
}

void TestAdvancedMode::editAndOk()
{
    QFETCH(QString, start);
    QFETCH(QString, number);
    QFETCH(bool, ticked);
    QFETCH(bool, full);

    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.show();
    auto *open = w.control<QPushButton>("openButton");
    auto *edit = w.control<QPushButton>("editButton");
    auto *box = w.control<QCheckBox>("headerCheck");
    auto *caption = w.control<QLabel>("headerLabel");
    auto *startField = w.control<QLineEdit>("startEdit");
    auto *numberField = w.control<QLineEdit>("countEdit");
    box->setChecked(ticked);
    enterAdvancedMode(w);

    edit->click();
    QCOMPARE(edit->text(), QStringLiteral("OK"));
    QVERIFY(!open->isEnabled());
    QVERIFY(startField->isEnabled());
    QVERIFY(numberField->isEnabled());
    QVERIFY(!box->isEnabled());
    QCOMPARE(box->isChecked(), ticked);

    startField->setText(start);
    numberField->setText(number);
    edit->click();
    QCOMPARE(edit->text(), QStringLiteral("Edit"));
    QVERIFY(open->isEnabled());
    QVERIFY(!startField->isEnabled());
    QVERIFY(!numberField->isEnabled());
    QCOMPARE(box->isEnabled(), full);
    QCOMPARE(caption->isEnabled(), full);
    QCOMPARE(box->isChecked(), full && ticked);
    const int expectedMessages = (!full && ticked) ? 1 : 0;
    QCOMPARE(prompts.messages.size(), expectedMessages);
    if (expectedMessages) {
        QCOMPARE(prompts.messages.at(0).text, HeaderMessage);
        QCOMPARE(prompts.messages.at(0).title, QStringLiteral("Error"));
    }
}

void TestAdvancedMode::captionClickWhileEditing_data()
{
    QTest::addColumn<bool>("tickedBefore");
    QTest::newRow("ticking with a partial range") << false;
    QTest::newRow("clearing with a partial range") << true;
}

// The rule does not look at the box's new state: clearing a ticked box with a
// partial range typed shows the message too, once.
void TestAdvancedMode::captionClickWhileEditing()
{
    QFETCH(bool, tickedBefore);
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *box = w.control<QCheckBox>("headerCheck");
    box->setChecked(tickedBefore);
    enterAdvancedMode(w);
    w.onEditClicked();
    w.control<QLineEdit>("countEdit")->setText("100");
    w.onHeaderLabelClicked();
    QCOMPARE(prompts.messages.size(), 1);
    QCOMPARE(prompts.messages.at(0).text, HeaderMessage);
    QVERIFY(!box->isChecked());
}

void TestAdvancedMode::captionTogglesDisabledBox()
{
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    auto *box = w.control<QCheckBox>("headerCheck");
    box->setEnabled(false);
    w.onHeaderLabelClicked();
    QVERIFY(box->isChecked());
    w.onHeaderLabelClicked();
    QVERIFY(!box->isChecked());
    QVERIFY(prompts.messages.isEmpty());
}

void TestAdvancedMode::folder_data()
{
    QTest::addColumn<QString>("typedBefore");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("expected");
    QTest::newRow("chosen folder") << QString() << "/tmp/dumps" << "/tmp/dumps/";
    QTest::newRow("root gets a second separator") << QString() << "/" << "//";
    // PROGRAM: the program's folder as the window is told it.
    QTest::newRow("cancel puts the program folder back") << "/srv/typed/" << QString() << "PROGRAM/";
}

void TestAdvancedMode::folder()
{
    QFETCH(QString, typedBefore);
    QFETCH(QString, answer);
    QFETCH(QString, expected);
    ScriptedPrompts prompts;
    expected.replace(QStringLiteral("PROGRAM"), prompts.folders().program);
    MainWindow w(&prompts);
    auto *field = w.control<QLineEdit>("folderEdit");
    if (!typedBefore.isEmpty())
        field->setText(typedBefore);
    prompts.folderAnswers << answer;
    w.control<QPushButton>("folderButton")->click();
    QCOMPARE(prompts.folderTitles, QStringList{"Select a directory for saving data from the flash."});
    QCOMPARE(field->text(), expected);
}

void TestAdvancedMode::aboutLink()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    ScriptedPrompts prompts;
    MainWindow w(&prompts);
    w.onAboutClicked();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.urls.size(), 1);
    QCOMPARE(catcher.urls.at(0).host(), w.control<QLabel>("aboutLink")->text());
    QCOMPARE(catcher.urls.at(0), QUrl(tarvik::Design::MakerUrl));
    QVERIFY(catcher.urls.at(0).host().endsWith(".example.org"));
}

QTEST_MAIN(TestAdvancedMode)
#include "tst_advancedmode.moc"
