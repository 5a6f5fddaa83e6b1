// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace tarvik::cli {

// Exit codes that scripts rely on.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,
    ExitUsage = 2,
    ExitDifferent = 3,
    ExitHangUp = 129,       // 128 + SIGHUP
    ExitInterrupted = 130,  // SIGINT or SIGTERM
};

struct Options {
    QStringList ports;
    QString outputFolder; // ends with '/'
    bool header = false;
    qint16 startBlock = 0;
    qint16 blockCount = 1024;
    QString verifyPath;
    QByteArray verifyData; // the last blockCount blocks of the file to compare with
    bool json = false;
    QString logPath;
    bool quiet = false;
    bool list = false;
    int stallMs = 0; // 0: the engine's own
};

// The parsed command line; on bad usage `error` says why and the rest is not meaningful.
struct ParseResult {
    enum class Action { Run, List, Help, Version, Usage };
    Action action = Action::Usage;
    Options options;
    QString error;
    QString helpText;
};

ParseResult parseArguments(const QStringList &arguments);

// The name a device goes by in file names: the last part of its path.
QString deviceName(const QString &port);
// The log file of one port when several are read: "-<device name>" before the extension.
QString logPathFor(const QString &logPath, const QString &port, bool severalPorts);

} // namespace tarvik::cli
