// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a dump run puts on the wire and into the log, for tests that check
// them byte for byte.
#include <QByteArray>
#include <QString>

inline const QByteArray Handshake = QByteArrayLiteral("REQUEST_V616\r\nBL_FLASH_INFO\r\n")
    + QByteArray::fromHex("4B41051621278" "27FE07FF07FFE400E0F101112131415161718191A1B4F4E")
    + QByteArrayLiteral("\r\n") + QByteArray(1, '\0') + QByteArrayLiteral("BL_FLASH_END\r\n");
inline const QByteArray StartBlockRequest = QByteArrayLiteral("REQUEST_START_BLOCK\r\n");
inline const QByteArray BlockListRequest = QByteArrayLiteral("REQUEST_BLOCK\r\n");
inline const QByteArray DownloadRequest = QByteArrayLiteral("REQUEST_DOWNLOAD\r\n");
inline const QByteArray AllHandshake = Handshake + StartBlockRequest + BlockListRequest + DownloadRequest;
inline const QByteArray TotalRequest = QByteArrayLiteral("REQUEST_TOTALCRC\r");
inline const QString LogStart = QStringLiteral("sending request...\r\n");
inline const QString LogClosed = QStringLiteral("Serial port closed.\r\n");
inline const QString LogSuccess = QStringLiteral("TOTALCRC OK!\r\nTransfer succesfull!\r\n");
// The log line of the total request, as it stands while the reply is awaited.
inline const QString TotalAsked = QStringLiteral("REQUEST_TOTALCRC    ");

inline QString four(int n)
{
    return QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
}

// The handshake as far as a run gets: its opening requests, then one request
// for each marker found.
inline QByteArray handshakeWire(int markersFound)
{
    const QByteArray requests[] = {StartBlockRequest, BlockListRequest, DownloadRequest};
    QByteArray wire = Handshake;
    for (int i = 0; i < markersFound; ++i)
        wire += requests[i];
    return wire;
}

inline QByteArray blockRequest(int n)
{
    return "REQUEST_1024DOWN:" + QByteArray::number(n) + '\r';
}

// The log line of a block request, as it stands while the reply is awaited.
inline QString blockAsked(int n)
{
    return "REQUEST_1024DOWN:" + four(n) + "    ";
}

inline QString blockLine(int n)
{
    return blockAsked(n) + "1024DOWN_SUCCESS:" + four(n) + "\r\n";
}

// The whole handshake, then blocks start .. start+count-1 requested and acknowledged.
inline QByteArray goodWire(int start, int count)
{
    QByteArray wire = AllHandshake;
    for (int n = start; n < start + count; ++n)
        wire += blockRequest(n) + "1024DOWN_SUCCESS:" + QByteArray::number(n) + '\r';
    return wire;
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
    QByteArray wire = goodWire(start, count) + TotalRequest;
    if (totalOk)
        wire += "DOWN_SUCCESS\r";
    return wire + "UPGRADE_SUCCESS\r\n";
}

// The log line of a total that is not the sum of the blocks received: both
// sums modulo 256, as two hex digits.
inline QString totalErrorLine(int expected, int received)
{
    const auto hex = [](int value) { return QStringLiteral("%1").arg(value % 256, 2, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("TOTALCRC Error! (expected %1, received %2)\r\n").arg(hex(expected), hex(received));
}

inline QString wholeLog(int start, int count, bool totalOk)
{
    QString log = goodLog(start, count) + TotalAsked;
    if (totalOk)
        log += LogSuccess;
    return log + LogClosed;
}
