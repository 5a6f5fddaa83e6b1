// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/portlock.h"

#include "dump/ownfile.h"
#include "dump/portinfo.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

bool sameInode(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool isAlive(qint64 pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

// The name in `folderFd` of the file `st`: `name` when it is still there,
// else whatever name it was given in the folder since; empty when none.
QByteArray entryOf(int folderFd, const QByteArray &name, const struct stat &st)
{
    struct stat there {};
    if (::fstatat(folderFd, name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(there, st))
        return name;
    const int listFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return {};
    DIR *dir = ::fdopendir(listFd);
    if (!dir) {
        ::close(listFd);
        return {};
    }
    QByteArray found;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_ino == st.st_ino) {
            found = entry->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Removes every name that the open file `fd` has in `folderFd`. Another
// process may swap names in the folder meanwhile: a name is first moved
// aside to one of our own and removed only when it is still our file there.
void removeEntriesOf(int folderFd, int fd, const QByteArray &name)
{
    const QByteArray prefix = '.' + name + '.' + QByteArray::number(qint64(::getpid())) + ".released.";
    struct stat st {};
    for (int attempt = 0; attempt < 100 && ::fstat(fd, &st) == 0 && st.st_nlink > 0; ++attempt) {
        // A name of its own each time: one that could not be put back keeps the last.
        const QByteArray aside = prefix + QByteArray::number(attempt);
        const QByteArray entry = entryOf(folderFd, name, st);
        if (entry.isEmpty()
            || ::renameat2(folderFd, entry.constData(), folderFd, aside.constData(), RENAME_NOREPLACE) != 0)
            continue;
        struct stat there {};
        if (::fstatat(folderFd, aside.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(there, st))
            ::unlinkat(folderFd, aside.constData(), 0);
        else // not ours after all: back where it was
            ::renameat2(folderFd, aside.constData(), folderFd, entry.constData(), RENAME_NOREPLACE);
    }
}

} // namespace

PortLock::~PortLock()
{
    release();
}

PortLock::Result PortLock::take(const QString &folder, const QString &device)
{
    release();
    m_reason.clear();
    m_holderPid = 0;
    // The folder's own path is the system's (or the tests'): its links are followed.
    m_folderFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folderFd < 0)
        return Result::NoFolder;
    const QString name = lockFileName(device);
    m_name = QFile::encodeName(name);
    m_path = folder + u'/' + name;

    // Twice at most: once more after a stale lock was removed.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = ::openat(m_folderFd, m_name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // Readable by every program that looks, whatever the umask.
            ::fchmod(fd, 0644);
            const QByteArray text = QByteArray::number(qint64(::getpid())).rightJustified(10, ' ') + '\n';
            [[maybe_unused]] const ssize_t n = ::write(fd, text.constData(), size_t(text.size()));
            m_fd = fd;
            return Result::Taken;
        }
        if (errno != EEXIST) {
            closeFolder();
            return Result::NoFolder;
        }
        Result result = Result::Held;
        if (!clearStale(m_name, &result)) {
            closeFolder();
            return result;
        }
    }
    closeFolder();
    return Result::Held;
}

bool PortLock::clearStale(const QByteArray &name, Result *result)
{
    struct stat st {};
    if (::fstatat(m_folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    const auto inTheWay = [&](const struct stat &what) {
        m_reason = QStringLiteral("%1 is %2, not a lock file: remove it (it belongs to uid %3)")
                           .arg(m_path, whatIsInTheWay(what, true))
                           .arg(what.st_uid);
        *result = Result::InTheWay;
        return false;
    };
    if (!whatIsInTheWay(st, true).isEmpty())
        return inTheWay(st);
    const int fd = ::openat(m_folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    struct stat opened {};
    QByteArray text;
    if (::fstat(fd, &opened) == 0) {
        if (!whatIsInTheWay(opened, true).isEmpty()) {
            ::close(fd);
            return inTheWay(opened);
        }
        text.resize(128);
        const ssize_t n = ::read(fd, text.data(), size_t(text.size()));
        text.resize(n > 0 ? n : 0);
    }
    ::close(fd);
    const qint64 pid = lockFilePid(text);
    if (pid > 0 && pid != qint64(::getpid()) && isAlive(pid)) {
        m_holderPid = pid;
        *result = Result::Held;
        return false;
    }
    // Stale: its process is gone. Removed only while it is still the file read.
    struct stat now {};
    if (::fstatat(m_folderFd, name.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0 && sameInode(now, opened)
        && ::unlinkat(m_folderFd, name.constData(), 0) != 0 && errno != ENOENT) {
        m_reason = QStringLiteral("%1 is a stale lock file (the process it names is gone) that this user may not "
                                  "remove: remove it (it belongs to uid %2)")
                           .arg(m_path)
                           .arg(opened.st_uid);
        *result = Result::InTheWay;
        return false;
    }
    return true;
}

void PortLock::release()
{
    if (m_fd >= 0) {
        removeEntriesOf(m_folderFd, m_fd, m_name);
        ::close(m_fd);
        m_fd = -1;
    }
    closeFolder();
}

void PortLock::closeFolder()
{
    if (m_folderFd >= 0)
        ::close(m_folderFd);
    m_folderFd = -1;
}

} // namespace tarvik
