// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/boxsummary.h"
#include "cli/runlog.h"
#include "dump/portinfo.h"

#include <QJsonObject>
#include <QList>
#include <QString>

namespace tarvik::cli {

// How tarvik-dump lays out what it prints for people and for scripts.

// An aligned table with a heading, one line per port, "-" for what is unknown.
QString portTable(const QList<PortDetails> &ports);
// One JSON object on one line per port; null for what is unknown.
QString portJsonLines(const QList<PortDetails> &ports);

// A JSON object as one line of text without a line end. JSON itself escapes
// the C0 controls; DEL and the C1 controls, which a terminal may take as the
// start of an escape sequence, are escaped too.
QString compactJson(const QJsonObject &object);

// What a word's colour says on a terminal: ok, a failure, an interruption
// (or a difference found).
enum class Tone { Plain, Good, Bad, Caution };
Tone toneOf(RunResult result);
// The text in the tone's colour when `colour`, otherwise as it is.
QString painted(const QString &text, Tone tone, bool colour);

// The version of the JSON line's layout; a script can tell versions apart by it.
constexpr int JsonFormat = 1;

// The three layouts of a box's summary: the line for people ("ttyUSB0: ok,
// /srv/KSF-2100.bin, ..."), the JSON object on one line, and the --log footer.
QString summaryLine(const BoxSummary &summary, bool colour);
QString jsonLine(const BoxSummary &summary);
RunLog::Fields logFooter(const BoxSummary &summary);
// What a summary line says of a box without a model name in its block 0.
inline const QString NoModelText = QStringLiteral("no model name in block 0 (erased or unreadable flash?)");

} // namespace tarvik::cli
