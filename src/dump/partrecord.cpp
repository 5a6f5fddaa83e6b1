// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/partrecord.h"

#include "dump/ownfile.h"
#include "dump/runresult.h"
#include "dump/text.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvik {

namespace {

constexpr qint64 MostRecordBytes = 64 * 1024;

// One line's value: what came from outside (the box, the system) never
// breaks the line or carries a control character.
QString oneLine(const QString &value)
{
    return withoutControls(value);
}

} // namespace

bool PartRecord::mayContinue() const
{
    // "receiving" and words of other versions say nothing against the blocks.
    const std::optional<RunResult> result = resultFromWord(stoppedBy);
    return !result || resultRow(*result).partContinues;
}

QString PartRecord::whyNotContinued() const
{
    switch (resultFromWord(stoppedBy).value_or(RunResult::NoResult)) {
    case RunResult::TotalMismatch:
        return QStringLiteral("its run failed the check over the whole transfer, so any of its blocks may be wrong");
    case RunResult::NotSameBox:
        return QStringLiteral("its last run found another box, or a changed flash");
    default:
        return mayContinue() ? QString() : QStringLiteral("its last run ended as %1").arg(oneLine(stoppedBy));
    }
}

QByteArray PartRecord::toText() const
{
    const QStringList lines{
            QStringLiteral("# A stopped Tarvik dump: the .part beside this file holds its whole blocks."),
            QStringLiteral("start=%1").arg(startBlock),
            QStringLiteral("count=%1").arg(blockCount),
            QStringLiteral("header=%1").arg(header ? QStringLiteral("yes") : QStringLiteral("no")),
            QStringLiteral("model=") + oneLine(model),
            QStringLiteral("hardware=") + oneLine(hardware),
            QStringLiteral("software=") + oneLine(software),
            QStringLiteral("device=") + oneLine(device),
            QStringLiteral("device_id=") + oneLine(deviceId),
            QStringLiteral("whole_blocks=%1").arg(wholeBlocks),
            QStringLiteral("stopped_by=") + oneLine(stoppedBy),
            QStringLiteral("written=") + oneLine(written),
            QStringLiteral("version=") + oneLine(version),
    };
    return lines.join(u'\n').toUtf8() + '\n';
}

bool PartRecord::fromText(const QByteArray &text)
{
    bool haveStart = false;
    bool haveCount = false;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw);
        const qsizetype eq = line.indexOf(u'=');
        if (line.startsWith(u'#') || eq <= 0)
            continue;
        const QString key = line.left(eq);
        const QString value = oneLine(line.mid(eq + 1));
        // A block number or count: 0 to 32767, or the record is no record.
        const auto block = [&value](bool *have) {
            bool ok = false;
            const int n = value.toInt(&ok);
            *have = ok && n >= 0 && n <= 32767;
            return qint16(*have ? n : 0);
        };
        if (key == u"start") {
            startBlock = block(&haveStart);
        } else if (key == u"count") {
            blockCount = block(&haveCount);
        } else if (key == u"header") {
            header = value == u"yes";
        } else if (key == u"model") {
            model = value;
        } else if (key == u"hardware") {
            hardware = value;
        } else if (key == u"software") {
            software = value;
        } else if (key == u"device") {
            device = value;
        } else if (key == u"device_id") {
            deviceId = value;
        } else if (key == u"whole_blocks") {
            wholeBlocks = qMax(0, value.toInt());
        } else if (key == u"stopped_by") {
            stoppedBy = value;
        } else if (key == u"written") {
            written = value;
        } else if (key == u"version") {
            version = value;
        }
    }
    return haveStart && haveCount && int(startBlock) + int(blockCount) - 1 <= 32767;
}

QString partRecordPath(const QString &partPath)
{
    return partPath + PartRecord::Suffix;
}

PartRecordRead readPartRecord(int folderFd, const QString &partName, const QString &shownPath)
{
    PartRecordRead result;
    const QByteArray name = QFile::encodeName(partName + PartRecord::Suffix);
    const QString shown = partRecordPath(shownPath);
    // Under the rules of the .part itself: a regular file of our own with one
    // name, looked at before it is opened and again once it is.
    struct stat there {};
    if (::fstatat(folderFd, name.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
        result.present = errno != ENOENT;
        if (result.present)
            result.error = QStringLiteral("Cannot read %1: %2").arg(shown, systemReason(errno));
        return result;
    }
    result.present = true;
    const auto notUsed = [&](const QString &what) {
        result.notOurs = true;
        result.error = QStringLiteral("%1 is %2: it is not used").arg(shown, what);
        return result;
    };
    if (const QString what = whatIsInTheWay(there); !what.isEmpty())
        return notUsed(what);
    const int fd = ::openat(folderFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return notUsed(errno == ELOOP ? QStringLiteral("a symbolic link") : systemReason(errno));
    struct stat st {};
    QString what = ::fstat(fd, &st) != 0 ? systemReason(errno) : whatIsInTheWay(st);
    if (what.isEmpty() && (st.st_dev != there.st_dev || st.st_ino != there.st_ino))
        what = QStringLiteral("a file that changed while it was read");
    if (!what.isEmpty()) {
        ::close(fd);
        return notUsed(what);
    }
    if (st.st_size > MostRecordBytes) {
        result.error = QStringLiteral("%1 is not a record of a stopped dump").arg(shown);
    } else {
        QByteArray text(qsizetype(st.st_size), Qt::Uninitialized);
        const ssize_t n = ::pread(fd, text.data(), size_t(text.size()), 0);
        text.resize(n > 0 ? n : 0);
        result.ok = result.record.fromText(text);
        if (!result.ok)
            result.error = QStringLiteral("%1 is not a record of a stopped dump").arg(shown);
    }
    ::close(fd);
    return result;
}

bool writePartRecord(int folderFd, const QString &partName, const PartRecord &record, QString *error)
{
    const QByteArray name = QFile::encodeName(partName + PartRecord::Suffix);
    struct stat st {};
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (const QString what = whatIsInTheWay(st); !what.isEmpty()) {
            *error = QStringLiteral("%1 is %2").arg(QString::fromLocal8Bit(name), what);
            return false;
        }
    }
    QByteArray temporary;
    OwnFile own;
    for (int tries = 0; own.fd < 0 && tries < 8; ++tries) {
        temporary = ".tarvik-state-" + QByteArray::number(QRandomGenerator::global()->generate(), 16);
        own = openOwnFile(folderFd, temporary, O_WRONLY, true);
        if (own.fd >= 0 && !own.created) {
            ::close(own.fd);
            own.fd = -1;
        }
    }
    if (own.fd < 0) {
        *error = own.reason;
        return false;
    }
    const QByteArray text = record.toText();
    bool ok = makeBlocking(own.fd, false);
    for (qsizetype done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(own.fd, text.constData() + done, size_t(text.size() - done));
        ok = n > 0;
        done += ok ? n : 0;
    }
    ok = ok && ::fdatasync(own.fd) == 0;
    const int writeError = errno;
    ::close(own.fd);
    if (!ok || ::renameat(folderFd, temporary.constData(), folderFd, name.constData()) != 0) {
        *error = systemReason(ok ? errno : writeError);
        ::unlinkat(folderFd, temporary.constData(), 0);
        return false;
    }
    return true;
}

void removePartRecord(int folderFd, const QString &partName)
{
    const QByteArray name = QFile::encodeName(partName + PartRecord::Suffix);
    struct stat st {};
    if (::fstatat(folderFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && whatIsInTheWay(st).isEmpty())
        ::unlinkat(folderFd, name.constData(), 0);
}

} // namespace tarvik
