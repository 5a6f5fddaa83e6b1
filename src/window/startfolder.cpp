// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/startfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace tarvik {

namespace {

bool isSameOrUnder(const QString &folder, const QString &top)
{
    const QString clean = QDir::cleanPath(top);
    if (clean.isEmpty() || clean == QLatin1String("/"))
        return false;
    return folder == clean || folder.startsWith(clean + u'/');
}

} // namespace

MachineFolders machineFolders()
{
    return {QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation), QDir::homePath()};
}

bool isInstallFolder(const QString &folder)
{
    const QString path = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (path == QDir::cleanPath(QStringLiteral(TARVIK_BUILD_BIN_DIR)))
        return false;
    for (const char *top : {"/usr", "/opt", "/bin", "/sbin", "/snap", TARVIK_INSTALL_PREFIX}) {
        if (isSameOrUnder(path, QString::fromUtf8(top)))
            return true;
    }
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    return parts.contains(QLatin1String("usr")) || parts.contains(QLatin1String("opt"));
}

QString startFolder(const MachineFolders &folders)
{
    const auto writable = [](const QString &folder) {
        return !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
    };
    if (writable(folders.program) && !isInstallFolder(folders.program))
        return folders.program;
    if (!folders.documents.isEmpty() && QFileInfo(folders.documents).isDir())
        return folders.documents;
    return folders.home;
}

} // namespace tarvik
