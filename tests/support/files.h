// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

// A whole file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes the file anew; with `written`, that is its modification time.
inline bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &written = QDateTime())
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.flush())
        return false;
    return !written.isValid() || f.setFileTime(written, QFileDevice::FileModificationTime);
}

// The names of a folder's entries without the records that stopped dumps keep
// beside their .part ("X.part.state" where "X.part" is there too): what the
// run left for the user to see. A record without its .part stays listed.
inline QStringList withoutPartRecords(const QStringList &names)
{
    QStringList shown;
    for (const QString &name : names) {
        const QString suffix = QStringLiteral(".part.state");
        if (!(name.endsWith(suffix) && names.contains(name.chopped(6))))
            shown << name;
    }
    return shown;
}
