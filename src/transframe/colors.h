#pragma once

#include <QColor>

namespace tarvik {

// Turns a stored colour value into a QColor. The value is laid out as
// 0x00BBGGRR; with its top bit set, its low byte names a system colour,
// taken from the application palette. A system colour without a palette
// role here gives an invalid QColor.
QColor colorFromOle(quint32 value);

} // namespace tarvik
