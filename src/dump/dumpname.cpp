// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/dumpname.h"

#include "dump/blockrange.h"
#include "dump/partrecord.h"
#include "dump/protocol.h"
#include "dump/text.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace tarvik::DumpName {

namespace {

const QString HeaderFiller = QStringLiteral("0000000000C");
const QString HeaderEnd = QStringLiteral("x");
const QString PlainSuffix = QStringLiteral(".bin");
const QString ConvSuffix = QStringLiteral("_conv.bin");
const QChar Replacement = u'_';
const QString KeptDateFormat = QStringLiteral("yyyy-MM-dd_HHmmss");

QString digitsOf(const QByteArray &block, int index)
{
    return hexByte(quint8(block.at(index)));
}

// Bytes of a version from the highest index down.
QStringList versionDigits(const QByteArray &block, int offset)
{
    return {digitsOf(block, offset + 2), digitsOf(block, offset + 1), digitsOf(block, offset)};
}

bool isUnsafe(QChar c)
{
    return c == u'/' || isControl(c);
}

qsizetype nameBytes(const QString &name)
{
    return QFile::encodeName(name).size();
}

// One character off the end, a surrogate pair as one.
void chopOne(QString &text)
{
    text.chop(1);
    if (!text.isEmpty() && text.back().isHighSurrogate())
        text.chop(1);
}

} // namespace

bool headerDue(qint16 startBlock, qint16 blockCount, bool headerTicked)
{
    return isFullRead(startBlock, blockCount) && headerTicked;
}

QString headerText(const QString &modelText, const QByteArray &firstBlock)
{
    return HeaderPrefix + versionDigits(firstBlock, protocol::HardwareVersionOffset).join(QString())
           + versionDigits(firstBlock, protocol::SoftwareVersionOffset).join(QString()) + HeaderFiller
           + modelText + HeaderEnd;
}

bool isHeaderPart(const QString &partName)
{
    return partName.endsWith(ConvSuffix + PartSuffix);
}

bool rangeFitsName(const QString &partName, qint16 startBlock, qint16 blockCount, bool header)
{
    const QString stem = PartialReadName.chopped(PlainSuffix.size());
    const bool partialName = partName.startsWith(stem)
                             && (partName.mid(stem.size(), 1) == u"_" || partName.mid(stem.size()) == PlainSuffix + PartSuffix);
    const bool fullRead = isFullRead(startBlock, blockCount);
    if (header && (!isHeaderPart(partName) || !fullRead))
        return false;
    return partialName || fullRead;
}

QString modelText(const QByteArray &firstBlockReply)
{
    const qsizetype end = qMin<qsizetype>(firstBlockReply.size(), protocol::BlockSize);
    if (end <= protocol::ModelOffset)
        return {};
    qsizetype stop = firstBlockReply.indexOf('\0', protocol::ModelOffset);
    if (stop < 0 || stop > end)
        stop = end;
    return QString::fromLatin1(firstBlockReply.constData() + protocol::ModelOffset, stop - protocol::ModelOffset);
}

QString modelName(const QString &modelText)
{
    if (modelText.isEmpty() || modelText.size() > MaxModelChars)
        return {};
    for (const QChar c : modelText) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return {};
    }
    return modelText;
}

qint64 headerLength(const QByteArray &head)
{
    if (!head.startsWith(HeaderPrefix.toLatin1()))
        return -1;
    const qint64 most = qMin<qint64>(protocol::BlockSize - protocol::ModelOffset,
                                     head.size() - HeaderFixedBytes - protocol::ModelOffset - 1);
    for (qint64 m = 0; m <= most; ++m) {
        if (head.at(HeaderModelOffset + m) != 'x')
            continue;
        const qint64 block0 = HeaderFixedBytes + m;
        const QByteArray model = head.mid(HeaderModelOffset, m);
        const qint64 modelEnd = block0 + protocol::ModelOffset + m;
        if (head.mid(block0 + protocol::ModelOffset, m) == model
            && (m == protocol::BlockSize - protocol::ModelOffset
                || (modelEnd < head.size() && head.at(modelEnd) == '\0')))
            return block0;
    }
    return -1;
}

qint64 blocksOffset(qint64 size, const QByteArray &head, qint16 startBlock, qint16 blockCount)
{
    const qint64 whole = qint64(protocol::FullReadBlocks) * protocol::BlockSize;
    const bool inFlash = startBlock + blockCount <= protocol::FullReadBlocks;
    if (inFlash && size == whole)
        return qint64(startBlock) * protocol::BlockSize;
    if (const qint64 header = headerLength(head); inFlash && header > 0 && size == header + whole)
        return header + qint64(startBlock) * protocol::BlockSize;
    if (size == qint64(blockCount) * protocol::BlockSize)
        return 0;
    return -1;
}

QString hardwareVersion(const QByteArray &firstBlock)
{
    return versionDigits(firstBlock, protocol::HardwareVersionOffset).join(u'.');
}

QString softwareVersion(const QByteArray &firstBlock)
{
    return versionDigits(firstBlock, protocol::SoftwareVersionOffset).join(u'.');
}

QString safeNamePart(const QString &modelText)
{
    QString part = modelText;
    for (QChar &c : part) {
        if (isUnsafe(c))
            c = Replacement;
    }
    // A name that begins with a dot is hidden in the folder.
    for (QChar &c : part) {
        if (c != u'.')
            break;
        c = Replacement;
    }
    return part.isEmpty() ? UnnamedModel : part;
}

QString fileName(qint16 startBlock, qint16 blockCount, bool headerTicked, const QString &modelText,
                 const QByteArray &firstBlock, const QString &tag)
{
    QString stem = PartialReadName.chopped(PlainSuffix.size());
    QString suffix = PlainSuffix;
    const bool fullRead = isFullRead(startBlock, blockCount);
    if (fullRead) {
        stem = safeNamePart(modelName(modelText));
        if (headerTicked) {
            suffix = QStringLiteral("_HW") + hardwareVersion(firstBlock) + QStringLiteral("_SW")
                     + softwareVersion(firstBlock) + ConvSuffix;
        }
    }

    // The model part gives way, then the tag, so that the whole name, as
    // received, fits in one directory entry.
    QString tail = tag;
    const auto tooLong = [&] {
        return nameBytes(stem + tail + suffix + PartSuffix + PartRecord::Suffix) > MaxNameBytes;
    };
    while (fullRead && !stem.isEmpty() && tooLong())
        chopOne(stem);
    while (!tail.isEmpty() && tooLong())
        chopOne(tail);
    return stem + tail + suffix;
}

QString keptName(const QString &name, const QDateTime &written, int attempt)
{
    QString stem = name;
    QString suffix;
    if (name.endsWith(PlainSuffix)) {
        stem.chop(PlainSuffix.size());
        suffix = PlainSuffix;
    }
    QString mark = u'.' + written.toString(KeptDateFormat);
    if (attempt > 1)
        mark += u'-' + QString::number(attempt);
    while (!stem.isEmpty() && nameBytes(stem + mark + suffix) > MaxNameBytes)
        chopOne(stem);
    return stem + mark + suffix;
}

QString expandFolder(const QString &folderText)
{
    if (folderText == u"~")
        return QDir::homePath();
    if (folderText.startsWith(u"~/"))
        return QDir::homePath() + folderText.mid(1);
    return folderText;
}

QString joinPath(const QString &folderText, const QString &name)
{
    const QString folder = expandFolder(folderText);
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

} // namespace tarvik::DumpName
