// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace tarvik {

// The LCK..<name> file that tells programs which still look in the lock folder
// that a serial port is taken. Anybody may put anything into that folder and
// swap it at any moment: the file is made new there, never through a link and
// never waiting on what is in the way, holds our process id, and is removed
// again on release, wherever in the folder it was moved meanwhile. A lock
// whose process is gone is replaced only when it is a plain file of one name.
class PortLock
{
public:
    enum class Result {
        Taken,
        NoFolder,   // the folder is missing or takes no file from us: the port goes without
        Held,       // a live process holds it (holderPid())
        InTheWay,   // something other than a lock file is there (reason())
    };

    PortLock() = default;
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;
    ~PortLock();

    // Takes the lock of `device` (its real path) in `folder`, after releasing any held before.
    Result take(const QString &folder, const QString &device);
    void release();
    bool isTaken() const { return m_fd >= 0; }

    QString reason() const { return m_reason; }
    qint64 holderPid() const { return m_holderPid; }

private:
    // What is at the lock's name now: a live holder, something in the way,
    // or a stale lock that was removed (true).
    bool clearStale(const QByteArray &name, Result *result);
    void closeFolder();

    int m_folderFd = -1;
    int m_fd = -1;
    QByteArray m_name;
    QString m_path;
    QString m_reason;
    qint64 m_holderPid = 0;
};

} // namespace tarvik
