// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

namespace tarvik {

// Speed and framing of the line.
struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    friend bool operator==(const LineSettings &a, const LineSettings &b)
    {
        return a.baudRate == b.baudRate && a.parity == b.parity && a.dataBits == b.dataBits
               && a.stopBits == b.stopBits;
    }
};

// The operations that the session and its dump run perform on the serial port.
// SerialPort implements them on a real device.
class SerialService : public QObject
{
    Q_OBJECT
public:
    // Why an opening failed.
    enum class OpenError {
        None,
        NotPresent,          // no such device, or no n-th port on this system
        Busy,                // held (locked or opened exclusively) by another program
        PermissionDenied,    // the user may not open the device
        LockInTheWay,        // something other than a lock file at the lock file's path
        Other,               // anything else; errorString() has the system's reason
    };
    Q_ENUM(OpenError)

    using QObject::QObject;

    // Line settings and receive buffer: applied while closed, kept across openings.
    virtual void setLineSettings(const LineSettings &settings) = 0;
    virtual LineSettings lineSettings() const = 0;
    virtual void setReadBufferSize(qint16 size) = 0;

    // The device that the next opening opens (a /dev node or a link to one).
    virtual void setDevice(const QString &path) = 0;

    // Opening reports its failure as the result; opening an open port does
    // nothing. Closing never fails; closing a closed port does nothing.
    virtual OpenError open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The device path of the last opening attempt, and the system's reason of its failure.
    virtual QString devicePath() const = 0;
    virtual QString errorString() const = 0;

    // Receive side. discardInput() drops everything received and not yet read.
    virtual void discardInput() = 0;
    virtual int bytesWaiting() const = 0;
    // Everything waiting, removed from the buffer: as text (one character per
    // byte, Latin-1) or as bytes.
    virtual QString readText() = 0;
    virtual QByteArray readBytes() = 0;

    // Handed to the system at once.
    virtual void send(const QByteArray &bytes) = 0;

signals:
    // New bytes arrived.
    void readyRead();
    // The device went away or failed while open (adapter unplugged, hang-up):
    // the system's reason, and whether the signs were those of a disconnect
    // (see isDisconnect()). May be emitted more than once for one failure;
    // receivers report it once.
    void portLost(const QString &reason, bool disconnected = false);
    // The port was closed by close().
    void portClosed();
};

} // namespace tarvik
