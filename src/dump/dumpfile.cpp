// SPDX-License-Identifier: GPL-3.0-or-later
#include "dumpfile.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

const QString HeaderFiller = QStringLiteral("0000000000C");
const QString HeaderEnd = QStringLiteral("x");
const QString PlainSuffix = QStringLiteral(".bin");
const QString ConvSuffix = QStringLiteral("_conv.bin");
const QChar Replacement = u'_';
const QString InUseReason = QStringLiteral("another Tarvik is writing it right now");

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Makes a rename in the folder last across a crash. A folder that cannot be
// synced still holds the renamed file; there is nothing better to do then.
void syncFolder(const QString &filePath)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(filePath).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

QString hexByte(const QByteArray &block, int index)
{
    return QStringLiteral("%1").arg(uchar(block.at(index)), 2, 16, QLatin1Char('0')).toUpper();
}

// Bytes of a version from the highest index down.
QStringList versionDigits(const QByteArray &block, int offset)
{
    return {hexByte(block, offset + 2), hexByte(block, offset + 1), hexByte(block, offset)};
}

bool isUnsafe(QChar c)
{
    const char16_t u = c.unicode();
    return u == u'/' || u < 0x20 || (u >= 0x7F && u <= 0x9F);
}

} // namespace

DumpFile::DumpFile()
    : m_opener([](const QString &path) { return std::make_unique<QFile>(path); })
{
}

DumpFile::~DumpFile() = default;

void DumpFile::setOpener(Opener opener)
{
    m_opener = std::move(opener);
}

bool DumpFile::headerDue(qint16 startBlock, qint16 blockCount, bool headerTicked)
{
    return startBlock == 0 && blockCount == FullReadBlocks && headerTicked;
}

QString DumpFile::modelText(const QByteArray &firstBlockReply)
{
    const qsizetype end = qMin<qsizetype>(firstBlockReply.size(), BlockSize);
    if (end <= ModelOffset)
        return {};
    qsizetype stop = firstBlockReply.indexOf('\0', ModelOffset);
    if (stop < 0 || stop > end)
        stop = end;
    return QString::fromLatin1(firstBlockReply.constData() + ModelOffset, stop - ModelOffset);
}

QString DumpFile::safeNamePart(const QString &modelText)
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

QString DumpFile::expandFolder(const QString &folderText)
{
    if (folderText == u"~")
        return QDir::homePath();
    if (folderText.startsWith(u"~/"))
        return QDir::homePath() + folderText.mid(1);
    return folderText;
}

QString DumpFile::joinPath(const QString &folderText, const QString &name)
{
    const QString folder = expandFolder(folderText);
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

QString DumpFile::fileName(qint16 startBlock, qint16 blockCount, bool headerTicked,
                           const QString &modelText, const QByteArray &firstBlock)
{
    if (startBlock != 0 || blockCount != FullReadBlocks)
        return PartialReadName;

    QString suffix = PlainSuffix;
    if (headerTicked) {
        const QStringList hw = versionDigits(firstBlock, HardwareVersionOffset);
        const QStringList sw = versionDigits(firstBlock, SoftwareVersionOffset);
        suffix = QStringLiteral("_HW") + hw.join(u'.') + QStringLiteral("_SW") + sw.join(u'.')
                 + ConvSuffix;
    }

    // The model part gives way so that the whole name, as received, fits in one
    // directory entry.
    QString part = safeNamePart(modelText);
    const qsizetype suffixBytes = QFile::encodeName(suffix + PartSuffix).size();
    while (!part.isEmpty() && QFile::encodeName(part).size() + suffixBytes > MaxNameBytes) {
        part.chop(1);
        if (!part.isEmpty() && part.back().isHighSurrogate())
            part.chop(1);
    }
    return part + suffix;
}

QString DumpFile::headerText(const QString &modelText, const QByteArray &firstBlock)
{
    return HeaderPrefix + versionDigits(firstBlock, HardwareVersionOffset).join(QString())
           + versionDigits(firstBlock, SoftwareVersionOffset).join(QString()) + HeaderFiller
           + modelText + HeaderEnd;
}

bool DumpFile::begin(const QString &folder, qint16 startBlock, qint16 blockCount,
                     bool headerTicked, const QString &modelText, const QByteArray &firstBlock)
{
    close();
    m_error = Error::None;
    m_errorString.clear();
    m_hash.reset();
    m_size = 0;
    m_committed = false;
    m_name = fileName(startBlock, blockCount, headerTicked, modelText, firstBlock);
    if (m_nameFilter)
        m_name = m_nameFilter(m_name);
    m_path = joinPath(folder, m_name);
    const bool withHeader = headerDue(startBlock, blockCount, headerTicked);
    if (withHeader)
        m_header = headerText(modelText, firstBlock);

    if (!openDevice())
        return false;
    if (withHeader)
        return writeAll(m_header.toLatin1());
    return true;
}

bool DumpFile::openDevice()
{
    m_device = m_opener(partPath());
    auto *file = qobject_cast<QFile *>(m_device.get());
    if (!file) {
        if (!m_device || !m_device->open(QIODevice::WriteOnly | QIODevice::Truncate
                                         | QIODevice::Unbuffered)) {
            fail(Error::CannotCreate);
            m_device.reset();
            return false;
        }
        return true;
    }

    // Opened without cutting it: a file that another Tarvik is writing is left
    // alone. The kernel drops the lock when this process ends, however it ends.
    const int fd = ::open(QFile::encodeName(file->fileName()).constData(),
                          O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(Error::CannotCreate, systemReason(errno));
        m_device.reset();
        return false;
    }
    Error error = Error::None;
    QString reason;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // A file system without locks still takes the dump.
        if (errno == EWOULDBLOCK) {
            error = Error::InUse;
            reason = InUseReason;
        }
    }
    // Only a regular file has a length to cut.
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    // Between our open and our lock, another Tarvik may have finished this file
    // and given it its own name: then the lock holds that dump, not the .part.
    struct stat named {};
    if (error == Error::None && regular
        && (::stat(QFile::encodeName(file->fileName()).constData(), &named) != 0
            || named.st_ino != st.st_ino || named.st_dev != st.st_dev)) {
        error = Error::InUse;
        reason = InUseReason;
    }
    if (error == Error::None && regular && ::ftruncate(fd, 0) != 0) {
        error = Error::CannotCreate;
        reason = systemReason(errno);
    }
    if (error == Error::None
        && !file->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle)) {
        error = Error::CannotCreate;
    }
    if (error != Error::None) {
        fail(error, reason);
        if (!file->isOpen())
            ::close(fd);
        m_device.reset();
        return false;
    }
    return true;
}

