// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/serialport.h"

#include "dump/openfailure.h"
#include "dump/portinfo.h"
#include "dump/text.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tarvik {

SerialPort::SerialPort(QObject *parent)
    : SerialService(parent)
{
    connect(&m_port, &QSerialPort::readyRead, this, &SerialService::readyRead);
    connect(&m_port, &QSerialPort::errorOccurred, this, &SerialPort::onErrorOccurred);
}

SerialPort::~SerialPort()
{
    releaseDevice();
}

void SerialPort::setLineSettings(const LineSettings &settings)
{
    m_settings = settings;
}

LineSettings SerialPort::lineSettings() const
{
    return m_settings;
}

void SerialPort::setReadBufferSize(qint16 size)
{
    m_readBufferSize = qMax<qint16>(0, size);
    m_port.setReadBufferSize(m_readBufferSize);
}

void SerialPort::setDevice(const QString &path)
{
    m_device = path;
}

void SerialPort::close()
{
    if (!m_open)
        return;
    releaseDevice();
    m_open = false;
    m_lost = false;
    emit portClosed();
}

SerialService::OpenError SerialPort::open()
{
    if (m_open)
        return OpenError::None;

    m_errorString.clear();
    m_devicePath = m_device;
    if (m_devicePath.isEmpty()) {
        m_errorString = QStringLiteral("No serial device");
        return OpenError::NotPresent;
    }

    const QByteArray native = QFile::encodeName(m_devicePath);
    struct stat st {};
    // QSerialPort reports a lock held by another program and missing rights
    // alike, so the rights are looked at first.
    if (::stat(native.constData(), &st) != 0 || ::access(native.constData(), R_OK | W_OK) != 0) {
        const int error = errno;
        m_errorString = systemReason(error);
        return openErrorFromErrno(error);
    }

    const LineSettings &line = m_settings;
    if (line.baudRate <= 0) {
        m_errorString = QStringLiteral("Invalid speed %1").arg(line.baudRate);
        return OpenError::Other;
    }

    // The real device, so that a link and its target share one lock.
    const QString canonical = QFileInfo(m_devicePath).canonicalFilePath();
    // Opening the port opens its lock file when there is one, following links
    // and waiting on a FIFO: anybody may put one there. Only a lock file is
    // let through.
    if (const QString inTheWay = lockFileInTheWay(serialLockPath(canonical.isEmpty() ? m_devicePath : canonical));
        !inTheWay.isEmpty()) {
        m_errorString = inTheWay;
        return OpenError::LockInTheWay;
    }
    m_port.setPortName(canonical.isEmpty() ? m_devicePath : canonical);
    m_port.setBaudRate(line.baudRate);
    m_port.setParity(line.parity);
    m_port.setDataBits(line.dataBits);
    m_port.setStopBits(line.stopBits);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    m_port.setReadBufferSize(m_readBufferSize);

    m_opening = true;
    const bool opened = m_port.open(QIODevice::ReadWrite);
    m_opening = false;
    if (!opened) {
        const QSerialPort::SerialPortError error = m_port.error();
        m_errorString = m_port.errorString();
        m_port.clearError();
        return openErrorFromSerialPort(error);
    }
    tuneOpenedDevice();
    m_open = true;
    m_lost = false;
    ++m_openings;
    return OpenError::None;
}

bool SerialPort::isOpen() const
{
    return m_open;
}

QString SerialPort::devicePath() const
{
    return m_devicePath;
}

QString SerialPort::errorString() const
{
    return m_errorString;
}

void SerialPort::discardInput()
{
    if (m_port.isOpen())
        m_port.clear(QSerialPort::Input);
}

int SerialPort::bytesWaiting() const
{
    return m_port.isOpen() ? int(m_port.bytesAvailable()) : 0;
}

QString SerialPort::readText()
{
    return QString::fromLatin1(readBytes());
}

QByteArray SerialPort::readBytes()
{
    return m_port.isOpen() ? m_port.readAll() : QByteArray();
}

void SerialPort::send(const QByteArray &bytes)
{
    if (bytes.isEmpty() || !m_port.isOpen())
        return;
    m_port.write(bytes);
    m_port.flush();
}

void SerialPort::onErrorOccurred(QSerialPort::SerialPortError error)
{
    // The failing call's errno, before anything here can change it.
    const int systemError = errno;
    if (m_opening || !m_open)
        return;
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
        break;
    default:
        // Modem-line requests are not supported on every device (pseudo-terminals
        // among them); those and time-outs are not failures of the line.
        return;
    }
    const QString reason = m_port.errorString();
    m_port.clearError();
    if (m_lost)
        return;
    const bool disconnected = isDisconnect(lossSigns(systemError));
    m_lost = true;
    // The device is gone: let go of it (a hung-up device keeps signalling), but
    // stay open to the caller until it closes the port. Not from inside
    // QSerialPort's own signal, though.
    const quint64 opening = m_openings;
    QMetaObject::invokeMethod(this, [this, opening] {
        if (m_openings == opening && m_lost)
            releaseDevice();
    }, Qt::QueuedConnection);
    emit portLost(reason, disconnected);
}

void SerialPort::tuneOpenedDevice()
{
    const int fd = int(m_port.handle());
    m_lowLatency.enable(fd);
    struct stat st {};
    m_openedDevice = ::fstat(fd, &st) == 0 ? quint64(st.st_rdev) : 0;
}

void SerialPort::releaseDevice()
{
    if (!m_port.isOpen())
        return;
    m_lowLatency.restore(int(m_port.handle()));
    m_port.close();
}

PortLossSigns SerialPort::lossSigns(int error) const
{
    PortLossSigns signs;
    signs.error = error;
    // A hung-up terminal refuses even to tell its settings.
    termios settings {};
    signs.hungUp = m_port.isOpen() && ::tcgetattr(int(m_port.handle()), &settings) != 0 && errno == EIO;
    struct stat st {};
    const QByteArray native = QFile::encodeName(m_devicePath);
    signs.nodeGone = ::stat(native.constData(), &st) != 0
            ? errno == ENOENT || errno == ENOTDIR
            : m_openedDevice != 0 && quint64(st.st_rdev) != m_openedDevice;
    return signs;
}

} // namespace tarvik
