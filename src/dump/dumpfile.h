// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/dumpname.h"
#include "dump/ownfile.h"
#include "dump/partrecord.h"
#include "dump/protocol.h"
#include "dump/stoppeddump.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

class QFile;
struct stat;

namespace tarvik {

// The one dump file of a run: the KUP header and the blocks in order, under
// the name that DumpName gives it. Every block is handed to the system as it
// arrives, so a stopped or crashed run keeps everything it received.
//
// While a run receives, the bytes go to "<name>.part" in the output folder,
// locked against other Tarvik processes. Only commit() puts the dump under
// its own name, so an earlier dump of that name survives every run that
// fails after it; an earlier dump with other bytes is kept under a dated name.
//
// Nothing found in the folder is trusted: the .part is only ever a regular
// file of our own with one name, opened without following a link or waiting
// on a FIFO, and only that very file is renamed.
class DumpFile
{
public:
    static constexpr int BlockSize = protocol::BlockSize;

    // NameTaken: another user's file has the dump's name; the dump stays in the .part.
    // StoppedDump: a run would start again over the .part of a stopped one.
    // PartChanged: the .part to continue is no longer the one planned.
    enum class Error { None, CannotCreate, InUse, InTheWay, CannotWrite, CannotRename, NameTaken, StoppedDump, PartChanged };
    // Whether a new run may cut a stopped dump's .part (ContinuePlan's two
    // whole blocks or more) to start again: never (the run is refused), only
    // the one named (the user chose to start that one again), or any.
    enum class StartAgain { Never, Named, Any };

    // Makes the (unopened) device for a path: a QFile by default; tests hand in
    // devices that fail. begin() opens it for writing, cut to nothing; a QFile
    // is locked first and only then cut.
    using Opener = std::function<std::unique_ptr<QIODevice>(const QString &path)>;

    DumpFile();
    ~DumpFile();
    DumpFile(const DumpFile &) = delete;
    DumpFile &operator=(const DumpFile &) = delete;

    void setOpener(Opener opener);
    void setStartAgain(StartAgain which, const QString &partName = QString())
    {
        m_startAgain = which;
        m_startAgainName = partName;
    }
    // The device that the run reads, for the .part's record.
    void setDevice(const QString &path, const QString &id);
    // Given the name chosen for a run, the tag that DumpName::fileName() puts
    // in it; empty for none.
    using NameTag = std::function<QString(const QString &name)>;
    void setNameTag(NameTag tag) { m_nameTag = std::move(tag); }

    // Called when the first block of a run arrived: chooses the name, opens
    // "<name>.part" in the folder (cut to the new content) and writes the header when due.
    bool begin(const OutputFolder &folder, qint16 startBlock, qint16 blockCount, bool headerTicked,
               const QString &modelText, const QByteArray &firstBlock);
    // Continues the stopped dump that `plan` opened: the .part must still be
    // the file that the plan read (its device, inode and size, and its name).
    // Its first keepBytes() bytes (a header and whole blocks) stay and count
    // for the size and the SHA-256, the record is written, and only then is
    // the rest cut; the blocks appended from then on follow them. The lock
    // holds as for begin(). The record of the stopped run, when there is
    // one, carries on.
    bool continueFrom(const ContinuePlan &plan);
    // Appends the 1024 data bytes of a block reply; the check byte is never written.
    bool appendBlock(const QByteArray &reply);
    // False, with the error set, when the open file no longer has a name on
    // disk: whatever is written to it is lost.
    bool checkPresent();
    // The file is still there and its data has reached the disk (fdatasync),
    // so a failing medium cannot pass as a good dump.
    bool sync();
    // Before a run reports success: sync(), then the received file takes the
    // name path() in one rename. An earlier file of that name with other
    // bytes is first renamed to DumpName::keptName() (see previousKeptAs());
    // one with the same bytes is replaced. On failure the received file stays
    // as it is.
    bool commit();
    // Closing when nothing is open does nothing. A .part that is not
    // committed gets its record, with why the run stopped (a run result such
    // as "check-error"; empty keeps what the record says).
    void close(const QString &stoppedBy = QString());
    // A new run: closes the file and forgets its name and error. The header text stays.
    void reset();
    // Lets go of the output folder once the file is closed and nothing more is asked of it.
    void releaseFolder() { m_folder = OutputFolder(); }

