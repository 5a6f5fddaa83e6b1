// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QColor>
#include <QPalette>

namespace tarvik {

// The light palette that the program's own controls are drawn with and that
// the stored system colours map to, whatever palette the desktop hands the
// application. Every role of every colour group is set in it, so a widget
// given it passes all of it on to its children.
const QPalette &designPalette();

// Turns a stored colour value into a QColor. The value is laid out as
// 0x00BBGGRR; with its top bit set, its low byte names a system colour,
// taken from designPalette(). A system colour without a palette role here
// gives an invalid QColor.
QColor colorFromOle(quint32 value);

} // namespace tarvik
