// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/serialport.h"

#include "dump/openfailure.h"
#include "dump/portinfo.h"
#include "dump/text.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

constexpr qsizetype ReadChunk = 4096;

// The system's code for a line speed; 0 when it has none.
speed_t speedCode(qint32 baud)
{
    static const struct {
        qint32 baud;
        speed_t code;
    } speeds[] = {{50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
                  {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
                  {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
                  {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
                  {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
    for (const auto &s : speeds) {
        if (s.baud == baud)
            return s.code;
    }
    return 0;
}

} // namespace

SerialPort::SerialPort(QObject *parent)
    : SerialService(parent)
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    connect(&m_readNotifier, &QSocketNotifier::activated, this, &SerialPort::onReadable);
    connect(&m_writeNotifier, &QSocketNotifier::activated, this, &SerialPort::writePending);
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
}

void SerialPort::setDevice(const QString &path)
{
    m_device = path;
}

void SerialPort::close()
{
    if (!m_open)
        return;
    // What was sent last goes out before the line is put back.
    if (m_fd >= 0 && !m_lost)
        writePending();
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
    if (::stat(native.constData(), &st) != 0 || ::access(native.constData(), R_OK | W_OK) != 0) {
        const int error = errno;
        m_errorString = systemReason(error);
        return openErrorFromErrno(error);
    }
    if (!S_ISCHR(st.st_mode)) {
        m_errorString = systemReason(ENOTTY);
        return OpenError::Other;
    }
    if (speedCode(m_settings.baudRate) == 0) {
        m_errorString = QStringLiteral("Invalid speed %1").arg(m_settings.baudRate);
        return OpenError::Other;
    }

    // The real device, so that a link and its target share one lock file.
    const QString canonical = QFileInfo(m_devicePath).canonicalFilePath();
    const OpenError error = openDevice(native, canonical.isEmpty() ? m_devicePath : canonical);
    if (error != OpenError::None) {
        releaseDevice();
        return error;
    }
    m_open = true;
    m_lost = false;
    ++m_openings;
    return OpenError::None;
}

SerialService::OpenError SerialPort::openDevice(const QByteArray &native, const QString &lockName)
{
    // Without waiting for a carrier; it stays non-blocking.
    m_fd = ::open(native.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        const int error = errno;
        m_errorString = systemReason(error);
        return openErrorFromErrno(error);
    }
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || !S_ISCHR(st.st_mode) || ::tcgetattr(m_fd, &m_savedLine) != 0) {
        m_errorString = systemReason(ENOTTY);
        return OpenError::Other;
    }
    m_openedDevice = quint64(st.st_rdev);
    m_lineSaved = true;
    // Another program that keeps the port to itself with flock() has it.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        m_errorString = systemReason(EBUSY);
        return OpenError::Busy;
    }
    switch (m_lock.take(m_lockFolder.isEmpty() ? serialLockFolder() : m_lockFolder, lockName)) {
    case PortLock::Result::Taken:
    case PortLock::Result::NoFolder:
        break;
    case PortLock::Result::Held:
        m_errorString = systemReason(EBUSY);
        return OpenError::Busy;
    case PortLock::Result::InTheWay:
        m_errorString = m_lock.reason();
        return OpenError::LockInTheWay;
    }
    int exclusive = 0;
    if (::ioctl(m_fd, TIOCGEXCL, &exclusive) == 0 && !exclusive)
        m_exclusiveHere = ::ioctl(m_fd, TIOCEXCL) == 0;
    if (!applyLine(m_fd)) {
        m_errorString = systemReason(errno);
        return OpenError::Other;
    }
    m_lowLatency.enable(m_fd);
    m_in.clear();
    m_out.clear();
    m_readNotifier.setSocket(m_fd);
    m_writeNotifier.setSocket(m_fd);
    m_readNotifier.setEnabled(true);
    return OpenError::None;
}

bool SerialPort::applyLine(int fd)
{
    termios line = m_savedLine;
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (m_settings.dataBits) {
    case QSerialPort::Data5: line.c_cflag |= CS5; break;
    case QSerialPort::Data6: line.c_cflag |= CS6; break;
    case QSerialPort::Data7: line.c_cflag |= CS7; break;
    default: line.c_cflag |= CS8; break;
    }
    switch (m_settings.parity) {
    case QSerialPort::EvenParity: line.c_cflag |= PARENB; break;
    case QSerialPort::OddParity: line.c_cflag |= PARENB | PARODD; break;
    case QSerialPort::SpaceParity: line.c_cflag |= PARENB | CMSPAR; break;
    case QSerialPort::MarkParity: line.c_cflag |= PARENB | CMSPAR | PARODD; break;
    default: break;
    }
    if (m_settings.stopBits == QSerialPort::TwoStop)
        line.c_cflag |= CSTOPB;
    line.c_iflag &= ~(IXON | IXOFF | IXANY);
    // A read waits for one byte at least, so that an end of file is a hang-up.
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    const speed_t speed = speedCode(m_settings.baudRate);
    return ::cfsetispeed(&line, speed) == 0 && ::cfsetospeed(&line, speed) == 0
           && ::tcsetattr(fd, TCSANOW, &line) == 0;
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
    if (m_fd < 0)
        return;
    ::tcflush(m_fd, TCIFLUSH);
    m_in.clear();
    resumeReading();
}

int SerialPort::bytesWaiting() const
{
    return int(m_in.size());
}

QString SerialPort::readText()
{
    return QString::fromLatin1(readBytes());
}

QByteArray SerialPort::readBytes()
{
    const QByteArray bytes = std::exchange(m_in, QByteArray());
    resumeReading();
    return bytes;
}

void SerialPort::send(const QByteArray &bytes)
{
    if (bytes.isEmpty() || m_fd < 0 || m_lost)
        return;
    m_out.append(bytes);
    writePending();
}

void SerialPort::resumeReading()
{
    if (m_fd >= 0 && !m_lost && !m_readNotifier.isEnabled())
        m_readNotifier.setEnabled(true);
}

void SerialPort::onReadable()
{
    if (m_fd < 0 || m_lost)
        return;
    const qsizetype before = m_in.size();
    for (;;) {
        qsizetype room = ReadChunk;
        if (m_readBufferSize > 0) {
            room = qMin(room, qsizetype(m_readBufferSize) - m_in.size());
            if (room <= 0) {
                // Full: the kernel keeps the rest until the run takes these.
                m_readNotifier.setEnabled(false);
                break;
            }
        }
        const qsizetype at = m_in.size();
        m_in.resize(at + room);
        const ssize_t n = ::read(m_fd, m_in.data() + at, size_t(room));
        const int error = errno;
        m_in.resize(at + qMax<qsizetype>(0, n));
        if (n == room)
            continue;
        // Less than there was room for: the driver has nothing more now.
        if (n > 0)
            break;
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK))
            break;
        deviceFailed(n == 0 ? 0 : error);
        return;
    }
    if (m_in.size() > before)
        emit readyRead();
}

