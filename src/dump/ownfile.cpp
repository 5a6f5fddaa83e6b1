// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/ownfile.h"

#include "dump/text.h"

#include <QFile>
#include <QList>

#include <cerrno>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvik {

QString whatIsInTheWay(const struct stat &st, bool anyOwner)
{
    if (S_ISLNK(st.st_mode))
        return QStringLiteral("a symbolic link");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a FIFO");
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("not a regular file");
    if (!anyOwner && st.st_uid != ::geteuid())
        return QStringLiteral("another user's file");
    if (st.st_nlink != 1)
        return QStringLiteral("a file with more than one name (a hard link)");
    return {};
}

OwnFile openOwnFile(int folderFd, const QByteArray &name, int accessMode, bool mayCreate)
{
    OwnFile result;
    const auto fail = [&result](OwnFile::Error error, const QString &reason) {
        if (result.fd >= 0)
            ::close(result.fd);
        result.fd = -1;
        result.created = false;
        result.error = error;
        result.reason = reason;
        return result;
    };
    const int flags = accessMode | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

    // What is there is looked at before it is opened, and again once it is.
    // A name that changes under us three times running is given up on.
    struct stat st {};
    for (int tries = 0; result.fd < 0 && tries < 3; ++tries) {
        if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT || !mayCreate)
                return fail(OwnFile::Error::CannotCreate, systemReason(errno));
            result.fd = ::openat(folderFd, name.constData(), flags | O_CREAT | O_EXCL, 0666);
            if (result.fd < 0 && errno != EEXIST)
                return fail(OwnFile::Error::CannotCreate, systemReason(errno));
            result.created = result.fd >= 0;
            continue;
        }
        if (const QString what = whatIsInTheWay(st); !what.isEmpty())
            return fail(OwnFile::Error::InTheWay, what);
        result.fd = ::openat(folderFd, name.constData(), flags);
        if (result.fd < 0 && errno != ENOENT) {
            if (errno == ELOOP)
                return fail(OwnFile::Error::InTheWay, QStringLiteral("a symbolic link"));
            if (errno == ENXIO)
                return fail(OwnFile::Error::InTheWay, QStringLiteral("a FIFO"));
            return fail(OwnFile::Error::CannotCreate, systemReason(errno));
        }
    }
    if (result.fd < 0)
        return fail(OwnFile::Error::CannotCreate, systemReason(EEXIST));

    struct stat opened {};
    if (::fstat(result.fd, &opened) != 0)
        return fail(OwnFile::Error::CannotCreate, systemReason(errno));
    if (const QString what = whatIsInTheWay(opened); !what.isEmpty())
        return fail(OwnFile::Error::InTheWay, what);
    return result;
}

int openFolder(const QString &folder)
{
    return ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

QString pseudoFileSystem(int folderFd)
{
    static const QList<QByteArray> pseudo = {
            "proc",   "sysfs",  "devtmpfs",    "devpts", "cgroup",   "cgroup2",  "debugfs",  "tracefs",
            "securityfs", "pstore", "bpf", "configfs", "fusectl", "efivarfs", "mqueue", "binfmt_misc",
            "nsfs",   "selinuxfs", "hugetlbfs", "rpc_pipefs", "autofs"};
    struct stat st {};
    if (::fstat(folderFd, &st) != 0)
        return {};
    // The mount table names the type of the file system that the folder is on.
    QFile mounts(QStringLiteral("/proc/self/mountinfo"));
    if (mounts.open(QIODevice::ReadOnly)) {
        const QByteArray device = QByteArray::number(major(st.st_dev)) + ':' + QByteArray::number(minor(st.st_dev));
        for (const QByteArray &line : mounts.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split(' ');
            const qsizetype dash = fields.indexOf("-");
            if (fields.size() < 3 || fields.at(2) != device || dash < 0 || dash + 1 >= fields.size())
                continue;
            const QByteArray type = fields.at(dash + 1);
            return pseudo.contains(type) ? QString::fromLatin1(type) : QString();
        }
    }
    // Without a mount table, the two that matter most.
    struct statfs fs {};
    if (::fstatfs(folderFd, &fs) == 0) {
        if (fs.f_type == PROC_SUPER_MAGIC)
            return QStringLiteral("proc");
        if (fs.f_type == SYSFS_MAGIC)
            return QStringLiteral("sysfs");
    }
    return {};
}

QString outputFolderProblem(const QString &folder, bool mustWrite)
{
    if (folder.isEmpty())
        return QStringLiteral("The output folder %1 does not exist.").arg(folder);
    const int fd = openFolder(folder);
    if (fd < 0)
        return outputFolderProblem(-1, folder, mustWrite);
    const QString problem = outputFolderProblem(fd, folder, mustWrite);
    ::close(fd);
    return problem;
}

QString outputFolderProblem(int folderFd, const QString &folder, bool mustWrite)
{
    if (folderFd < 0) {
        const int error = errno;
        if (error == ENOENT || folder.isEmpty())
            return QStringLiteral("The output folder %1 does not exist.").arg(folder);
        if (error == ENOTDIR)
            return QStringLiteral("%1 is not a folder.").arg(folder);
        return QStringLiteral("Cannot open the output folder %1: %2").arg(folder, systemReason(error));
    }
    if (const QString pseudo = mustWrite ? pseudoFileSystem(folderFd) : QString(); !pseudo.isEmpty())
        return QStringLiteral("The output folder %1 is on %2, which only shows what the kernel makes up: "
                              "choose a folder on a disk.").arg(folder, pseudo);
    // With the effective user's rights, as the dump file is made; a read-only
    // file system says so even to root.
    const int writable = !mustWrite || ::faccessat(folderFd, ".", W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
    if (writable != 0)
        return QStringLiteral("Cannot write into the output folder %1: %2").arg(folder, systemReason(writable));
    return {};
}

bool makeBlocking(int fd, bool append)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1)
        return false;
    return ::fcntl(fd, F_SETFL, (flags & ~O_NONBLOCK) | (append ? O_APPEND : 0)) == 0;
}

} // namespace tarvik
