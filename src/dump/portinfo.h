// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tarvik {

// The folder where a serial port's lock file (LCK..ttyUSB0) is made and looked
// for: $TARVIK_LOCK_FOLDER when set (the tests' own), else /run/lock, else
// /var/lock.
QString serialLockFolder();

// Where the system tells about its devices and processes. Tests hand in a
// tree of their own.
struct SystemFolders {
    QString sysfs = QStringLiteral("/sys");
    QString byId = QStringLiteral("/dev/serial/by-id");
    QString proc = QStringLiteral("/proc");
    QStringList locks = defaultLockFolders();

    // The lock folder above and, where it is the system's, the other name it goes by.
    static QStringList defaultLockFolders();
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
    // does not have the device open, that process and its command name; or,
    // with `lockUnseen`, one whose descriptors this user may not see.
    QString lockFile;
    qint64 lockPid = 0;
    QString lockName;
    bool lockUnseen = false;

    bool isFound() const { return pid > 0; }
};

// The process, other than `ownPid`, that holds the device at `devicePath`: the
// one named by a lock file (LCK..ttyUSB0) when it is alive and has the device
// open, else one that has the device open among the processes whose
// descriptors we may see. A live process named by a lock file that does not
// hold the device, or whose descriptors cannot be seen, is told of as such.
PortHolder findPortHolder(const QString &devicePath, qint64 ownPid, const SystemFolders &folders = {});

// Another process, other than `ownPid`, that has the device open beside us,
// among those whose descriptors we may see; a pseudo-terminal's far end (the
// process holding its master side) does not count.
PortHolder findPortSharer(const QString &devicePath, qint64 ownPid, const SystemFolders &folders = {});

// The name of a device's lock file: "LCK..ttyUSB0", "LCK..pts_3".
QString lockFileName(const QString &device);
// The lock file of a device in serialLockFolder().
QString serialLockPath(const QString &devicePath);
// The process id that a lock file's text names, written the UUCP way
// ("      4711\n") or as QLockFile does ("4711\nminicom\nhost"); 0 for none.
qint64 lockFilePid(const QByteArray &text);

} // namespace tarvik