void SerialPort::writePending()
{
    while (m_fd >= 0 && !m_lost && !m_out.isEmpty()) {
        const ssize_t n = ::write(m_fd, m_out.constData(), size_t(m_out.size()));
        if (n > 0) {
            m_out.remove(0, n);
            continue;
        }
        const int error = errno;
        if (n < 0 && error == EINTR)
            continue;
        if (n < 0 && (error == EAGAIN || error == EWOULDBLOCK)) {
            m_writeNotifier.setEnabled(true);
            return;
        }
        deviceFailed(n < 0 ? error : EIO);
        return;
    }
    m_writeNotifier.setEnabled(false);
}

void SerialPort::deviceFailed(int error)
{
    if (m_lost)
        return;
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    const QString reason = systemReason(error != 0 ? error : EIO);
    const bool disconnected = isDisconnect(lossSigns(error));
    m_lost = true;
    m_out.clear();
    // The device is gone: let go of it (a hung-up device keeps signalling), but
    // stay open to the caller until it closes the port. Not from inside a
    // notifier's own signal, though.
    const quint64 opening = m_openings;
    QMetaObject::invokeMethod(this, [this, opening] {
        if (m_openings == opening && m_lost)
            releaseDevice();
    }, Qt::QueuedConnection);
    emit portLost(reason, disconnected);
}

void SerialPort::releaseDevice()
{
    m_readNotifier.setEnabled(false);
    m_writeNotifier.setEnabled(false);
    m_readNotifier.setSocket(-1);
    m_writeNotifier.setSocket(-1);
    m_in.clear();
    m_out.clear();
    if (m_fd >= 0) {
        m_lowLatency.restore(m_fd);
        if (m_lineSaved)
            ::tcsetattr(m_fd, TCSANOW, &m_savedLine);
        if (m_exclusiveHere)
            ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }
    m_fd = -1;
    m_lineSaved = false;
    m_exclusiveHere = false;
    m_lock.release();
}

PortLossSigns SerialPort::lossSigns(int error) const
{
    PortLossSigns signs;
    signs.error = error;
    // A hung-up terminal refuses even to tell its settings.
    termios settings {};
    signs.hungUp = m_fd >= 0 && ::tcgetattr(m_fd, &settings) != 0 && errno == EIO;
    struct stat st {};
    const QByteArray native = QFile::encodeName(m_devicePath);
    signs.nodeGone = ::stat(native.constData(), &st) != 0
            ? errno == ENOENT || errno == ENOTDIR
            : m_openedDevice != 0 && quint64(st.st_rdev) != m_openedDevice;
    return signs;
}

} // namespace tarvik
