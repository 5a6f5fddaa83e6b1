// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/blockrange.h"

#include "dump/protocol.h"

namespace tarvik {

int parseBlockNumber(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty())
        return -1;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return -1;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok);
    if (!ok || value > qulonglong(BlockRange::MaxBlock))
        return -1;
    return int(value);
}

BlockRange parseBlockRange(const QString &startText, const QString &numberText)
{
    BlockRange range;
    if (startText.trimmed().isEmpty()) {
        range.error = QStringLiteral("Enter the number of the start block.");
        return range;
    }
    if (numberText.trimmed().isEmpty()) {
        range.error = QStringLiteral("Enter the number of blocks to read.");
        return range;
    }
    const int start = parseBlockNumber(startText);
    if (start < 0) {
        range.error = QStringLiteral("The start block must be a whole number from 0 to %1.")
                          .arg(BlockRange::MaxBlock);
        return range;
    }
    const int count = parseBlockNumber(numberText);
    if (count < 0) {
        range.error = QStringLiteral("The number of blocks must be a whole number from 0 to %1.")
                          .arg(BlockRange::MaxBlock);
        return range;
    }
    if (start + count - 1 > BlockRange::MaxBlock) {
        range.error = QStringLiteral("The blocks %1 to %2 cannot be read: the last block must not "
                                     "be above %3.")
                          .arg(start)
                          .arg(start + count - 1)
                          .arg(BlockRange::MaxBlock);
        return range;
    }
    range.ok = true;
    range.startBlock = qint16(start);
    range.blockCount = qint16(count);
    return range;
}

bool isFullRead(qint16 startBlock, qint16 blockCount)
{
    return startBlock == 0 && blockCount == protocol::FullReadBlocks;
}

bool isFullReadText(const QString &startText, const QString &numberText)
{
    return startText == u"0" && numberText == QString::number(protocol::FullReadBlocks);
}

} // namespace tarvik
