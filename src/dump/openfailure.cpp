// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/openfailure.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

PortName PortName::comPort(qint16 n)
{
    return {QStringLiteral("COM %1").arg(n), QStringLiteral("COM%1").arg(n), FrontEnd::Window};
}

PortName PortName::device(const QString &path)
{
    return {path, path, FrontEnd::CommandLine};
}

namespace {

QString effectiveUserName()
{
    if (const passwd *user = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(user->pw_name);
    return QString::number(::geteuid());
}

QString holderName(const PortHolder &holder)
{
    return holder.name.isEmpty() ? QStringLiteral("another program") : holder.name;
}

} // namespace

QString OpenFailureReport::oneLine() const
{
    return QString(text).replace(QStringLiteral("\n\n"), QStringLiteral(" ")).replace(u'\n', u' ');
}

OpenFailureReport describeOpenFailure(SerialService::OpenError error, const PortName &name,
                                      const QString &devicePath, const QString &group,
                                      const QString &reason, const PortHolder &holder)
{
    using OpenError = SerialService::OpenError;
    using Shown = OpenFailureReport::Shown;
    const QString title = QStringLiteral("Error opening ") + name.spaced;
    switch (error) {
    case OpenError::None:
        break;
    case OpenError::NotPresent:
        return {Shown::Message, title,
                QStringLiteral("Serial port %1 not present.\n\n").arg(name.spaced)
                        + nextStep(PortTrouble::NotPresent, name.frontEnd, devicePath)};
    case OpenError::Busy:
        if (holder.isFound()) {
            return {Shown::Message, title,
                    QStringLiteral("%1 is in use by %2 (pid %3).")
                            .arg(devicePath, holderName(holder), QString::number(holder.pid))};
        }
        if (!holder.lockFile.isEmpty() && holder.lockUnseen) {
            const QString who = holder.lockName.isEmpty() ? QStringLiteral("a process") : holder.lockName;
            return {Shown::Message, title,
                    QStringLiteral("%1 names %2 (pid %3) as the holder; whether it still has the port open "
                                   "can't be seen as user %4.")
                            .arg(holder.lockFile, who, QString::number(holder.lockPid), effectiveUserName())};
        }
        if (!holder.lockFile.isEmpty()) {
            const QString who = holder.lockName.isEmpty() ? QStringLiteral("a process") : holder.lockName;
            return {Shown::Message, title,
                    QStringLiteral("%1 names %2 (pid %3) as the holder of %4, but that process does not "
                                   "have it open: if no other program uses the port, remove %1.")
                            .arg(holder.lockFile, who, QString::number(holder.lockPid), devicePath)};
        }
        return {Shown::Message, title,
                QStringLiteral("%1 blocked by another application.").arg(name.spaced)
                        + (devicePath.isEmpty() ? QString()
                                                : QStringLiteral("\n\n")
                                                          + nextStep(PortTrouble::HeldUnseen, name.frontEnd, devicePath))};
    case OpenError::LockInTheWay:
        return {Shown::Message, title, reason};
    case OpenError::PermissionDenied: {
        const QString remedy = group.isEmpty()
                ? QStringLiteral("No group of users may open it. Give it one with a udev rule "
                                 "(docs/troubleshooting.md in Tarvik's sources shows one for USB adapters), then plug "
                                 "the adapter in again.")
                : QStringLiteral("Add your user to the group \"%1\", which owns the device "
                                 "(for example: sudo usermod -aG %1 $USER), "
                                 "then log out and log in again.").arg(group);
        return {Shown::Message, title,
                QStringLiteral("No permission to open %1.\n\n%2").arg(devicePath, remedy)};
    }
    case OpenError::Other:
        return {Shown::LogLine, QString(), QStringLiteral("error opening %1: %2").arg(name.compact, reason)};
    }
    return {};
}

QString sharedPortWarning(const QString &devicePath, const PortHolder &holder)
{
    if (!holder.isFound())
        return {};
    // In one pass: a program may call itself "%3".
    return QStringLiteral("%1 (pid %2) also has %3 open: it may take the box's answers")
            .arg(holderName(holder), QString::number(holder.pid), devicePath);
}

SerialService::OpenError openErrorFromErrno(int error)
{
    using OpenError = SerialService::OpenError;
    switch (error) {
    case 0:
        return OpenError::None;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
        return OpenError::NotPresent;
    case EACCES:
    case EPERM:
        return OpenError::PermissionDenied;
    case EBUSY:
        return OpenError::Busy;
    default:
        return OpenError::Other;
    }
}

QString deviceGroup(const QString &path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (st.st_gid == 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP))
        return {};
    if (const group *g = ::getgrgid(st.st_gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(st.st_gid);
}

OpenFailureReport describeOpenFailure(const SerialService &port, SerialService::OpenError error,
                                      const PortName &name)
{
    const QString path = port.devicePath();
    const QString group = error == SerialService::OpenError::PermissionDenied ? deviceGroup(path) : QString();
    const PortHolder holder = error == SerialService::OpenError::Busy
            ? findPortHolder(path, QCoreApplication::applicationPid())
            : PortHolder();
    return describeOpenFailure(error, name, path, group, port.errorString(), holder);
}

} // namespace tarvik
