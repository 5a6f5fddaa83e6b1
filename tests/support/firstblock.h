// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/protocol.h"

#include <QByteArray>

// The first block's reply (data and check byte) with a model name and version
// bytes in place; every other byte is 0x5A.
inline QByteArray firstBlock(const QByteArray &model, const QByteArray &sw = QByteArray::fromHex("FF1003"),
                             const QByteArray &hw = QByteArray::fromHex("0A0201"))
{
    QByteArray block(tarvik::protocol::BlockReplySize, '\x5A');
    block.replace(tarvik::protocol::ModelOffset, model.size() + 1, model + '\0');
    block.replace(tarvik::protocol::SoftwareVersionOffset, 3, sw);
    block.replace(tarvik::protocol::HardwareVersionOffset, 3, hw);
    return block;
}
