// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the real main window without a person, for the real-driver guest
// (cases.sh): picks the folder through the window's folder picker, types the
// block range into its fields (the window checks it), clicks Open on COM 1 and
// waits until the run has ended and the port is closed. Then it prints what
// the user would have seen: COM 1's tooltip, the folder, how the run ended,
// every box the window showed and the log pane, line by line.
//
// Usage: tarvik-window-driver FOLDER START COUNT [LIMIT_SECONDS]
// Exit status: 0 the run ended, 1 Open did not start a run, 2 the run did not
// end within the limit (default 300 s), 64 usage.
#include "dump/runresult.h"
#include "support/scriptedprompts.h"
#include "support/showntext.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

#include <cstdio>

using tarvik::DumpRun;
using tarvik::MainWindow;

namespace {

void report(MainWindow &w, const ScriptedPrompts &prompts, const QString &outcome)
{
    QTextStream out(stdout);
    const QString tooltip = w.control<QComboBox>("portList")->itemData(0, Qt::ToolTipRole).toString();
    out << "COM 1: " << shownText(tooltip) << '\n';
    for (const QString &title : prompts.folderTitles)
        out << "folder picker: " << title << '\n';
    out << "folder: " << w.control<QLineEdit>("folderEdit")->text() << '\n';
    out << "outcome: " << outcome << '\n';
    for (const ScriptedPrompts::Message &m : prompts.messages)
        out << "message box \"" << m.title << "\": " << m.text << '\n';
    for (const ScriptedPrompts::Message &q : prompts.questions)
        out << "question \"" << q.title << "\": " << q.text << '\n';
    QStringList lines = w.logText().split(QStringLiteral("\r\n"));
    if (lines.last().isEmpty())
        lines.removeLast(); // after the last line's end
    for (const QString &line : lines)
        out << "log: " << line << '\n';
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    bool limitOk = args.size() == 3;
    const int limitSeconds = args.size() == 4 ? args.at(3).toInt(&limitOk) : 300;
    if (args.size() < 3 || args.size() > 4 || args.at(0).isEmpty() || !limitOk || limitSeconds <= 0) {
        std::fputs("usage: tarvik-window-driver FOLDER START COUNT [LIMIT_SECONDS]\n", stderr);
        return 64;
    }

    ScriptedPrompts prompts;
    prompts.folderAnswers << args.at(0);
    MainWindow w(&prompts);
    w.show();
    w.control<QPushButton>("folderButton")->click();
    w.control<QLineEdit>("startEdit")->setText(args.at(1));
    w.control<QLineEdit>("countEdit")->setText(args.at(2));

    QString outcome = QStringLiteral("none");
    int status = 0;
    // Once the run is over: its port and file closed, its log whole.
    QObject::connect(&w.session(), &tarvik::Session::ended, &w, [&outcome](const tarvik::RunReport &report) {
        outcome = resultWord(resultOf(report.outcome));
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &w, [&outcome, &status, limitSeconds] {
        outcome = QStringLiteral("still running after %1 s").arg(limitSeconds);
        status = 2;
        QCoreApplication::quit();
    });

    w.control<QPushButton>("openButton")->click();
    if (!w.session().isOpen()) {
        report(w, prompts, QStringLiteral("not started"));
        return 1;
    }
    limit.start(limitSeconds * 1000);
    app.exec();
    report(w, prompts, outcome);
    return status;
}
