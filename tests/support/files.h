// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

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
