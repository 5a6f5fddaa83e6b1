#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

namespace tarvik {

// The operations that the window and the dump run perform on the serial port,
// named after the properties of the port object they used to be.
// SerialPort implements them on a real device.
class SerialService : public QObject
{
    Q_OBJECT
public:
    // Why an opening failed. The two numbered ones keep the numbers that the
    // window's messages are keyed on.
    enum class OpenError {
        None = 0,
        NotPresent = 8002,       // no such device, or no n-th port on this system
        Busy = 8005,             // held (locked or opened exclusively) by another program
        PermissionDenied = 1,    // the user may not open the device
        Other = 2,               // anything else; errorString() has the system's reason
    };
    Q_ENUM(OpenError)

    enum InputModeValue { InputModeText = 0, InputModeBinary = 1 };

    using QObject::QObject;

    // Line settings, read size and receive buffer: applied while closed, kept across openings.
    virtual void setLineSettings(const QString &settings) = 0; // e.g. "115200,N,8,1"
    virtual QString lineSettings() const = 0;
    virtual void setInputLen(qint16 len) = 0;
    virtual void setReadBufferSize(qint16 size) = 0;

    // Port number 1..4, resolved to a device at the next opening.
    virtual void setPortNumber(qint16 port) = 0;
    virtual qint16 portNumber() const = 0;

    // Opening reports its failure as the result; closing never fails.
    virtual OpenError setPortOpen(bool open) = 0;
    virtual bool isOpen() const = 0;
    // The device path of the last opening attempt, and the system's reason of its failure.
    virtual QString devicePath() const = 0;
    virtual QString errorString() const = 0;

    // Receive side. Only a count of 0 is meaningful for setInBufferCount: it drops
    // everything received and not yet read.
    virtual void setInBufferCount(qint16 count) = 0;
    virtual int bytesWaiting() const = 0;
    virtual void setInputMode(int mode) = 0;
    virtual int inputMode() const = 0;
    // Everything waiting, removed from the buffer: a QString (one character per
    // byte, Latin-1) in text mode, a QByteArray in binary mode.
    virtual QVariant input() = 0;

    // One byte per character (Latin-1), handed to the system at once.
    virtual void send(const QString &text) = 0;

signals:
    // New bytes arrived.
    void readyRead();
    // The device went away or failed while open (adapter unplugged, hang-up).
    // May be emitted more than once for one failure; receivers report it once.
    void portLost(const QString &reason);
    // The port was closed by close().
    void portClosed();
};

} // namespace tarvik
