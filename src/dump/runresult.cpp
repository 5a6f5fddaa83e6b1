// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/runresult.h"

namespace tarvik {

namespace {

// clang-format off
constexpr ResultRow Rows[] = {
    // result                     word               exit code        failed continues next step
    {RunResult::Ok,             "ok",              ExitOk,          false, false, NextStep::None, nullptr},
    {RunResult::Identical,      "identical",       ExitOk,          false, false, NextStep::None, nullptr},
    {RunResult::Different,      "different",       ExitDifferent,   false, false, NextStep::None, nullptr},
    {RunResult::TotalMismatch,  "total-mismatch",  ExitFailed,      true,  false, NextStep::StartAgain,
     "the check over the whole transfer failed"},
    {RunResult::CheckError,     "check-error",     ExitFailed,      true,  true,  NextStep::Continue,
     "block %1 failed its check"},
    {RunResult::UnexpectedData, "unexpected-data", ExitFailed,      true,  true,  NextStep::Continue,
     "the box sent more than was asked for at block %1"},
    {RunResult::Timeout,        "timeout",         ExitFailed,      true,  true,  NextStep::Continue,
     "no answer for %2 s at block %1"},
    {RunResult::PortLost,       "port-lost",       ExitFailed,      true,  true,  NextStep::PortTrouble, nullptr},
    {RunResult::PortClosed,     "port-closed",     ExitFailed,      true,  true,  NextStep::Continue,
     "the port was closed at block %1"},
    {RunResult::FileError,      "file-error",      ExitFailed,      true,  true,  NextStep::FileTrouble, nullptr},
    {RunResult::NotSameBox,     "not-same-box",    ExitFailed,      true,  false, NextStep::StartAgain,
     "block %1 differs from the stopped dump: not the same box, or its flash changed"},
    {RunResult::Interrupted,    "interrupted",     ExitInterrupted, true,  true,  NextStep::Continue,
     "interrupted at block %1"},
    {RunResult::OpenFailed,     "open-failed",     ExitFailed,      true,  true,  NextStep::PortTrouble, nullptr},
    {RunResult::NoAnswer,       "no-answer",       ExitFailed,      true,  true,  NextStep::HostMode,
     "no answer from the boot loader in %3 s"},
    {RunResult::PartExists,     "part-exists",     ExitFailed,      true,  true,  NextStep::ContinueOrStartAgain, nullptr},
    {RunResult::NoResult,       "no-result",       ExitFailed,      true,  true,  NextStep::None, nullptr},
};
// clang-format on

} // namespace

const ResultRow &resultRow(RunResult result)
{
    for (const ResultRow &row : Rows) {
        if (row.result == result)
            return row;
    }
    return Rows[std::size(Rows) - 1];
}

std::optional<RunResult> resultFromWord(const QString &word)
{
    for (const ResultRow &row : Rows) {
        if (word == QLatin1String(row.word))
            return row.result;
    }
    return std::nullopt;
}

QString failureWords(RunResult result, const QString &ownText, int block, double replySeconds, int waitSeconds)
{
    const char *what = resultRow(result).what;
    if (!what)
        return ownText;
    QString text = QString::fromLatin1(what);
    if (block < 0)
        text.remove(QStringLiteral(" at block %1"));
    // One pass: a number never holds a "%".
    return text.replace(QStringLiteral("%1"), block < 0 ? QString() : DumpRun::logNumber(qint16(block)))
            .replace(QStringLiteral("%2"), QString::number(replySeconds))
            .replace(QStringLiteral("%3"), QString::number(waitSeconds));
}

RunResult resultOf(DumpRun::Outcome outcome)
{
    using Outcome = DumpRun::Outcome;
    switch (outcome) {
    case Outcome::Success:
        return RunResult::Ok;
    case Outcome::TotalMismatch:
        return RunResult::TotalMismatch;
    case Outcome::CheckError:
        return RunResult::CheckError;
    case Outcome::UnexpectedData:
        return RunResult::UnexpectedData;
    case Outcome::Timeout:
        return RunResult::Timeout;
    case Outcome::PortLost:
        return RunResult::PortLost;
    case Outcome::PortClosed:
        return RunResult::PortClosed;
    case Outcome::FileError:
        return RunResult::FileError;
    case Outcome::NotSameBox:
        return RunResult::NotSameBox;
    case Outcome::None:
        break;
    }
    return RunResult::NoResult;
}

} // namespace tarvik
