// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik::cli {

struct Options;

// tarvik-dump's own command lines, as the user is told to type them again.

// One argument as a POSIX shell reads it back.
QString shellWord(const QString &word);
// The command that continues the stopped dump in partPath, quoted for a shell.
QString resumeCommand(const QString &device, const QString &partPath);
// The run of `device` with `options` again, quoted for a shell: --resume of
// `resumePart` when given, otherwise the run's own options (with --restart
// when `restart`).
QString runCommand(const Options &options, const QString &device, const QString &resumePart, bool restart = false);

} // namespace tarvik::cli
