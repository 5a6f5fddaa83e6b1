// SPDX-License-Identifier: GPL-3.0-or-later
#include "resume.h"

#include "dumpfile.h"
#include "protocol.h"
#include "text.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

constexpr qint64 HeaderFixedBytes = 34; // the header without the model name
constexpr int HeaderModelOffset = 33;

// The length of the model name in a KUP header: the header ends with the
// model, "x", and then block 0 names the same model at its own offset.
qint64 headerModelLength(const QByteArray &head)
{
    if (!head.startsWith(DumpFile::HeaderPrefix.toLatin1()))
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
            && (m == protocol::BlockSize - protocol::ModelOffset || head.at(modelEnd) == '\0'))
            return m;
    }
    return -1;
}

} // namespace

ResumePlan planResume(const QString &partPath, qint16 startBlock, qint16 blockCount)
{
    ResumePlan plan;
    plan.partPath = partPath;
    plan.startBlock = startBlock;
    plan.blockCount = blockCount;
    if (!partPath.endsWith(DumpFile::PartSuffix)) {
        plan.error = QStringLiteral("%1 is not a .part file of a stopped dump").arg(partPath);
        return plan;
    }
    const int fd = ::open(QFile::encodeName(partPath).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        plan.error = QStringLiteral("Cannot read %1: %2")
                             .arg(partPath, error == ELOOP ? QStringLiteral("it is a symbolic link")
                                            : error != 0  ? systemReason(error)
                                                          : QStringLiteral("not a regular file"));
        return plan;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        plan.error = QStringLiteral("Cannot read %1: %2").arg(partPath, file.errorString());
        return plan;
    }
    const qint64 size = file.size();

    // A model may end in "_conv" itself: only a header that is there counts.
    if (QFileInfo(partPath).fileName().endsWith(QStringLiteral("_conv.bin") + DumpFile::PartSuffix)) {
        const qint64 m = headerModelLength(file.read(HeaderFixedBytes + 2 * protocol::BlockSize));
        plan.header = m >= 0;
        plan.headerBytes = plan.header ? HeaderFixedBytes + m : 0;
    }
    // A range shorter than what the .part keeps would cut blocks that were
    // read well: never.
    const qint64 whole = qMax<qint64>(0, size - plan.headerBytes) / protocol::BlockSize;
    if (whole > blockCount) {
        plan.error = QStringLiteral("%1 holds %2 whole blocks, more than the %3 of the range asked for: "
                                    "give the range of the stopped run (--start, --count).")
                             .arg(partPath).arg(whole).arg(blockCount);
        return plan;
    }
    plan.wholeBlocks = int(whole);
    plan.ok = true;
    if (plan.wholeBlocks < ResumePlan::MinWholeBlocks) {
        plan.fresh = true;
        return plan;
    }
    file.seek(plan.headerBytes);
    plan.model = DumpFile::modelText(file.read(protocol::BlockSize));
    file.seek(plan.headerBytes + qint64(plan.wholeBlocks - 2) * protocol::BlockSize);
    plan.compareBlock = file.read(protocol::BlockSize);
    return plan;
}

} // namespace tarvik
