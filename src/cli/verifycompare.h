// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QList>

namespace tarvik::cli {

// --verify: the blocks received from the box set against those of the file,
// and the SHA-256 of what was received.
class VerifyCompare
{
public:
    // `expected`: the file's blocks of the range that begins at startBlock.
    VerifyCompare(const QByteArray &expected, int startBlock) : m_expected(expected), m_startBlock(startBlock) {}

    // The range's block `index` as the box sent it.
    void add(int index, const QByteArray &data);
    // The blocks (numbered as on the flash) that differ, in order.
    QList<int> differing() const { return m_differing; }
    int received() const { return m_received; }
    // Of the blocks received; empty when there were none.
    QString sha256() const;

private:
    QByteArray m_expected;
    int m_startBlock = 0;
    int m_received = 0;
    QList<int> m_differing;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
};

} // namespace tarvik::cli
