// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/output.h"
#include "dump/stoppeddump.h"
#include "dump/runresult.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

namespace tarvik::cli {

struct Options {
    QStringList ports;
    QString outputFolder; // ends with '/'
    OutputFolder folder;  // opened once, when the options were read
    bool header = false;
    qint16 startBlock = 0;
    qint16 blockCount = 1024;
    QString verifyPath;
    QByteArray verifyData; // the blocks of the file that the range names, to compare with
    bool json = false;
    QString logPath;
    bool quiet = false;
    ColorMode color = ColorMode::Auto;
    bool list = false;
    int stallMs = 0; // 0: the engine's own
    // With --resume: whether the stopped dump is continued or started again.
    ContinuePlan continuePlan;
    bool continuing() const { return !continuePlan.partName.isEmpty(); }
    // --restart: a stopped dump's .part may be started again.
    bool restart = false;
    // --wait: 0 waits for the boot loader for as long as it takes, at most a day.
    static constexpr int MaxWaitSeconds = 86400;
    int waitSeconds = 0;
    // The name of each port in file names where its last path part is taken
    // by an earlier port ("ttyUSB0-2"); the others go by deviceName().
    QHash<QString, QString> renamedPorts;

    // The name `port` goes by in file names, unique among the ports of the run.
    QString nameOf(const QString &port) const;
};

// The parsed command line; on bad usage `error` says why and the rest is not meaningful.
struct ParseResult {
    // Refused: what was asked cannot be done (a folder or file that cannot be
    // used, a stopped dump that cannot be continued); `error` says why and
    // `nextStep`, when there is one, what works instead.
    enum class Action { Run, List, Help, Version, Usage, Refused };
    Action action = Action::Usage;
    Options options;
    QString error;
    QString nextStep;
    QString helpText;
};

ParseResult parseArguments(const QStringList &arguments);

// The name a device goes by in file names: the last part of its path.
QString deviceName(const QString &port);
// The log file of one port when several are read: "-<name>" before the
// extension, `name` being the port's name in file names (Options::nameOf).
QString logPathFor(const QString &logPath, const QString &name, bool severalPorts);

} // namespace tarvik::cli
