// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ordinaryuser.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

Command ordinaryUserCommand(const QString &program, const QStringList &arguments)
{
    if (::geteuid() != 0)
        return {program, arguments};
    return {QStringLiteral("setpriv"),
            QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                        QStringLiteral("--clear-groups"), QStringLiteral("--"), program}
                    + arguments};
}

unsigned ordinaryUserId()
{
    const struct passwd *user = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
    return user ? user->pw_uid : ::geteuid();
}

unsigned ordinaryGroupId()
{
    const struct group *group = ::geteuid() == 0 ? ::getgrnam("nogroup") : nullptr;
    return group ? group->gr_gid : ::getegid();
}

ProcessOutcome runAsOrdinaryUser(const QString &program, const QStringList &arguments, int timeoutMs)
{
    const Command command = ordinaryUserCommand(program, arguments);
    ProcessOutcome outcome;
    QProcess process;
    process.start(command.program, command.arguments);
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

namespace {

bool startHolder(QProcess &process, const Command &command)
{
    process.start(command.program, command.arguments);
    if (!process.waitForStarted())
        return false;
    while (!process.canReadLine()) {
        if (process.state() != QProcess::Running || !process.waitForReadyRead(30000))
            return false;
    }
    return process.readLine() == "ready\n";
}

} // namespace

bool holdAsOrdinaryUser(QProcess &process, const QString &device)
{
    return startHolder(process, ordinaryUserCommand(QStringLiteral(TARVIK_HOLDER), {device}));
}

bool holdShared(QProcess &process, const QString &device, const QString &name)
{
    QStringList arguments{QStringLiteral("--shared")};
    if (!name.isEmpty())
        arguments << QStringLiteral("--name") << name;
    return startHolder(process, {QStringLiteral(TARVIK_HOLDER), arguments << device});
}

QString holderName()
{
    return QFileInfo(QStringLiteral(TARVIK_HOLDER)).fileName();
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
