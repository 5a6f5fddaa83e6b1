// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/resume.h"

#include "dump/dumpname.h"
#include "dump/protocol.h"
#include "dump/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

// The record beside the .part, when there is one, gives the range; false with
// the error set when it forbids going on.
bool takeRecord(ResumePlan &plan, bool rangeGiven)
{
    const PartRecordRead read = readPartRecord(plan.partPath);
    if (read.present && !read.ok) {
        plan.error = read.error;
        return false;
    }
    if (!read.ok)
        return true;
    const PartRecord &r = read.record;
    if (!r.resumable()) {
        plan.error = QStringLiteral("%1 cannot be continued: %2.").arg(plan.partPath, r.notResumableReason());
        return false;
    }
    if (rangeGiven && (r.startBlock != plan.startBlock || r.blockCount != plan.blockCount)) {
        plan.error = QStringLiteral("%1 was a read of %2 blocks from block %3: drop --start and --count, "
                                    "or give --start %3 --count %2.")
                             .arg(plan.partPath)
                             .arg(r.blockCount)
                             .arg(r.startBlock);
        return false;
    }
    plan.hasRecord = true;
    plan.record = r;
    plan.startBlock = r.startBlock;
    plan.blockCount = r.blockCount;
    return true;
}

// The .part itself, read without following a link or blocking.
bool openPartToRead(ResumePlan &plan, QFile &file)
{
    const int fd = ::open(QFile::encodeName(plan.partPath).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        plan.error = QStringLiteral("Cannot read %1: %2")
                             .arg(plan.partPath, error == ELOOP ? QStringLiteral("it is a symbolic link")
                                                 : error != 0  ? systemReason(error)
                                                               : QStringLiteral("not a regular file"));
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        plan.error = QStringLiteral("Cannot read %1: %2").arg(plan.partPath, file.errorString());
        return false;
    }
    return true;
}

// Its KUP header, when it has one, and its whole blocks; false when the
// range is shorter than what it keeps.
bool measurePart(ResumePlan &plan, QFile &file)
{
    // A model may end in "_conv" itself: only a header that is there counts.
    if (DumpName::isHeaderPart(QFileInfo(plan.partPath).fileName())) {
        const qint64 length = DumpName::headerLength(file.read(DumpName::HeaderFixedBytes + 2 * protocol::BlockSize));
        plan.header = length >= 0;
        plan.headerBytes = plan.header ? length : 0;
    }
    // A range shorter than what the .part keeps would cut blocks that were
    // read well: never.
    const qint64 whole = qMax<qint64>(0, file.size() - plan.headerBytes) / protocol::BlockSize;
    if (whole > plan.blockCount) {
        plan.error = QStringLiteral("%1 holds %2 whole blocks, more than the %3 of the range asked for: "
                                    "give the range of the stopped run (--start, --count).")
                             .arg(plan.partPath).arg(whole).arg(plan.blockCount);
        return false;
    }
    plan.wholeBlocks = int(whole);
    return true;
}

QByteArray keptBlock(const ResumePlan &plan, QFile &file, int index)
{
    file.seek(plan.headerBytes + qint64(index) * protocol::BlockSize);
    return file.read(protocol::BlockSize);
}

// What the resumed run compares: block k-2 and the samples before it,
// spread evenly from the first on; and the model that block 0 names.
void readComparedBlocks(ResumePlan &plan, QFile &file)
{
    plan.model = DumpName::modelText(keptBlock(plan, file, 0));
    if (!plan.hasRecord) {
        plan.record.startBlock = plan.startBlock;
        plan.record.blockCount = plan.blockCount;
        plan.record.header = plan.header;
        plan.record.model = plan.model;
    }
    plan.compareBlock = keptBlock(plan, file, plan.wholeBlocks - 2);
    const int before = plan.wholeBlocks - 2;
    const int sampled = qMin(before, ResumePlan::MaxSamples);
    for (int i = 0; i < sampled; ++i) {
        const int index = sampled == 1 ? 0 : int((qint64(i) * (before - 1) + (sampled - 1) / 2) / (sampled - 1));
        if (!plan.samples.isEmpty() && plan.samples.last() == plan.startBlock + index)
            continue;
        plan.samples << qint16(plan.startBlock + index);
        plan.sampleData << keptBlock(plan, file, index);
    }
}

} // namespace

ResumePlan planResume(const QString &partPath, qint16 startBlock, qint16 blockCount, bool rangeGiven)
{
    ResumePlan plan;
    plan.partPath = partPath;
    plan.startBlock = startBlock;
    plan.blockCount = blockCount;
    if (!partPath.endsWith(DumpName::PartSuffix)) {
        plan.error = QStringLiteral("%1 is not a .part file of a stopped dump").arg(partPath);
        return plan;
    }
    QFile file;
    if (!takeRecord(plan, rangeGiven) || !openPartToRead(plan, file) || !measurePart(plan, file))
        return plan;
    plan.ok = true;
    plan.fresh = plan.wholeBlocks < ResumePlan::MinWholeBlocks;
    if (!plan.fresh)
        readComparedBlocks(plan, file);
    return plan;
}

QList<qint16> ResumePlan::requests() const
{
    QList<qint16> blocks = samples;
    for (int n = firstRequested(); n < startBlock + blockCount; ++n)
        blocks << qint16(n);
    return blocks;
}

QString findStoppedDump(const QString &folder, qint16 startBlock, qint16 blockCount, bool header)
{
    const QDir dir(DumpName::expandFolder(folder));
    const QStringList records = dir.entryList({u'*' + DumpName::PartSuffix + PartRecord::Suffix},
                                              QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    QString found;
    QString foundWritten;
    for (const QString &name : records) {
        const QString part = dir.filePath(name.chopped(PartRecord::Suffix.size()));
        const PartRecordRead read = readPartRecord(part);
        const PartRecord &r = read.record;
        if (!read.ok || r.wholeBlocks < ResumePlan::MinWholeBlocks || r.startBlock != startBlock
            || r.blockCount != blockCount || r.header != header || !QFileInfo(part).isFile())
            continue;
        if (found.isEmpty() || r.written > foundWritten) {
            found = part;
            foundWritten = r.written;
        }
    }
    return found;
}

} // namespace tarvik
