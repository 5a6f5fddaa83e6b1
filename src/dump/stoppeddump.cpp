// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/stoppeddump.h"

#include "dump/dumpname.h"
#include "dump/dumprun.h"
#include "dump/ownfile.h"
#include "dump/protocol.h"
#include "dump/text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

Descriptor::~Descriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

OutputFolder OutputFolder::open(const QString &path, bool mustWrite)
{
    OutputFolder folder;
    folder.m_path = path;
    const int fd = path.isEmpty() ? -1 : openFolder(DumpName::expandFolder(path));
    folder.m_openError = fd < 0 ? (path.isEmpty() ? ENOENT : errno) : 0;
    folder.m_problem = outputFolderProblem(fd, path, mustWrite);
    if (fd >= 0 && folder.m_problem.isEmpty())
        folder.m_fd = std::make_shared<const Descriptor>(fd);
    else if (fd >= 0)
        ::close(fd);
    return folder;
}

QString OutputFolder::filePath(const QString &name) const
{
    return DumpName::joinPath(m_path, name);
}

namespace {

ContinuePlan &refuse(ContinuePlan &plan, const QString &error, NextStep next = NextStep::None)
{
    plan.answer = ContinuePlan::Answer::Refused;
    plan.error = error;
    plan.next = next;
    return plan;
}

// The record beside the .part, when there is one, gives the range; false with
// the plan refused when it forbids going on.
bool takeRecord(ContinuePlan &plan, bool rangeGiven)
{
    const PartRecordRead read = readPartRecord(plan.folder.fd(), plan.partName, plan.partPath);
    // What holds the record's name is not ours to use or to replace: the dump
    // cannot be continued here until it is gone.
    if (read.notOurs) {
        refuse(plan, read.error + u'.', NextStep::MoveOrChooseFolder);
        return false;
    }
    if (read.present && !read.ok) {
        refuse(plan, read.error + u'.', NextStep::StartAgain);
        return false;
    }
    if (!read.ok)
        return true;
    const PartRecord &r = read.record;
    if (!r.mayContinue()) {
        refuse(plan, QStringLiteral("%1 cannot be continued: %2.").arg(plan.partPath, r.whyNotContinued()),
               NextStep::StartAgain);
        return false;
    }
    if (rangeGiven && (r.startBlock != plan.startBlock || r.blockCount != plan.blockCount)) {
        refuse(plan, QStringLiteral("%1 was a read of %2 blocks from block %3: drop --start and --count, "
                                    "or give --start %3 --count %2.")
                             .arg(plan.partPath)
                             .arg(r.blockCount)
                             .arg(r.startBlock));
        return false;
    }
    plan.hasRecord = true;
    plan.record = r;
    plan.startBlock = r.startBlock;
    plan.blockCount = r.blockCount;
    return true;
}

// The .part itself, opened once under the rules of a file of our own and kept.
bool openPart(ContinuePlan &plan, QFile &file)
{
    const OwnFile own = openOwnFile(plan.folder.fd(), QFile::encodeName(plan.partName), O_RDWR, false);
    struct stat st {};
    if (own.fd < 0 || ::fstat(own.fd, &st) != 0) {
        const QString reason = own.fd < 0 ? own.reason : systemReason(errno);
        if (own.fd >= 0)
            ::close(own.fd);
        refuse(plan, QStringLiteral("Cannot read %1: %2").arg(plan.partPath, reason),
               own.error == OwnFile::Error::InTheWay ? NextStep::MoveOrChooseFolder : NextStep::None);
        return false;
    }
    plan.part = std::make_shared<const Descriptor>(own.fd);
    plan.partDevice = quint64(st.st_dev);
    plan.partInode = quint64(st.st_ino);
    plan.partSize = qint64(st.st_size);
    const int readFd = ::dup(own.fd);
    if (readFd < 0 || !file.open(readFd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (readFd >= 0)
            ::close(readFd);
        refuse(plan, QStringLiteral("Cannot read %1: %2").arg(plan.partPath, file.errorString()));
        return false;
    }
    return true;
}

// Its KUP header, when it has one, and its whole blocks; false when the
// range is shorter than what it keeps.
bool measurePart(ContinuePlan &plan, QFile &file)
{
    // A model may end in "_conv" itself: only a header that is there counts.
    if (DumpName::isHeaderPart(plan.partName)) {
        const qint64 length = DumpName::headerLength(file.read(DumpName::HeaderFixedBytes + 2 * protocol::BlockSize));
        plan.header = length >= 0;
        plan.headerBytes = plan.header ? length : 0;
    }
    // A range shorter than what the .part keeps would cut blocks that were
    // read well: never.
    const qint64 whole = qMax<qint64>(0, plan.partSize - plan.headerBytes) / protocol::BlockSize;
    if (whole > plan.blockCount) {
        refuse(plan, QStringLiteral("%1 holds %2 whole blocks, more than the %3 of the range asked for: "
                                    "give the range of the stopped run (--start, --count).")
                             .arg(plan.partPath).arg(whole).arg(plan.blockCount));
        return false;
    }
    plan.wholeBlocks = int(whole);
    return true;
}

// A record that does not agree with its .part is no record of it: nothing is
// taken from it, and nothing is cut. Its range is checked before the .part is
// measured by it, what it counts of the .part after.
bool refuseRecord(ContinuePlan &plan, const QString &disagreement)
{
    refuse(plan, QStringLiteral("%1 does not agree with its .part: %2. Nothing was cut.")
                         .arg(partRecordPath(plan.partPath), disagreement),
           NextStep::StartAgain);
    return false;
}

bool recordRangeAgrees(ContinuePlan &plan)
{
    if (!plan.hasRecord)
        return true;
    const PartRecord &r = plan.record;
    if (r.blockCount < 1 || r.startBlock < 0 || int(r.startBlock) + int(r.blockCount) > protocol::FullReadBlocks)
        return refuseRecord(plan, QStringLiteral("it names blocks %1 to %2, not a range of the flash's %3 blocks")
                                          .arg(r.startBlock)
                                          .arg(int(r.startBlock) + int(r.blockCount) - 1)
                                          .arg(protocol::FullReadBlocks));
    if (!DumpName::rangeFitsName(plan.partName, r.startBlock, r.blockCount, r.header))
        return refuseRecord(plan, QStringLiteral("its range (%1 blocks from block %2%3) is not one that the name "
                                                 "of the .part holds")
                                          .arg(r.blockCount)
                                          .arg(r.startBlock)
                                          .arg(r.header ? QStringLiteral(", with a KUP header") : QString()));
    return true;
}

bool recordCountAgrees(ContinuePlan &plan)
{
    if (!plan.hasRecord)
        return true;
    const PartRecord &r = plan.record;
    if (r.header != plan.header)
        return refuseRecord(plan, r.header ? QStringLiteral("it tells of a KUP header that the .part does not start with")
                                           : QStringLiteral("it tells of no KUP header, and the .part starts with one"));
    if (r.wholeBlocks > plan.wholeBlocks)
        return refuseRecord(plan, QStringLiteral("it counts %1 whole blocks, and the .part holds %2")
                                          .arg(r.wholeBlocks)
                                          .arg(plan.wholeBlocks));
    return true;
}

QByteArray keptBlock(const ContinuePlan &plan, QFile &file, int index)
{
    file.seek(plan.headerBytes + qint64(index) * protocol::BlockSize);
    return file.read(protocol::BlockSize);
}

// What the continued run compares: block k-2 and the samples before it,
// spread evenly from the first on; and the model that block 0 names.
void readComparedBlocks(ContinuePlan &plan, QFile &file)
{
    plan.model = DumpName::modelText(keptBlock(plan, file, 0));
    if (!plan.hasRecord) {
        plan.record.startBlock = plan.startBlock;
        plan.record.blockCount = plan.blockCount;
        plan.record.header = plan.header;
        plan.record.model = plan.model;
    }
    const int before = plan.firstRequested() - plan.startBlock;
    plan.compareBlock = keptBlock(plan, file, before);
    const int sampled = qMin(before, ContinuePlan::MaxSamples);
    for (int i = 0; i < sampled; ++i) {
        const int index = sampled == 1 ? 0 : int((qint64(i) * (before - 1) + (sampled - 1) / 2) / (sampled - 1));
        if (!plan.samples.isEmpty() && plan.samples.last() == plan.startBlock + index)
            continue;
        plan.samples << qint16(plan.startBlock + index);
        plan.sampleData << keptBlock(plan, file, index);
    }
}

} // namespace

ContinuePlan planContinue(const OutputFolder &folder, const QString &partName, qint16 startBlock,
                          qint16 blockCount, bool rangeGiven)
{
    ContinuePlan plan;
    plan.folder = folder;
    plan.partName = partName;
    plan.partPath = folder.filePath(partName);
    plan.startBlock = startBlock;
    plan.blockCount = blockCount;
    if (!partName.endsWith(DumpName::PartSuffix) || partName.contains(u'/'))
        return refuse(plan, QStringLiteral("%1 is not a .part file of a stopped dump").arg(plan.partPath));
    if (!folder.isOpen())
        return refuse(plan, folder.problem());
    QFile file;
    if (!takeRecord(plan, rangeGiven) || !recordRangeAgrees(plan) || !openPart(plan, file) || !measurePart(plan, file)
        || !recordCountAgrees(plan))
        return plan;
    if (plan.wholeBlocks < ContinuePlan::MinWholeBlocks) {
        plan.answer = ContinuePlan::Answer::StartAgain;
        return plan;
    }
    plan.answer = ContinuePlan::Answer::Continue;
    readComparedBlocks(plan, file);
    return plan;
}

QString ContinuePlan::changedSincePlanned(const struct stat &now) const
{
    if (quint64(now.st_dev) == partDevice && quint64(now.st_ino) == partInode && qint64(now.st_size) == partSize)
        return {};
    return QStringLiteral("%1 changed since it was read: nothing was cut").arg(partPath);
}

QList<qint16> ContinuePlan::requests() const
{
    QList<qint16> blocks = samples;
    for (int n = firstRequested(); n < startBlock + blockCount; ++n)
        blocks << qint16(n);
    return blocks;
}

QString findStoppedDump(const OutputFolder &folder, qint16 startBlock, qint16 blockCount, bool header)
{
    if (!folder.isOpen())
        return {};
    // Listed through the folder's own descriptor, not by its path again.
    const int listFd = ::openat(folder.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0)
            ::close(listFd);
        return {};
    }
    const QString ending = DumpName::PartSuffix + PartRecord::Suffix;
    QString found;
    QString foundWritten;
    while (const struct dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!name.endsWith(ending))
            continue;
        const QString part = name.chopped(PartRecord::Suffix.size());
        const PartRecordRead read = readPartRecord(folder.fd(), part, folder.filePath(part));
        const PartRecord &r = read.record;
        struct stat st {};
        if (!read.ok || r.wholeBlocks < ContinuePlan::MinWholeBlocks || r.startBlock != startBlock
            || r.blockCount != blockCount || r.header != header
            || ::fstatat(folder.fd(), QFile::encodeName(part).constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(st.st_mode))
            continue;
        if (found.isEmpty() || r.written > foundWritten || (r.written == foundWritten && part < found)) {
            found = part;
            foundWritten = r.written;
        }
    }
    ::closedir(dir);
    return found;
}

