// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

struct stat;

namespace tarvik {

// The rules for every file that Tarvik writes into a folder it does not own
// (the dump's .part, its record, the log): nothing found there is trusted.
// Only a new file, or a regular file of the effective user with one name, is
// written; a link is never followed and a FIFO never waited on.

// Why a directory entry is no place to write through, in words for the user
// ("a symbolic link", "a FIFO", "another user's file" ...); empty for a
// regular file of our own with one name. With `anyOwner`, a regular file of
// another user with one name passes too.
QString whatIsInTheWay(const struct stat &st, bool anyOwner = false);

// A file opened under those rules.
struct OwnFile {
    enum class Error { None, CannotCreate, InTheWay };

    int fd = -1;            // open, non-blocking, close-on-exec; -1 on failure
    bool created = false;   // a new file, made by this call
    Error error = Error::None;
    QString reason;         // what is in the way, or the system's reason
};

// Opens `name` in the folder `folderFd` for `accessMode` (O_WRONLY or
// O_RDWR): the existing entry is looked at without following it, opened
// without following or waiting, and checked again on the open descriptor. A
// new file is created (0666 less the umask) only where there was none and
// when `mayCreate`. The descriptor stays non-blocking; see makeBlocking().
OwnFile openOwnFile(int folderFd, const QByteArray &name, int accessMode, bool mayCreate);

// The folder of a path, opened once so that every look and rename in it goes
// through the same folder whatever happens to the path; -1 with errno set.
// Links in the folder's own path are followed: that path is the user's choice.
int openFolder(const QString &folder);

// The type of the pseudo file system that the folder `folderFd` is on ("proc",
// "sysfs", "devtmpfs" ...), which holds no dump; empty for any other.
QString pseudoFileSystem(int folderFd);

// What stops a dump from being written into `folder`, in words for the user
// ("The output folder /x does not exist."); empty when it can take one. Asked
// before any port is opened, so that a run is not started only to fail at its
// first block. Without `mustWrite`, only that it is a folder.
QString outputFolderProblem(const QString &folder, bool mustWrite = true);
// The same of a folder opened with openFolder() (-1 with errno set when that failed).
QString outputFolderProblem(int folderFd, const QString &folder, bool mustWrite);

// Reads and writes on `fd` wait like those of any file from now on; with
// `append`, writes go to its end. False with errno set.
bool makeBlocking(int fd, bool append);

} // namespace tarvik
