// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/runresult.h"

namespace tarvik {

namespace {

// clang-format off
constexpr ResultRow Rows[] = {
    // result                     word               exit code        failed continues next step
    {RunResult::Ok,             "ok",              ExitOk,          false, false, NextStep::None},
    {RunResult::Identical,      "identical",       ExitOk,          false, false, NextStep::None},
    {RunResult::Different,      "different",       ExitDifferent,   false, false, NextStep::None},
    {RunResult::TotalMismatch,  "total-mismatch",  ExitFailed,      true,  false, NextStep::StartAgain},
    {RunResult::CheckError,     "check-error",     ExitFailed,      true,  true,  NextStep::Continue},
    {RunResult::UnexpectedData, "unexpected-data", ExitFailed,      true,  true,  NextStep::Continue},
    {RunResult::Timeout,        "timeout",         ExitFailed,      true,  true,  NextStep::Continue},
    {RunResult::PortLost,       "port-lost",       ExitFailed,      true,  true,  NextStep::PortTrouble},
    {RunResult::PortClosed,     "port-closed",     ExitFailed,      true,  true,  NextStep::Continue},
    {RunResult::FileError,      "file-error",      ExitFailed,      true,  true,  NextStep::FileTrouble},
    {RunResult::NotSameBox,     "not-same-box",    ExitFailed,      true,  false, NextStep::StartAgain},
    {RunResult::Interrupted,    "interrupted",     ExitInterrupted, true,  true,  NextStep::Continue},
    {RunResult::OpenFailed,     "open-failed",     ExitFailed,      true,  true,  NextStep::PortTrouble},
    {RunResult::NoAnswer,       "no-answer",       ExitFailed,      true,  true,  NextStep::HostMode},
    {RunResult::PartExists,     "part-exists",     ExitFailed,      true,  true,  NextStep::ContinueOrStartAgain},
    {RunResult::NoResult,       "no-result",       ExitFailed,      true,  true,  NextStep::None},
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
