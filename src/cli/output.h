// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdio>

namespace tarvik::cli {

// Everything tarvik-dump writes to standard output and standard error goes
// through here, so that a write that fails (a full disk under a redirect, a
// closed pipe, a lost terminal) is noticed and the exit status says so.

// Puts /dev/null on any of the standard descriptors that the program was
// started without, so that no file or port opened later takes its place; a
// missing stdout or stderr counts as failed.
void guardStandardStreams();

// --color: when the result words are coloured.
enum class ColorMode { Auto, Always, Never };
// Whether what goes to `stream` is coloured: always, never, or (Auto) on a
// terminal that is not TERM=dumb, unless NO_COLOR is set to anything.
bool colourFor(std::FILE *stream, ColorMode mode);

// Writes and flushes `text`; false (and remembered) when it did not all go out.
bool writeOut(std::FILE *stream, const QString &text);

// Flushes both streams and returns the exit status to end with: `code`, or 1
// when a write failed (said on stderr when only stdout failed). A status that
// says the runs were ended by a signal is kept.
int settleOutput(int code);

} // namespace tarvik::cli
