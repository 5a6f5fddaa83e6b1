// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>

// Small text helpers that the library and both front ends share.
namespace tarvik {

// The system's words for an errno value.
QString systemReason(int error);
// A byte as two upper-case hexadecimal digits ("0A").
QString hexByte(quint8 value);
// A control character: C0, DEL or C1. Text from a box or a device may hold
// them; a terminal or a file name must not get them.
bool isControl(QChar c);
// The text with every control character replaced.
QString withoutControls(QString text, QChar replacement = u'?');

} // namespace tarvik
