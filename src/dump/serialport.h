// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/lowlatency.h"
#include "dump/portloss.h"
#include "dump/serialservice.h"

#include <QSerialPort>

namespace tarvik {

// SerialService on a real serial device through QSerialPort. When the device fails
// while open, portLost() is emitted once and the device is let go, but the port
// counts as open (reads give nothing, sends go nowhere) until it is closed.
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
    void onErrorOccurred(QSerialPort::SerialPortError error);
    // Right after a successful opening: low-latency mode, and which device was opened.
    void tuneOpenedDevice();
    // Closes the device, with its low-latency mode put back.
    void releaseDevice();
    // What the system shows of the open device after a failure whose errno was `error`.
    PortLossSigns lossSigns(int error) const;

    QSerialPort m_port;
    LineSettings m_settings;
    qint16 m_readBufferSize = 1024;
    QString m_device;
    QString m_devicePath;
    QString m_errorString;
    bool m_open = false;    // as the caller sees it: until close(), also after a loss
    bool m_lost = false;    // portLost was emitted for this opening
    bool m_opening = false;
    quint64 m_openings = 0;
    LowLatencyMode m_lowLatency;
    quint64 m_openedDevice = 0; // st_rdev of the opened device, 0 when unknown
};

} // namespace tarvik
