// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/runresult.h"
#include "dump/session.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace tarvik::cli {

// What tarvik-dump tells of the run of one box once it has ended. The
// summary line, the JSON line and the --log footer (textformat.h) are three
// layouts of this one value; what a field is and when it is unknown is
// decided here, once.
struct BoxSummary {
    // What the run knew beyond its report.
    struct Run {
        QString device;          // as given with --port
        QString model;           // as the session reported it; empty: none
        qint16 startBlock = 0;
        int blockCount = 0;
        bool verify = false;
        // With --verify: the blocks received, their SHA-256 and those that differ.
        int blocksReceived = 0;
        QString receivedSha256;
        QList<int> differingBlocks;
        QDateTime began;
        QDateTime ended;
        double seconds = 0;
        RunResult result = RunResult::NoResult;
        QString error;           // the failure as the run had it (a loader line, a system message)
        double replySeconds = 0; // the time a reply may take
        int waitSeconds = 0;     // --wait
        QString continueCommand; // continues the stopped dump of the report's partPath
        QString startAgainCommand;
        QString runAgainCommand;
    };

    static BoxSummary of(const RunReport &report, const Run &run);

    QString device;
    QString model;       // empty: none
    // The run read its first block and found no model name there.
    bool noModel = false;
    qint16 startBlock = 0;
    int blockCount = 0;
    QString hardwareVersion; // empty: unknown
    QString softwareVersion;
    bool verify = false;
    QString filePath;    // absolute; empty without a dump file
    QString previousKeptAs;
    // A stopped dump's .part that the run left as it found it, and its whole
    // blocks; empty when none.
    QString untouchedPart;
    int untouchedWholeBlocks = 0;
    qint64 bytes = 0;
    QString sha256;      // empty: nothing to hash
    int blocksRead = 0;
    int blankBlocks = 0;
    int zeroBlocks = 0;
    // Of a run that continued a stopped dump: the block it went on from.
    bool continued = false;
    int continuedFrom = 0;
    int comparedBlocks = 0;
    int keptBlocks = 0;
    QList<int> differingBlocks;
    QDateTime began;
    QDateTime ended;
    double seconds = 0;
    RunResult result = RunResult::NoResult;
    // The block a failed or interrupted run ended at; -1 when it did not end among the blocks.
    int failedBlock = -1;
    QString failure;     // what failed, in plain words; empty when nothing did
    QString error;       // the same as the run had it
    QString nextStep;    // what to do next; empty for nothing
    QString continueCommand; // continues the stopped dump; empty when there is none

    bool failed() const { return resultRow(result).failed; }
};

// "700-703, 900"
QString blockList(const QList<int> &blocks);

} // namespace tarvik::cli
