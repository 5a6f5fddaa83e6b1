// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Rights on a device and an exclusive opener do not hold for root, and the
// suite runs as root on CI. A program started through runAsOrdinaryUser()
// runs, under root, as the user "nobody" (group "nogroup", no other groups);
// otherwise as the user running the tests.
struct ProcessOutcome {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// The program and arguments that start `program` as an ordinary user.
struct Command {
    QString program;
    QStringList arguments;
};
Command ordinaryUserCommand(const QString &program, const QStringList &arguments);
// The user id and group id of that user.
unsigned ordinaryUserId();
unsigned ordinaryGroupId();

ProcessOutcome runAsOrdinaryUser(const QString &program, const QStringList &arguments, int timeoutMs = 60000);
// Starts a program as an ordinary user that opens `device`, claims it
// exclusively and holds it until `process` ends or its stdin is closed.
// Returns once the device is held; false when that failed.
class QProcess;
bool holdAsOrdinaryUser(QProcess &process, const QString &device);
// Starts the same holder as this user, opening `device` without claiming it,
// as a program that never asks for the port alone; returns once it is open.
bool holdShared(QProcess &process, const QString &device, const QString &name = QString());
// The command name that such a holder shows in /proc/PID/comm.
QString holderName();
// Lets every user look up names in `folder` (a test's temporary folder is its owner's alone).
bool openFolderToOrdinaryUser(const QString &folder);
// The result of the probe program for opening `device` as an ordinary user,
// e.g. "PermissionDenied", followed by a line with the window's message text.
QStringList probeOpenAsOrdinaryUser(const QString &device);
