// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik {

// Where the system tells about its devices and processes. Tests hand in a
// tree of their own.
struct SystemFolders {
    QString sysfs = QStringLiteral("/sys");
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString proc = QStringLiteral("/proc");
    QStringList locks = {QStringLiteral("/run/lock"), QStringLiteral("/var/lock")};
};

// Text that comes from a device or another process, fit for a terminal or a
// message box: control characters, line and paragraph separators and bidi
// controls removed, the rest kept.
QString plainText(const QString &outside);

// Whether two paths reach the same file once links are followed: the same
// device for device nodes, else the same file system and inode. Paths that do
// not exist are compared by their absolute, cleaned form.
bool sameFile(const QString &a, const QString &b);

// What the system knows about a serial port; empty where it knows nothing.
struct PortDetails {
    QString device;       // e.g. /dev/ttyUSB0
    QString byId;         // the /dev/serial/by-id link to it
    QString vendorId;     // USB idVendor, e.g. "0403"
    QString productId;    // USB idProduct, e.g. "6001"
    QString manufacturer; // the USB strings, as the device sends them
    QString product;
    QString serialNumber;
};

// The details of each device, from the sysfs tree and the by-id folder in `folders`.
QList<PortDetails> collectPortDetails(const QStringList &devices, const SystemFolders &folders = {});

// A process that holds a device open.
struct PortHolder {
    qint64 pid = 0;
    QString name; // its command name, as plain text
    // When no holder is found: a lock file that names a live process which
    // does not have the device open, that process and its command name.
    QString lockFile;
    qint64 lockPid = 0;
    QString lockName;

    bool isFound() const { return pid > 0; }
};

// The process, other than `ownPid`, that holds the device at `devicePath`: the
// one named by a lock file (LCK..ttyUSB0) when it is alive and has the device
// open (or its descriptors cannot be seen), else one that has the device open
// among the processes whose descriptors we may see.
PortHolder findPortHolder(const QString &devicePath, qint64 ownPid, const SystemFolders &folders = {});

// Another process, other than `ownPid`, that has the device open beside us,
// among those whose descriptors we may see; a pseudo-terminal's far end (the
// process holding its master side) does not count.
PortHolder findPortSharer(const QString &devicePath, qint64 ownPid, const SystemFolders &folders = {});

// The folders where Qt's serial port looks for a device's lock file, in its order.
QStringList serialLockFolders();
// The lock file that opening the device will use: in the first of `folders`
// that may be read and where it is, or may be made; its folder's links
// resolved. Empty when there is none.
QString serialLockPath(const QString &devicePath, const QStringList &folders = serialLockFolders());
// Why the entry at a lock file's path must not be opened as one ("… is a FIFO,
// not a lock file: remove it (it belongs to uid 1001)"); empty when there is
// none or it is a regular file with one name.
QString lockFileInTheWay(const QString &lockPath);

} // namespace tarvik
