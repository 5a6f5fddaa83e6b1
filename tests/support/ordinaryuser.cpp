// SPDX-License-Identifier: GPL-3.0-or-later
#include "ordinaryuser.h"

#include <QFile>
#include <QProcess>

#include <unistd.h>

ProcessOutcome runAsOrdinaryUser(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QString command = program;
    QStringList args = arguments;
    if (::geteuid() == 0) {
        args = QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                           QStringLiteral("--clear-groups"), QStringLiteral("--"), program}
               + arguments;
        command = QStringLiteral("setpriv");
    }
    ProcessOutcome outcome;
    QProcess process;
    process.start(command, args);
    outcome.finished = process.waitForFinished(timeoutMs);
    if (!outcome.finished) {
        process.kill();
        process.waitForFinished();
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    outcome.out = process.readAllStandardOutput();
    outcome.err = process.readAllStandardError();
    return outcome;
}

bool openFolderToOrdinaryUser(const QString &folder)
{
    return QFile::setPermissions(folder, QFile::permissions(folder) | QFileDevice::ExeOther);
}

QStringList probeOpenAsOrdinaryUser(const QString &device)
{
    const ProcessOutcome outcome = runAsOrdinaryUser(QStringLiteral(TARVIK_OPEN_PROBE), {device});
    return QString::fromLocal8Bit(outcome.out).split(u'\n', Qt::SkipEmptyParts);
}
