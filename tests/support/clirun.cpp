// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/clirun.h"

#include "support/ordinaryuser.h"

#include <QJsonDocument>
#include <QProcess>

Result TarvikDump::run(const QStringList &arguments, const std::function<void(QProcess &)> &whileRunning, As as,
                       const std::function<void(QProcess &)> &setUp) const
{
    Result r;
    QProcess process;
    Command command{program, arguments};
    if (as == As::OrdinaryUser)
        command = ordinaryUserCommand(program, arguments);
    else if (as == As::HangUpIgnored) // as nohup starts it
        command = Command{QStringLiteral("/bin/sh"),
                          QStringList{"-c", R"(trap '' HUP; exec "$0" "$@")", program} + arguments};
    if (setUp)
        setUp(process);
    process.start(command.program, command.arguments);
    if (!process.waitForStarted())
        return r;
    QSignalSpy finished(&process, &QProcess::finished);
    if (whileRunning)
        whileRunning(process);
    r.finished = finished.count() > 0 || finished.wait(RunMs);
    if (!r.finished) {
        process.kill();
        process.waitForFinished();
    }
    r.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (process.openMode() & QIODevice::ReadOnly) { // not both sent elsewhere
        r.out = QString::fromUtf8(process.readAllStandardOutput());
        r.err = QString::fromUtf8(process.readAllStandardError());
    }
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8());
        if (doc.isObject())
            r.json << doc.object();
    }
    return r;
}
