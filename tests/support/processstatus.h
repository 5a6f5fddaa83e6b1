// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What Linux tells about this process, for the soak and the fuzz replay that
// watch it over many runs.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

// A field of /proc/self/status ("VmRSS", "VmHWM", ...), as it stands there.
inline QString statusField(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return QString::fromLatin1(line.mid(key.size()).simplified());
    }
    return {};
}

inline int openDescriptors()
{
    // The listing itself holds one descriptor while it reads.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size()) - 1;
}
