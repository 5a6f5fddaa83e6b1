// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// Who is told: the window (its Open button, its COM ports) or tarvik-dump
// (its command lines, its device paths).
enum class FrontEnd { Window, CommandLine };

// The troubles with a port that the user can mend, each with the step that
// mends it. Every such text lives in one table in nextstep.cpp, so that both
// front ends give the same advice.
enum class PortTrouble {
    NotPresent,   // no device behind the name
    HeldUnseen,   // busy, by a program that we may not see
    Disconnected, // the adapter went away during a run
};

// What to do next, with `device` for %1 and `continueWith` (the command
// that continues a stopped dump, or the window's "Open") for %2.
QString nextStep(PortTrouble trouble, FrontEnd frontEnd, const QString &device,
                 const QString &continueWith = QString());

// What the user does next after a run ended so.
enum class NextStep {
    None,
    // The .part keeps the run's good blocks: continue it from where it stopped.
    Continue,
    // The run stopped and waits with the port open (the window only): Close
    // keeps the blocks, and Open then continues from where it stopped.
    CloseThenContinue,
    // The .part holds nothing that a continued run could vouch for: read it
    // again from the start, cutting the .part.
    StartAgain,
    // A stopped dump is in the way: continue it, or start again.
    ContinueOrStartAgain,
    // Put the box into its HOST - MODE and run again.
    HostMode,
    // Nothing was kept to continue: run the same again.
    RunAgain,
    // Said by the port's own failure (see PortTrouble above).
    PortTrouble,
    // Said by the file's own failure message.
    FileTrouble,
    // Something that is not ours holds a name that the dump needs: move it
    // away, or choose another folder.
    MoveOrChooseFolder,
};

// What the user is told to do next. `continueWith` is how the stopped dump is
// continued (tarvik-dump's --resume command; the window's block to continue
// from, as its log numbers it), `startAgainWith` how it is started again (the
// command with --restart, or for RunAgain the run's own; unused by the window). Empty for NextStep::None and
// for the steps that the failure itself words.
QString nextStepText(NextStep step, FrontEnd frontEnd, const QString &continueWith = QString(),
                     const QString &startAgainWith = QString());

} // namespace tarvik