    bool isOpen() const;
    QString name() const { return m_name; }
    // Where the dump goes once committed, and where it is received until then.
    QString path() const { return m_path; }
    QString partPath() const { return m_path.isEmpty() ? QString() : m_path + DumpName::PartSuffix; }
    bool isCommitted() const { return m_committed; }
    // Where the file's bytes are now.
    QString currentPath() const { return m_committed ? m_path : partPath(); }
    // Whether this run has a file on disk (opened, from its first block on).
    bool hasFile() const { return m_hasFile; }
    // This run continued a stopped dump (and cut its .part to what it keeps).
    bool continuedStoppedDump() const { return m_continued; }
    // Where commit() put an earlier dump of the same name; empty when there was none.
    QString previousKeptAs() const { return m_previousKeptAs; }
    // The file's bytes so far (header and data): their count and SHA-256.
    qint64 size() const { return m_size; }
    QByteArray sha256() const { return m_hash.result(); }
    QString header() const { return m_header; }
    Error error() const { return m_error; }
    // The whole blocks of the stopped dump that a new run left alone.
    int stoppedWholeBlocks() const { return m_stoppedWholeBlocks; }
    qint64 stoppedBytes() const { return m_stoppedBytes; }
    // ... and whether it may be continued.
    bool stoppedMayContinue() const { return m_stoppedMayContinue; }
    // Once the run has stopped, and after close(): this run left a stopped
    // dump in its .part that a later run may continue (two whole blocks or
    // more, from a run whose end does not discredit them, and the .part still
    // there), and the block that such a run goes on from.
    bool mayContinue() const;
    qint16 continuesFrom() const { return ContinuePlan::continuesFrom(m_record.startBlock, wholeBlocks()); }
    QString errorString() const { return m_errorString; }
    // The message box text for the last error: the path and the system's reason.
    QString errorMessage() const;

private:
    // The whole blocks written so far, after the header.
    int wholeBlocks() const { return int(qMax<qint64>(0, m_size - m_headerBytes) / BlockSize); }
    // What stopped a step of opening the .part: the error, and the reason to
    // give (empty: the device's own error text). Error::None when nothing did.
    struct StepFailure {
        Error error = Error::None;
        QString reason;
        explicit operator bool() const { return error != Error::None; }
    };

    bool openDevice();
    // Opens the .part into `file`, locked and cut to what the run keeps; the
    // steps below, in this order.
    bool openPart(QFile &file);
    // The .part to write: a new run's, a file of our own in the folder, or
    // the one the plan of a continued run holds open. fd -1 with the error set.
    OwnFile openOwnPart(const QByteArray &name);
    // A continued run's .part is still the file, under the name, that the plan read.
    StepFailure samePartAsPlanned(int fd) const;
    // Locks the open .part and makes sure that it is still the file under its name.
    StepFailure lockOwnPart(int fd, const QByteArray &name, struct stat &opened) const;
    // A stopped dump in the .part is only started again when that was asked for.
    StepFailure refuseToCutStoppedDump(const struct stat &opened);
    // The bytes that a continued run keeps count for the size and the SHA-256.
    StepFailure hashKeptBytes(int fd, const struct stat &opened);
    // Cuts the .part to the bytes the run keeps (none for a new run).
    StepFailure cutToKeptBytes(int fd) const;
    // Writes wait for the disk like those of any file, and go to its end;
    // `file` takes over the descriptor.
    StepFailure handToFile(QFile &file, int fd) const;
    // Makes way for the received file under its name; false with the error set.
    bool keepEarlierDump(bool &replace);
    bool isPartFile() const;
    bool saveRecord();
    bool writeAll(const QByteArray &bytes);
    // The reason defaults to the device's own error text.
    void fail(Error error, const QString &reason = QString());

    Opener m_opener;
    NameTag m_nameTag;
    std::unique_ptr<QIODevice> m_device;
    QString m_name;
    QString m_path;
    QString m_header = DumpName::HeaderPrefix;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_size = 0;
    bool m_committed = false;
    bool m_hasFile = false;
    qint64 m_keepBytes = 0; // of the .part continued by continueFrom()
    qint64 m_headerBytes = 0;
    ContinuePlan m_plan;     // while continueFrom() opens the .part
    bool m_continued = false;
    StartAgain m_startAgain = StartAgain::Any;
    QString m_startAgainName;
    int m_stoppedWholeBlocks = 0;
    qint64 m_stoppedBytes = 0;
    bool m_stoppedMayContinue = false;
    PartRecord m_record;
    QString m_devicePath;
    QString m_deviceId;
    QString m_previousKeptAs;
    // The output folder, opened when the run was asked for: every look at the
    // .part and every rename goes through it, whatever happens to the path
    // meanwhile. m_isPart: the device is the .part in it.
    OutputFolder m_folder;
    bool m_isPart = false;
    // The .part this run created or took over.
    quint64 m_partDevice = 0;
    quint64 m_inode = 0;
    Error m_error = Error::None;
    QString m_errorString;
};

} // namespace tarvik
