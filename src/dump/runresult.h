// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/dumprun.h"
#include "dump/nextstep.h"

#include <QString>

#include <optional>

namespace tarvik {

// The exit codes of tarvik-dump that scripts rely on.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,
    ExitUsage = 2,
    ExitDifferent = 3,
    ExitHangUp = 129,       // 128 + SIGHUP
    ExitInterrupted = 130,  // SIGINT or SIGTERM
};

// How the run of one box ended, as the user and scripts are told: the dump
// run's own endings and those around it (the port did not open, the box never
// answered, a comparison, a stopped dump in the way, an interruption).
enum class RunResult {
    Ok,
    Identical,      // a comparison found the box's flash equal to the file
    Different,      // ... and found blocks that differ
    TotalMismatch,
    CheckError,
    UnexpectedData,
    Timeout,
    PortLost,
    PortClosed,
    FileError,
    NotSameBox,
    Interrupted,    // Ctrl+C, a signal
    OpenFailed,
    NoAnswer,       // the boot loader did not answer in the time given
    PartExists,     // a stopped dump's .part is where the run would write
    NoResult,       // the run never ended of itself
};

// One row of the table of results.
struct ResultRow {
    RunResult result;
    const char *word;   // for scripts and records: "check-error"
    ExitCode exitCode;  // of tarvik-dump, when this box's result decides it
    bool failed;        // the box was not read (or compared) whole
    // A .part that the run leaves may be continued: its blocks stand. A run
    // that failed its total check or found another box discredits them.
    bool partContinues;
    NextStep next;
    // What failed, in plain words, when the run's own text does not say it
    // plainly: %1 the block it ended at (as its log numbers it; " at block
    // %1" is left out when it ended elsewhere), %2 the seconds a reply may
    // take, %3 the seconds the boot loader was given. nullptr: the run's own
    // text says it.
    const char *what;
};

// The row of a result; every result has one.
const ResultRow &resultRow(RunResult result);
inline QString resultWord(RunResult result) { return QString::fromLatin1(resultRow(result).word); }
// The result that a word names (as a record keeps it); none for an unknown word.
std::optional<RunResult> resultFromWord(const QString &word);
// What failed in plain words (see ResultRow::what), or `ownText` for a
// result that has no words of its own.
QString failureWords(RunResult result, const QString &ownText, int block, double replySeconds, int waitSeconds);
// How the dump run's own ending reads as a result.
RunResult resultOf(DumpRun::Outcome outcome);

} // namespace tarvik
