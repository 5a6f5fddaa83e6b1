// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a dump run puts on the wire and into the log, for tests that check
// them byte for byte.
#include "dump/protocol.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace wire = tarvik::protocol;

// The opening requests, and the request that answers each marker.
inline const QByteArray Handshake = wire::opening();
inline const QByteArray StartBlockRequest = wire::Handshake[0].request + wire::LineEnd;
inline const QByteArray BlockListRequest = wire::Handshake[1].request + wire::LineEnd;
inline const QByteArray DownloadRequest = wire::Handshake[2].request + wire::LineEnd;
inline const QByteArray AllHandshake = Handshake + StartBlockRequest + BlockListRequest + DownloadRequest;
inline const QByteArray TotalRequest = wire::TotalRequest + wire::RequestEnd;
inline const QString LogStart = QStringLiteral("sending request...\r\n");
inline const QString LogClosed = QStringLiteral("Serial port closed.\r\n");
inline const QString LogSuccess = QStringLiteral("TOTALCRC OK!\r\nTransfer succesfull!\r\n");
inline const QString LogLost = QStringLiteral("Serial port lost: ");
// The log line of the total request, as it stands while the reply is awaited.
inline const QString TotalAsked = QString::fromLatin1(wire::TotalRequest) + QStringLiteral("    ");

inline QString four(int n)
{
    return QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
}

// The handshake as far as a run gets: its opening requests, then one request
// for each marker found.
inline QByteArray handshakeWire(int markersFound)
{
    const QByteArray requests[] = {StartBlockRequest, BlockListRequest, DownloadRequest};
    QByteArray bytes = Handshake;
    for (int i = 0; i < markersFound; ++i)
        bytes += requests[i];
    return bytes;
}

inline QByteArray blockRequest(int n)
{
    return wire::BlockRequest + QByteArray::number(n) + wire::RequestEnd;
}

inline QByteArray blockAck(int n)
{
    return wire::BlockAck + QByteArray::number(n) + wire::RequestEnd;
}

// The log line of a block request, as it stands while the reply is awaited.
inline QString blockAsked(int n)
{
    return QString::fromLatin1(wire::BlockRequest) + four(n) + "    ";
}

inline QString blockLine(int n)
{
    return blockAsked(n) + QString::fromLatin1(wire::BlockAck) + four(n) + "\r\n";
}

// The whole handshake, then blocks start .. start+count-1 requested and acknowledged.
inline QByteArray goodWire(int start, int count)
{
    QByteArray bytes = AllHandshake;
    for (int n = start; n < start + count; ++n)
        bytes += blockRequest(n) + blockAck(n);
    return bytes;
}

// The log of a run whose blocks start .. start+count-1 were good.
inline QString goodLog(int start, int count)
{
    QString log = LogStart;
    for (int n = start; n < start + count; ++n)
        log += blockLine(n);
    return log;
}

// What goes on the wire for a run that reaches its end.
inline QByteArray wholeWire(int start, int count, bool totalOk)
{
    QByteArray bytes = goodWire(start, count) + TotalRequest;
    if (totalOk)
        bytes += wire::TotalAck + wire::RequestEnd;
    return bytes + wire::Closing + wire::LineEnd;
}

// What goes on the wire for a resumed run that reaches its end: the handshake,
// the kept blocks it compares again (`samples`), then the blocks from `from`
// to the end of the range (`end` exclusive), each requested and acknowledged.
inline QByteArray resumedWire(const QList<int> &samples, int from, int end, bool totalOk)
{
    QByteArray bytes = AllHandshake;
    for (const int n : samples)
        bytes += blockRequest(n) + blockAck(n);
    bytes += goodWire(from, end - from).mid(AllHandshake.size()) + TotalRequest;
    if (totalOk)
        bytes += wire::TotalAck + wire::RequestEnd;
    return bytes + wire::Closing + wire::LineEnd;
}

// The kept blocks that a run resumed after a stop at block 900 of the whole
// flash compares again: block 0 and fourteen more spread evenly before 899.
inline const QList<int> SamplesBefore899{0, 64, 128, 192, 257, 321, 385, 449, 513, 577, 641, 706, 770, 834, 898};

// The log line of a total that is not the sum of the blocks received: both
// sums modulo 256, as two hex digits.
inline QString totalErrorLine(int expected, int received)
{
    const auto hex = [](int value) { return QStringLiteral("%1").arg(value % 256, 2, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("TOTALCRC Error! (expected %1, received %2)\r\n").arg(hex(expected), hex(received));
}

// What a failure line names as awaited: a block, or the total.
inline QString awaitedBlock(int n)
{
    return QStringLiteral("BLOCK: ") + four(n);
}
inline const QString AwaitedTotal = QStringLiteral("TOTALCRC");

// The run's own last line when it stops: a block's check byte is wrong, the
// reply does not come whole in time, more bytes come than the reply holds, or
// the dump file cannot be written.
inline QString crcErrorLine(int n)
{
    return QStringLiteral("CRC Error while receiving ") + awaitedBlock(n) + QStringLiteral("\r\n");
}
inline QString timeoutLine(const QString &awaited)
{
    return QStringLiteral("Timeout while receiving ") + awaited + QStringLiteral("\r\n");
}
inline QString unexpectedLine(const QString &awaited)
{
    return QStringLiteral("Unexpected data while receiving ") + awaited + QStringLiteral("\r\n");
}
inline QString fileErrorLine(const QString &awaited)
{
    return QStringLiteral("Dump file error while receiving ") + awaited + QStringLiteral("\r\n");
}

// The window's closing lines after a run from block 0 stopped with
// `wholeBlocks` whole blocks in its .part: from two on, Open can continue it.
inline QString closedWith(int wholeBlocks)
{
    return LogClosed
           + (wholeBlocks >= 2 ? QStringLiteral("Open again to continue from block %1\r\n").arg(four(wholeBlocks - 2))
                               : QString());
}

// The window's line right after the error line of a run from block 0 that
// stopped with the port open, `wholeBlocks` whole blocks in its .part: what
// Close keeps and where Open then goes on, from two blocks on.
inline QString stoppedWith(int wholeBlocks)
{
    return wholeBlocks >= 2 ? QStringLiteral("Close keeps the blocks read so far; Open again then continues from block "
                                             "%1\r\n")
                                      .arg(four(wholeBlocks - 2))
                            : QString();
}

inline QString wholeLog(int start, int count, bool totalOk)
{
    QString log = goodLog(start, count) + TotalAsked;
    if (totalOk)
        log += LogSuccess;
    return log + LogClosed;
}
