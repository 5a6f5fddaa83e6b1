// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/nextstep.h"
#include "dump/partrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

struct stat;

namespace tarvik {

// An open file descriptor, closed with the last copy of the handle that holds it.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor();
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd = -1;
};

// The output folder of a run, opened once when the run is asked for: every
// later look, open, rename, record write and commit goes through this
// descriptor, whatever becomes of the path meanwhile.
class OutputFolder
{
public:
    OutputFolder() = default;
    // Opens `path` (links in it are followed: that path is the user's choice)
    // and checks that it takes a dump (with `mustWrite`, that it is writable).
    static OutputFolder open(const QString &path, bool mustWrite = true);

    bool isOpen() const { return m_fd != nullptr; }
    int fd() const { return m_fd ? m_fd->fd() : -1; }
    // As the user gave it, for messages.
    QString path() const { return m_path; }
    // Why it cannot take a dump, in words for the user; empty when it can.
    QString problem() const { return m_problem; }
    // The system's reason (an errno) when it could not be opened at all; 0 otherwise.
    int openError() const { return m_openError; }
    QString filePath(const QString &name) const;

private:
    std::shared_ptr<const Descriptor> m_fd;
    QString m_path;
    QString m_problem;
    int m_openError = 0;
};

// A stopped dump, from finding its .part to continuing it.
//
// A run stops at its first bad block, so of the k whole blocks in the .part
// only the last can be bad. The continued run asks for the blocks from k-2 to
// the end of the range: block k-2 must come back byte for byte as the .part
// holds it (the same box, the same flash), and the blocks from k-1 on
// replace the .part's tail.
//
// The plan is made once: the .part is opened then and kept open, its record
// read beside it and checked against it. What the plan read is what the run
// continues: the .part's device, inode and size are checked again before the
// first byte of it is cut.
struct ContinuePlan {
    static constexpr int MinWholeBlocks = 2;

    // The block a run goes on from when its .part holds `wholeBlocks` whole
    // blocks of a range from `startBlock`, and the blocks of the earlier run
    // that stay in the dump.
    static qint16 continuesFrom(qint16 startBlock, int wholeBlocks) { return qint16(startBlock + wholeBlocks - 2); }
    static int keptBlocks(int wholeBlocks) { return wholeBlocks - 1; }

    // What the program does with the stopped dump.
    enum class Answer {
        Continue,   // from firstRequested()
        StartAgain, // fewer than MinWholeBlocks whole blocks: nothing worth keeping
        Refused,    // `error` says why, `next` what works instead; nothing was cut
    };
    Answer answer = Answer::Refused;
    QString error;
    NextStep next = NextStep::None;

    OutputFolder folder;
    QString partName;
    QString partPath;       // for messages: the folder's path and partName
    qint16 startBlock = 0;  // of the stopped run's range
    qint16 blockCount = 0;
    bool header = false;    // the .part starts with a KUP header
    qint64 headerBytes = 0;
    int wholeBlocks = 0;    // k
    QByteArray compareBlock; // the data of block k-2, as the .part holds it
    QString model;          // from the .part's first block
    // The record beside the .part, when there is one: it gives the range.
    bool hasRecord = false;
    PartRecord record;

    // The .part as the plan read it, open for reading and writing.
    std::shared_ptr<const Descriptor> part;
    quint64 partDevice = 0;
    quint64 partInode = 0;
    qint64 partSize = 0;

    // Kept blocks that the continued run asks for again and compares before
    // block k-2 (the range's first block and up to MaxSamples-1 more, spread
    // evenly), and their data as the .part holds it.
    static constexpr int MaxSamples = 15;
    QList<qint16> samples;
    QList<QByteArray> sampleData;

    bool continues() const { return answer == Answer::Continue; }
    bool refused() const { return answer == Answer::Refused; }
    // The first block the continued run goes on from (k-2), and how many
    // blocks it asks for in all, samples included.
    qint16 firstRequested() const { return continuesFrom(startBlock, wholeBlocks); }
    qint16 requestedCount() const { return qint16(samples.size() + startBlock + blockCount - firstRequested()); }
    // The blocks asked for, in order: the samples, then k-2 to the end of the range.
    QList<qint16> requests() const;
    // How many of them are compared with the .part: the samples and k-2.
    int comparedCount() const { return int(samples.size()) + 1; }
    int keptBlocks() const { return keptBlocks(wholeBlocks); }
    // The block the stopped run ended at: the last whole one in the .part.
    qint16 stoppedAt() const { return qint16(startBlock + wholeBlocks - 1); }
    // What stays of the .part: the header and the blocks before k-1.
    qint64 keepBytes() const { return headerBytes + qint64(keptBlocks()) * 1024; }
    // Why the .part open as `now` is no longer the file that was planned;
    // empty when it is.
    QString changedSincePlanned(const struct stat &now) const;
};

// Plans to continue the stopped dump in `partName` in `folder`. The record
// beside the .part gives the range; without one, the range is startBlock,
// blockCount. A range given (`rangeGiven`) that is not the record's is
// refused, and so is a record that disagrees with the .part or says that it
// cannot be trusted, and a record that is not a file of our own. Whether it
// carries a KUP header is told by its name ("_conv.bin.part") and checked
// against its bytes. Reads without following a link or blocking.
ContinuePlan planContinue(const OutputFolder &folder, const QString &partName, qint16 startBlock,
                          qint16 blockCount, bool rangeGiven = true);

// The name of the .part in `folder` whose record says that it stopped over
// the same range and header option, whether or not it may be continued; the
// most recently written when there are several, empty when there is none.
QString findStoppedDump(const OutputFolder &folder, qint16 startBlock, qint16 blockCount, bool header);

// What the window asks before its run would cut a stopped dump.
struct StoppedDumpQuestion {
    bool ask = false;          // there is a stopped dump worth asking about
    bool offerContinue = false;
    QString text;
    ContinuePlan plan;
};
// The stopped dump in `folder` that a run over this range would meet: the one
// the last run left (`lastPartName`, when there is one that counts), else one
// whose record says it stopped over this range.
StoppedDumpQuestion stoppedDumpQuestion(const OutputFolder &folder, const QString &lastPartName,
                                        qint16 startBlock, qint16 blockCount, bool header);

} // namespace tarvik
