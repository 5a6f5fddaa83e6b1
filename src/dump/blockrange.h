#pragma once

#include <QString>

namespace tarvik {

// The block range typed into the start and number fields, checked before the
// port is touched.
struct BlockRange {
    bool ok = false;
    qint16 startBlock = 0;
    qint16 blockCount = 0;
    QString error; // the message box text when !ok
};

BlockRange parseBlockRange(const QString &startText, const QString &numberText);

} // namespace tarvik
