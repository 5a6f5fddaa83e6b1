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
inline const QString LogStart = QStringLiteral("sending request...\r\n");
inline const QString LogClosed = QStringLiteral("Serial port closed.\r\n");

inline QString four(int n)
{
    return QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
}

inline QByteArray blockRequest(int n)
{
    return "REQUEST_1024DOWN:" + QByteArray::number(n) + '\r';
}

inline QString blockLine(int n)
{
    return "REQUEST_1024DOWN:" + four(n) + "    1024DOWN_SUCCESS:" + four(n) + "\r\n";
}

// What goes on the wire for a run that reaches its end.
inline QByteArray wholeWire(int start, int count, bool totalOk)
{
    QByteArray wire = AllHandshake;
    for (int n = start; n < start + count; ++n)
        wire += blockRequest(n) + "1024DOWN_SUCCESS:" + QByteArray::number(n) + '\r';
    wire += "REQUEST_TOTALCRC\r";
    if (totalOk)
        wire += "DOWN_SUCCESS\r";
    return wire + "UPGRADE_SUCCESS\r\n";
}

inline QString wholeLog(int start, int count, bool totalOk)
{
    QString log = LogStart;
    for (int n = start; n < start + count; ++n)
        log += blockLine(n);
    log += QStringLiteral("REQUEST_TOTALCRC    ");
    if (totalOk)
        log += QStringLiteral("TOTALCRC OK!\r\nTransfer succesfull!\r\n");
    return log + LogClosed;
}

