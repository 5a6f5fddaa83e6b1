// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/dumpfile.h"

#include "dump/nextstep.h"

#include "dump/ownfile.h"
#include "dump/stoppeddump.h"
#include "dump/text.h"
#include "dump/version.h"

#include <QDateTime>
#include <QFile>
#include <QFileDevice>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

const QString InUseReason = QStringLiteral("another Tarvik is writing it right now");
constexpr qint64 CompareChunk = 64 * 1024;

QByteArray encoded(const QString &name)
{
    return QFile::encodeName(name);
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Renames without replacing anything; false with errno set (EEXIST when the
// new name is taken).
bool renameNoReplace(int folderFd, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system that cannot rename without replacing: a second name, then
    // the old one goes.
    if (::linkat(folderFd, from.constData(), folderFd, to.constData(), 0) != 0)
        return false;
    ::unlinkat(folderFd, from.constData(), 0);
    return true;
}

// The SHA-256 of a regular file in the folder, read without following a link;
// empty when it cannot be read.
QByteArray regularFileSha256(int folderFd, const QByteArray &name, const struct stat &expected)
{
    const int fd = ::openat(folderFd, name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st {};
    QByteArray result;
    if (::fstat(fd, &st) == 0 && sameFile(st, expected) && S_ISREG(st.st_mode)) {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QByteArray buffer(CompareChunk, Qt::Uninitialized);
        qint64 total = 0;
        ssize_t n = 0;
        while ((n = ::read(fd, buffer.data(), size_t(buffer.size()))) > 0) {
            hash.addData(QByteArrayView(buffer.constData(), n));
            total += n;
        }
        if (n == 0 && total == st.st_size)
            result = hash.result();
    }
    ::close(fd);
    return result;
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

bool DumpFile::begin(const OutputFolder &folder, qint16 startBlock, qint16 blockCount,
                     bool headerTicked, const QString &modelText, const QByteArray &firstBlock)
{
    reset();
    m_name = DumpName::fileName(startBlock, blockCount, headerTicked, modelText, firstBlock);
    if (m_nameTag) {
        const QString tag = m_nameTag(m_name);
        if (!tag.isEmpty())
            m_name = DumpName::fileName(startBlock, blockCount, headerTicked, modelText, firstBlock, tag);
    }
    m_folder = folder;
    m_path = folder.filePath(m_name);
    const bool withHeader = DumpName::headerDue(startBlock, blockCount, headerTicked);
    if (withHeader)
        m_header = DumpName::headerText(modelText, firstBlock);
    m_headerBytes = withHeader ? m_header.toLatin1().size() : 0;

    m_record = PartRecord();
    m_record.startBlock = startBlock;
    m_record.blockCount = blockCount;
    m_record.header = withHeader;
    m_record.model = modelText;
    if (firstBlock.size() > protocol::HardwareVersionOffset + 2) {
        m_record.hardware = DumpName::hardwareVersion(firstBlock);
        m_record.software = DumpName::softwareVersion(firstBlock);
    }

    if (!openDevice() || !saveRecord())
        return false;
    if (withHeader)
        return writeAll(m_header.toLatin1());
    return true;
}

void DumpFile::setDevice(const QString &path, const QString &id)
{
    m_devicePath = path;
    m_deviceId = id;
}

bool DumpFile::saveRecord()
{
    if (!isPartFile() || m_committed)
        return true;
    m_record.device = m_devicePath;
    m_record.deviceId = m_deviceId;
    m_record.wholeBlocks = wholeBlocks();
    m_record.written = QDateTime::currentDateTime().toString(Qt::ISODate);
    m_record.version = QString::fromLatin1(Version);
    QString reason;
    if (writePartRecord(m_folder.fd(), m_name + DumpName::PartSuffix, m_record, &reason))
        return true;
    fail(Error::CannotCreate, reason);
    return false;
}

bool DumpFile::continueFrom(const ContinuePlan &plan)
{
    reset();
    m_folder = plan.folder;
    m_name = plan.partName.chopped(DumpName::PartSuffix.size());
    m_path = m_folder.filePath(m_name);
    m_plan = plan;
    m_keepBytes = plan.keepBytes();
    m_headerBytes = plan.headerBytes;
    m_record = plan.record;
    m_record.stoppedBy = PartRecord::Receiving;
    const bool opened = openDevice();
    m_keepBytes = 0;
    m_plan = ContinuePlan();
    m_continued = opened;
    return opened;
}

bool DumpFile::isPartFile() const
{
    return m_isPart;
}

bool DumpFile::openDevice()
{
    m_device = m_opener(partPath());
    auto *file = qobject_cast<QFile *>(m_device.get());
    if (file && file->fileName() == partPath()) {
        if (openPart(*file)) {
            m_hasFile = true;
            return true;
        }
        m_device.reset();
        return false;
    }
    // A device that is not the .part (a memory file, a test's /dev/full) is
    // opened as it is.
    if (!m_device || !m_device->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        fail(Error::CannotCreate);
        m_device.reset();
        return false;
    }
    m_hasFile = true;
    return true;
}

bool DumpFile::openPart(QFile &file)
{
    const QByteArray name = encoded(m_name + DumpName::PartSuffix);
    // A continued run reads back what it keeps, for the SHA-256, and writes
    // its record before it cuts anything.
    const bool continuing = m_plan.part != nullptr;
    const OwnFile own = openOwnPart(name);
    if (own.fd < 0)
        return false;

    struct stat opened {};
    StepFailure failure = continuing ? samePartAsPlanned(own.fd) : StepFailure();
    if (!failure)
        failure = lockOwnPart(own.fd, name, opened);
    if (!failure && !continuing && !own.created)
        failure = refuseToCutStoppedDump(opened);
    if (!failure && continuing)
        failure = hashKeptBytes(own.fd, opened);
    m_isPart = !failure;
    if (!failure && continuing && !saveRecord())
        failure = {m_error, m_errorString};
    if (!failure)
        failure = cutToKeptBytes(own.fd);
    if (!failure)
        failure = handToFile(file, own.fd);
    if (failure) {
        m_isPart = false;
        fail(failure.error, failure.reason);
        if (!file.isOpen())
            ::close(own.fd);
        return false;
    }
    m_partDevice = quint64(opened.st_dev);
    m_inode = quint64(opened.st_ino);
    return true;
}

OwnFile DumpFile::openOwnPart(const QByteArray &name)
{
    if (!m_folder.isOpen()) {
        fail(Error::CannotCreate, m_folder.openError() != 0 ? systemReason(m_folder.openError()) : m_folder.problem());
        return {};
    }
    if (m_plan.part) {
        OwnFile own;
        own.fd = ::fcntl(m_plan.part->fd(), F_DUPFD_CLOEXEC, 0);
        if (own.fd < 0)
            fail(Error::CannotCreate, systemReason(errno));
        return own;
    }
    OwnFile own = openOwnFile(m_folder.fd(), name, O_WRONLY, true);
    if (own.fd < 0)
        fail(own.error == OwnFile::Error::InTheWay ? Error::InTheWay : Error::CannotCreate, own.reason);
    return own;
}

DumpFile::StepFailure DumpFile::samePartAsPlanned(int fd) const
{
    struct stat now {};
    if (::fstat(fd, &now) != 0)
        return {Error::CannotCreate, systemReason(errno)};
    QString changed = m_plan.changedSincePlanned(now);
    struct stat named {};
    if (changed.isEmpty()
        && (::fstatat(m_folder.fd(), encoded(m_plan.partName).constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
            || !sameFile(named, now)))
        changed = m_plan.changedSincePlanned(named);
    if (changed.isEmpty())
        return {};
    return {Error::PartChanged, changed};
}

DumpFile::StepFailure DumpFile::lockOwnPart(int fd, const QByteArray &name, struct stat &opened) const
{
    if (::fstat(fd, &opened) != 0)
        return {Error::CannotCreate, systemReason(errno)};
    // Opened without cutting it: a file that another Tarvik is writing is left
    // alone. The kernel drops the lock when this process ends, however it ends.
    // A file system without locks still takes the dump.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return {Error::InUse, InUseReason};
    // Between our open and our lock, another Tarvik may have finished this file
    // and given it its own name: then the lock holds that dump, not the .part.
    struct stat named {};
    if (::fstatat(m_folder.fd(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !sameFile(named, opened))
        return {Error::InUse, InUseReason};
    return {};
}

DumpFile::StepFailure DumpFile::refuseToCutStoppedDump(const struct stat &opened)
{
    if (m_startAgain == StartAgain::Any
        || (m_startAgain == StartAgain::Named && m_name + DumpName::PartSuffix == m_startAgainName))
        return {};
    const qint64 whole = qMax<qint64>(0, opened.st_size - m_headerBytes) / BlockSize;
    if (whole < ContinuePlan::MinWholeBlocks)
        return {};
    m_stoppedWholeBlocks = int(whole);
    m_stoppedBytes = qint64(opened.st_size);
    m_stoppedMayContinue = planContinue(m_folder, m_name + DumpName::PartSuffix, m_record.startBlock,
                                        m_record.blockCount, false).continues();
    return {Error::StoppedDump, QString()};
}

DumpFile::StepFailure DumpFile::hashKeptBytes(int fd, const struct stat &opened)
{
    if (opened.st_size < m_keepBytes)
        return {Error::CannotCreate, QStringLiteral("it is shorter than the blocks to keep")};
    QByteArray buffer(CompareChunk, Qt::Uninitialized);
    for (qint64 at = 0; at < m_keepBytes;) {
        const ssize_t n = ::pread(fd, buffer.data(), size_t(qMin<qint64>(buffer.size(), m_keepBytes - at)), at);
        if (n <= 0)
            return {Error::CannotCreate, systemReason(n < 0 ? errno : EIO)};
        m_hash.addData(QByteArrayView(buffer.constData(), n));
        at += n;
    }
    m_size = m_keepBytes;
    return {};
}

DumpFile::StepFailure DumpFile::cutToKeptBytes(int fd) const
{
    if (::ftruncate(fd, m_keepBytes) != 0)
        return {Error::CannotCreate, systemReason(errno)};
    return {};
}

DumpFile::StepFailure DumpFile::handToFile(QFile &file, int fd) const
{
    if (!makeBlocking(fd, true))
        return {Error::CannotCreate, systemReason(errno)};
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
        return {Error::CannotCreate, QString()};
    return {};
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
    const QByteArray name = encoded(m_committed ? m_name : m_name + DumpName::PartSuffix);
    if (m_folder.isOpen() && ::fstatat(m_folder.fd(), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && named.st_dev == st.st_dev && named.st_ino == st.st_ino)
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

bool DumpFile::keepEarlierDump(bool &replace)
{
    replace = false;
    const QByteArray name = encoded(m_name);
    struct stat st {};
    if (::fstatat(m_folder.fd(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return true;
        fail(Error::CannotRename, systemReason(errno));
        return false;
    }
    // Another user's file is theirs to keep, dump or not: it stays where it
    // is, and so does ours.
    if (!S_ISDIR(st.st_mode) && st.st_uid != ::geteuid()) {
        fail(Error::NameTaken);
        return false;
    }
    // Only a regular file holds a dump; a link in its place is replaced, not
    // what it points to, and a folder refuses the rename.
    if (!S_ISREG(st.st_mode) || (st.st_size == m_size
                                 && regularFileSha256(m_folder.fd(), name, st) == m_hash.result())) {
        replace = true;
        return true;
    }
    const QDateTime written = QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec);
    for (int attempt = 1;; ++attempt) {
        const QString kept = DumpName::keptName(m_name, written, attempt);
        if (renameNoReplace(m_folder.fd(), name, encoded(kept))) {
            m_previousKeptAs = m_folder.filePath(kept);
            return true;
        }
        if (errno != EEXIST || attempt >= 1000) {
            fail(Error::CannotRename, systemReason(errno));
            return false;
        }
    }
}

bool DumpFile::commit()
{
    if (!sync())
        return false;
    if (m_committed)
        return true;
    // Only the .part has a name to give up; other devices have nothing to rename.
    if (!isPartFile()) {
        m_committed = true;
        return true;
    }
    const QByteArray part = encoded(m_name + DumpName::PartSuffix);
    const QByteArray name = encoded(m_name);
    struct stat named {};
    if (::fstatat(m_folder.fd(), part.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || quint64(named.st_dev) != m_partDevice || quint64(named.st_ino) != m_inode) {
        fail(Error::CannotRename, QStringLiteral("%1 is no longer the file this run wrote").arg(partPath()));
        return false;
    }
    // Nothing is overwritten on the way: when another file takes the name
    // meanwhile, that one is kept in turn.
    for (int tries = 0;; ++tries) {
        bool replace = false;
        if (!keepEarlierDump(replace))
            return false;
        const bool renamed = replace ? ::renameat(m_folder.fd(), part.constData(), m_folder.fd(), name.constData()) == 0
                                     : renameNoReplace(m_folder.fd(), part, name);
        if (renamed)
            break;
        if (errno != EEXIST || tries >= 3) {
            fail(Error::CannotRename, systemReason(errno));
            return false;
        }
    }
    m_committed = true;
    removePartRecord(m_folder.fd(), m_name + DumpName::PartSuffix);
    // Makes the rename last across a crash. A folder that cannot be synced
    // still holds the renamed file; there is nothing better to do then.
    ::fsync(m_folder.fd());
    return true;
}

void DumpFile::fail(Error error, const QString &reason)
{
    m_error = error;
    m_errorString = !reason.isEmpty() ? reason : m_device ? m_device->errorString() : QString();
    if (m_errorString.isEmpty())
        m_errorString = QStringLiteral("Unknown error");
}

void DumpFile::close(const QString &stoppedBy)
{
    if (isOpen() && isPartFile() && !m_committed) {
        if (!stoppedBy.isEmpty())
            m_record.stoppedBy = stoppedBy;
        saveRecord();
    }
    if (m_device) {
        m_device->close();
        m_device.reset();
    }
}

bool DumpFile::mayContinue() const
{
    struct stat st {};
    return m_hasFile && m_isPart && !m_committed && m_record.mayContinue()
           && wholeBlocks() >= ContinuePlan::MinWholeBlocks
           && ::fstatat(m_folder.fd(), encoded(m_name + DumpName::PartSuffix).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
           && S_ISREG(st.st_mode);
}

void DumpFile::reset()
{
    close();
    m_name.clear();
    m_path.clear();
    m_hash.reset();
    m_size = 0;
    m_committed = false;
    m_hasFile = false;
    m_previousKeptAs.clear();
    m_headerBytes = 0;
    m_stoppedWholeBlocks = 0;
    m_stoppedBytes = 0;
    m_stoppedMayContinue = false;
    m_continued = false;
    m_isPart = false;
    m_folder = OutputFolder();
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
    case Error::InTheWay:
        return QStringLiteral("%1 is %2: remove it, or choose another folder.").arg(partPath(), m_errorString);
    case Error::CannotWrite:
        return QStringLiteral("Cannot write the dump file %1: %2").arg(currentPath(), m_errorString);
    case Error::StoppedDump:
        return QStringLiteral("%1 holds a stopped dump of %2 whole blocks: %3.")
            .arg(partPath())
            .arg(m_stoppedWholeBlocks)
            .arg(nextStepText(NextStep::ContinueOrStartAgain, FrontEnd::Window));
    case Error::NameTaken:
        return QStringLiteral("%1 belongs to another user: your dump is kept in %2. Move that file away, or "
                              "choose another folder.").arg(m_path, partPath());
    case Error::PartChanged:
        return m_errorString + u'.';
    case Error::CannotRename:
        return QStringLiteral("Cannot save the dump as %1: %2\n\nEverything received is kept in %3.")
            .arg(m_path, m_errorString, partPath());
    }
    return {};
}

} // namespace tarvik
