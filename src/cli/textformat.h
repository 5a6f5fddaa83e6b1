// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

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

} // namespace tarvik::cli
