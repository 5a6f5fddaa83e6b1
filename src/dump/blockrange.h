// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace tarvik {

// The block range typed into the start and number fields, checked before the
// port is touched.
struct BlockRange {
    static constexpr int MaxBlock = 32767;

    bool ok = false;
    qint16 startBlock = 0;
    qint16 blockCount = 0;
    QString error; // the message box text when !ok
};

// The whole flash: the only read that is named after the model and may carry
// the KUP header.
bool isFullRead(qint16 startBlock, qint16 blockCount);
// The same as typed into the window's fields: exactly "0" and "1024".
bool isFullReadText(const QString &startText, const QString &numberText);

// Told when the header is asked for with anything but the full read.
inline const QString HeaderNeedsFullRead =
        QStringLiteral("It's useless to add a header if you don't want to backup the software!");

// A field as a whole decimal number from 0 to 32767 (blanks around it
// allowed); -1 when it is not one.
int parseBlockNumber(const QString &text);

// Both fields as whole decimal numbers from 0 to 32767 whose last block
// (start + count - 1) is at most 32767. A count of 0 is a valid range.
BlockRange parseBlockRange(const QString &startText, const QString &numberText);

} // namespace tarvik