StoppedDumpQuestion stoppedDumpQuestion(const OutputFolder &folder, const QString &lastPartName,
                                        qint16 startBlock, qint16 blockCount, bool header)
{
    StoppedDumpQuestion question;
    struct stat st {};
    QString partName;
    if (!lastPartName.isEmpty() && folder.isOpen()
        && ::fstatat(folder.fd(), QFile::encodeName(lastPartName).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(st.st_mode))
        partName = lastPartName;
    else
        partName = findStoppedDump(folder, startBlock, blockCount, header);
    if (partName.isEmpty())
        return question;
    // The record's range, not the window's, says what the .part holds.
    question.plan = planContinue(folder, partName, startBlock, blockCount, false);
    const ContinuePlan &plan = question.plan;
    if (plan.answer == ContinuePlan::Answer::StartAgain)
        return question;
    question.ask = true;
    const QString startAgain = QStringLiteral("start again from block %1").arg(startBlock);
    question.offerContinue = plan.continues() && plan.startBlock == startBlock && plan.blockCount == blockCount;
    if (question.offerContinue) {
        question.text = QStringLiteral("The last dump of %1 holds blocks %2\u2013%3 and is kept in %4. Continue it "
                                       "from block %5, or %6?")
                                .arg(plan.model, DumpRun::logNumber(plan.startBlock), DumpRun::logNumber(plan.stoppedAt()),
                                     plan.partName, DumpRun::logNumber(plan.firstRequested()), startAgain);
        if (!plan.hasRecord)
            question.text += QStringLiteral(" It has no record of its run: it is taken for a read of this range.");
        return question;
    }
    const QString reason = plan.continues() ? QStringLiteral("%1 holds a stopped read of %2 blocks from block %3: "
                                                             "give that range to continue it.")
                                                      .arg(plan.partPath)
                                                      .arg(plan.blockCount)
                                                      .arg(plan.startBlock)
                                            : plan.error;
    question.text = QStringLiteral("%1 Cut it and %2?").arg(reason, startAgain);
    return question;
}

} // namespace tarvik
