// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The boot loader's host-mode protocol, named once: the dump run speaks it,
// the simulated loader answers it, and the tests build the expected wire from
// it. Header only, so that the simulator needs nothing else of the library.
//
// A conversation:
//   opening   host: VersionRequest, FlashInfoRequest, FlashInfoRecord, a lone
//             zero byte, FlashInfoEnd (each but the zero ended by LineEnd)
//   handshake for each step: the loader prints its marker somewhere in its
//             text, the host answers with the step's request and LineEnd
//   blocks    host: BlockRequest + block number + RequestEnd; loader: the
//             block's data and its check byte (the 8-bit sum of the data);
//             host: BlockAck + block number + RequestEnd
//   total     host: TotalRequest + RequestEnd; loader: one byte, the 8-bit sum
//             of the check bytes; host: TotalAck + RequestEnd when it matches
//   closing   host: Closing + LineEnd
#include <QByteArray>
#include <QLatin1StringView>

#include <iterator>

namespace tarvik::protocol {

// A block of flash and what a dump of the whole flash reads.
constexpr int BlockSize = 1024;
constexpr int FullReadBlocks = 1024;
// A block reply is the data, then its check byte; the total reply is one byte.
constexpr int BlockReplySize = BlockSize + 1;
constexpr int TotalReplySize = 1;

inline const QByteArray LineEnd = QByteArrayLiteral("\r\n");
inline const QByteArray RequestEnd = QByteArrayLiteral("\r");

inline const QByteArray VersionRequest = QByteArrayLiteral("REQUEST_V616");
inline const QByteArray FlashInfoRequest = QByteArrayLiteral("BL_FLASH_INFO");
// The flash-info record: the fixed description of the flash that the host
// announces (vendor bytes, geometry and the sector table), sent as it is.
inline const QByteArray FlashInfoRecord =
        QByteArray::fromHex("4B4105162127827FE07FF07FFE400E0F101112131415161718191A1B4F4E");
inline const QByteArray FlashInfoEnd = QByteArrayLiteral("BL_FLASH_END");

// What the host sends before it looks for the first marker.
inline QByteArray opening()
{
    return VersionRequest + LineEnd + FlashInfoRequest + LineEnd + FlashInfoRecord + LineEnd
           + QByteArray(1, '\0') + FlashInfoEnd + LineEnd;
}

// The handshake: the marker awaited, and the request that answers it.
struct HandshakeStep {
    QLatin1StringView marker;
    QByteArray request;
};
inline const HandshakeStep Handshake[] = {
    {QLatin1StringView("PC___"), QByteArrayLiteral("REQUEST_START_BLOCK")},
    {QLatin1StringView("0000"), QByteArrayLiteral("REQUEST_BLOCK")},
    {QLatin1StringView("1984"), QByteArrayLiteral("REQUEST_DOWNLOAD")},
};
constexpr int HandshakeSteps = int(std::size(Handshake));

inline const QByteArray BlockRequest = QByteArrayLiteral("REQUEST_1024DOWN:");
inline const QByteArray BlockAck = QByteArrayLiteral("1024DOWN_SUCCESS:");
inline const QByteArray TotalRequest = QByteArrayLiteral("REQUEST_TOTALCRC");
inline const QByteArray TotalAck = QByteArrayLiteral("DOWN_SUCCESS");
inline const QByteArray Closing = QByteArrayLiteral("UPGRADE_SUCCESS");

// Where the first block of the flash describes the box.
constexpr int ModelOffset = 8;            // the model name, up to the first zero byte
constexpr int SoftwareVersionOffset = 48; // bytes 48..50
constexpr int HardwareVersionOffset = 52; // bytes 52..54

// The check value of a block's data, and the sum of check values.
inline quint8 checkValue(const QByteArray &data)
{
    quint32 sum = 0;
    for (const char c : data)
        sum += quint8(c);
    return quint8(sum);
}

} // namespace tarvik::protocol
