// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/verifycompare.h"

#include "dump/protocol.h"

#include <QString>

namespace tarvik::cli {

void VerifyCompare::add(int index, const QByteArray &data)
{
    m_hash.addData(data);
    ++m_received;
    const QByteArray expected = m_expected.mid(qsizetype(index) * protocol::BlockSize, protocol::BlockSize);
    if (expected != data)
        m_differing.append(m_startBlock + index);
}

QString VerifyCompare::sha256() const
{
    if (m_received == 0)
        return {};
    return QString::fromLatin1(m_hash.resultView().toByteArray().toHex());
}

} // namespace tarvik::cli