bool DumpFile::appendBlock(const QByteArray &reply)
{
    if (!isOpen()) {
        fail(Error::CannotWrite);
        return false;
    }
    return writeAll(reply.left(BlockSize));
}

bool DumpFile::writeAll(const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = m_device->write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            fail(Error::CannotWrite);
            return false;
        }
        m_hash.addData(QByteArrayView(bytes.constData() + done, n));
        m_size += n;
        done += n;
    }
    if (auto *file = qobject_cast<QFileDevice *>(m_device.get())) {
        if (!file->flush()) {
            fail(Error::CannotWrite);
            return false;
        }
    }
    return checkPresent();
}

bool DumpFile::checkPresent()
{
    // Once its last name is gone (its folder removed, say), a file still takes
    // every write, but nothing of it will be left to find.
    // A file system that counts no links is believed as long as the path
    // still leads to the file.
    const auto *file = qobject_cast<const QFileDevice *>(m_device.get());
    struct stat st {};
    if (!file || file->handle() < 0 || ::fstat(file->handle(), &st) != 0 || st.st_nlink > 0)
        return true;
    struct stat named {};
    if (::stat(QFile::encodeName(currentPath()).constData(), &named) == 0 && named.st_dev == st.st_dev
        && named.st_ino == st.st_ino)
        return true;
    fail(Error::CannotWrite, systemReason(ENOENT));
    return false;
}

bool DumpFile::sync()
{
    if (!checkPresent())
        return false;
    const auto *file = qobject_cast<const QFileDevice *>(m_device.get());
    if (file && file->handle() >= 0 && ::fdatasync(file->handle()) != 0 && errno != EINVAL) {
        fail(Error::CannotWrite, systemReason(errno));
        return false;
    }
    return true;
}

bool DumpFile::commit()
{
    if (!sync())
        return false;
    if (m_committed)
        return true;
    // Only a file on disk has a name to give up; other devices have nothing to rename.
    if (!qobject_cast<const QFileDevice *>(m_device.get())) {
        m_committed = true;
        return true;
    }
    if (::rename(QFile::encodeName(partPath()).constData(),
                 QFile::encodeName(m_path).constData()) != 0) {
        fail(Error::CannotRename, systemReason(errno));
        return false;
    }
    m_committed = true;
    syncFolder(m_path);
    return true;
}

void DumpFile::fail(Error error, const QString &reason)
{
    m_error = error;
    m_errorString = !reason.isEmpty() ? reason : m_device ? m_device->errorString() : QString();
    if (m_errorString.isEmpty())
        m_errorString = QStringLiteral("Unknown error");
}

void DumpFile::close()
{
    if (m_device) {
        m_device->close();
        m_device.reset();
    }
}

void DumpFile::reset()
{
    close();
    m_name.clear();
    m_path.clear();
    m_hash.reset();
    m_size = 0;
    m_committed = false;
    m_error = Error::None;
    m_errorString.clear();
}

bool DumpFile::isOpen() const
{
    return m_device && m_device->isOpen();
}

QString DumpFile::errorMessage() const
{
    switch (m_error) {
    case Error::None:
        break;
    case Error::CannotCreate:
        return QStringLiteral("Cannot create the dump file %1: %2").arg(currentPath(), m_errorString);
    case Error::InUse:
        return QStringLiteral("Cannot write the dump file %1: %2. Wait until that run has ended, "
                              "or choose another folder.").arg(currentPath(), m_errorString);
    case Error::CannotWrite:
        return QStringLiteral("Cannot write the dump file %1: %2").arg(currentPath(), m_errorString);
    case Error::CannotRename:
        return QStringLiteral("Cannot save the dump as %1: %2\n\nEverything received is kept in %3.")
            .arg(m_path, m_errorString, partPath());
    }
    return {};
}

} // namespace tarvik
