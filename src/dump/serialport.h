// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/lowlatency.h"
#include "dump/portlock.h"
#include "dump/portloss.h"
#include "dump/serialservice.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <termios.h>

namespace tarvik {

// SerialService on a real serial device, owned here: no step of opening it
// can wait. The device is opened without waiting for a carrier and kept to
// ourselves with the exclusive mode and a flock(), as current serial tools
// do, and with a LCK..<name> file in the lock folder for the programs that
// look there; reads and writes go through socket notifiers. When the device
// fails while open, portLost() is emitted once and the device is let go, but
// the port counts as open (reads give nothing, sends go nowhere) until it is
// closed.
class SerialPort : public SerialService
{
    Q_OBJECT
public:
    explicit SerialPort(QObject *parent = nullptr);
    ~SerialPort() override;

    void setLineSettings(const LineSettings &settings) override;
    LineSettings lineSettings() const override;
    void setReadBufferSize(qint16 size) override;

    // Opens this device from now on; with an empty path, opening finds no device.
    void setDevice(const QString &path) override;
    // Where the lock file goes; by default serialLockFolder().
    void setLockFolder(const QString &folder) { m_lockFolder = folder; }

    OpenError open() override;
    void close() override;
    bool isOpen() const override;
    QString devicePath() const override;
    QString errorString() const override;

    void discardInput() override;
    int bytesWaiting() const override;
    QString readText() override;
    QByteArray readBytes() override;

    void send(const QByteArray &bytes) override;

private:
    // Opening after the device's node was found usable: the steps on the descriptor.
    OpenError openDevice(const QByteArray &native, const QString &lockName);
    bool applyLine(int fd);
    void onReadable();
    void writePending();
    void resumeReading();
    // A read or write failed with `error` (0 for an end of file): the device is gone.
    void deviceFailed(int error);
    // Closes the device, with its low-latency mode, line and exclusive mode put back.
    void releaseDevice();
    // What the system shows of the open device after a failure whose errno was `error`.
    PortLossSigns lossSigns(int error) const;

    LineSettings m_settings;
    qint16 m_readBufferSize = 1024;
    QString m_device;
    QString m_devicePath;
    QString m_lockFolder;
    QString m_errorString;
    bool m_open = false;    // as the caller sees it: until close(), also after a loss
    bool m_lost = false;    // portLost was emitted for this opening
    quint64 m_openings = 0;
    int m_fd = -1;
    QSocketNotifier m_readNotifier{QSocketNotifier::Read};
    QSocketNotifier m_writeNotifier{QSocketNotifier::Write};
    QByteArray m_in;
    QByteArray m_out;
    termios m_savedLine {};
    bool m_lineSaved = false;
    bool m_exclusiveHere = false; // the exclusive mode was set by this opening
    PortLock m_lock;
    LowLatencyMode m_lowLatency;
    quint64 m_openedDevice = 0; // st_rdev of the opened device, 0 when unknown
};

} // namespace tarvik
