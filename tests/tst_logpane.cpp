// SPDX-License-Identifier: GPL-3.0-or-later
// The log pane: text in CR LF, and pieces posted to be taken in together.
#include "window/logpane.h"

#include <QSignalSpy>
#include <QtTest>

using tarvik::LogPane;

class TestLogPane : public QObject
{
    Q_OBJECT

private slots:
    void edits_data();
    void edits();
    void postedPiecesGoInWithOneEdit();
    void postedReachesAPaneThatIsNeverDrawn();
};

// Each step is "post:", "append:" or "replace:" followed by its text.
void TestLogPane::edits_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("text");

    QTest::newRow("posts keep their order")
        << QStringList{"replace:start\r\n", "post:a\r\n", "post:b"} << "start\r\na\r\nb";
    QTest::newRow("an append follows what was posted before it")
        << QStringList{"post:a ", "append:b\r\n", "post:c"} << "a b\r\nc";
    QTest::newRow("a replace drops what was posted before it")
        << QStringList{"post:lost\r\n", "replace:new\r\n", "post:kept"} << "new\r\nkept";
    QTest::newRow("CR and LF posted apart make one line end")
        << QStringList{"post:x\r", "post:\ny"} << "x\r\ny";
    QTest::newRow("nothing posted") << QStringList{"replace:only\r\n", "post:"} << "only\r\n";
}

void TestLogPane::edits()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, text);

    LogPane pane;
    for (const QString &step : steps) {
        const qsizetype colon = step.indexOf(u':');
        const QString kind = step.left(colon);
        const QString piece = step.mid(colon + 1);
        if (kind == QLatin1String("post"))
            pane.post(piece);
        else if (kind == QLatin1String("append"))
            pane.appendText(piece);
        else
            pane.replaceText(piece);
    }
    QCOMPARE(pane.text(), text);
    // What text() reports is what the pane holds.
    QCOMPARE(pane.toPlainText().replace(u'\n', QLatin1String("\r\n")), text);
}

void TestLogPane::postedPiecesGoInWithOneEdit()
{
    LogPane pane;
    QSignalSpy changed(&pane, &QPlainTextEdit::textChanged);
    pane.post(QStringLiteral("REQUEST_1024DOWN:0000    "));
    pane.post(QStringLiteral("1024DOWN_SUCCESS:0000\r\n"));
    pane.post(QStringLiteral("REQUEST_1024DOWN:0001    "));
    QCOMPARE(changed.count(), 0);
    pane.flush();
    QCOMPARE(changed.count(), 1);
    QCOMPARE(pane.toPlainText(),
             QStringLiteral("REQUEST_1024DOWN:0000    1024DOWN_SUCCESS:0000\nREQUEST_1024DOWN:0001    "));
}

// A minimised or hidden window draws nothing; the log still takes its lines in.
void TestLogPane::postedReachesAPaneThatIsNeverDrawn()
{
    LogPane pane;
    pane.setFlushDelay(50);
    pane.post(QStringLiteral("Serial port closed.\r\n"));
    QTRY_COMPARE(pane.toPlainText(), QStringLiteral("Serial port closed.\n"));
}

QTEST_MAIN(TestLogPane)
#include "tst_logpane.moc"
