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

} // namespace tarvik
