// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

namespace tarvik::Design {

// Families that draw the design font where it is not installed, best first:
// plain sans-serif faces close to its look and narrow enough for the
// window's captions at its size.
QStringList fontStandIns();

// Makes the design font resolve to a stand-in when it is not installed
// itself: the first installed stand-in in which every label's caption fits
// its control, else the first one installed. Returns the family that the
// design font now resolves to (empty: none of them is installed, and the
// system's default sans-serif face is used).
QString useFontStandIn();

} // namespace tarvik::Design
