// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/commandline.h"

#include "cli/options.h"
#include "dump/blockrange.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

namespace tarvik::cli {

QString shellWord(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,@%-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    return u'\'' + QString(word).replace(QStringLiteral("'"), QStringLiteral("'\\''")) + u'\'';
}

QString resumeCommand(const QString &device, const QString &partPath)
{
    return QStringLiteral("tarvik-dump -p %1 --resume %2").arg(shellWord(device), shellWord(partPath));
}

QString runCommand(const Options &options, const QString &device, const QString &resumePart, bool restart)
{
    QStringList words{QStringLiteral("tarvik-dump"), QStringLiteral("-p"), device};
    if (!resumePart.isEmpty()) {
        words << QStringLiteral("--resume") << QFileInfo(resumePart).absoluteFilePath();
    } else {
        words << QStringLiteral("-o") << QDir(options.outputFolder).absolutePath();
        if (!options.verifyPath.isEmpty())
            words << QStringLiteral("--verify") << QFileInfo(options.verifyPath).absoluteFilePath();
        if (options.header)
            words << QStringLiteral("--header");
        if (restart)
            words << QStringLiteral("--restart");
    }
    if (!isFullRead(options.startBlock, options.blockCount))
        words << QStringLiteral("--start") << QString::number(options.startBlock) << QStringLiteral("--count")
              << QString::number(options.blockCount);
    QStringList quoted;
    for (const QString &word : std::as_const(words))
        quoted << shellWord(word);
    return quoted.join(u' ');
}

} // namespace tarvik::cli
