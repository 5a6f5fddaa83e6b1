// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/partrecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace tarvik {

// How a stopped dump goes on from its .part instead of starting again.
//
// A run stops at its first bad block, so of the k whole blocks in the .part
// only the last can be bad. The resumed run asks for the blocks from k-2 to
// the end of the range: block k-2 must come back byte for byte as the .part
// holds it (the same box, the same flash), and the blocks from k-1 on
// replace the .part's tail.
struct ResumePlan {
    static constexpr int MinWholeBlocks = 2;

    // False with `error` set when the .part cannot be taken up at all.
    bool ok = false;
    QString error;
    // Fewer than MinWholeBlocks whole blocks: nothing worth keeping; the run
    // starts afresh from the range's first block.
    bool fresh = false;

    QString partPath;
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

    // Kept blocks that the resumed run asks for again and compares before
    // block k-2 (the range's first block and up to MaxSamples-1 more, spread
    // evenly), and their data as the .part holds it.
    static constexpr int MaxSamples = 15;
    QList<qint16> samples;
    QList<QByteArray> sampleData;

    // The first block the resumed run goes on from (k-2), and how many
    // blocks it asks for in all, samples included.
    qint16 firstRequested() const { return qint16(startBlock + wholeBlocks - 2); }
    qint16 requestedCount() const { return qint16(samples.size() + blockCount - (wholeBlocks - 2)); }
    // The blocks asked for, in order: the samples, then k-2 to the end of the range.
    QList<qint16> requests() const;
    // How many of them are compared with the .part: the samples and k-2.
    int comparedCount() const { return int(samples.size()) + 1; }
    // The blocks of the earlier run that stay in the dump (0 to k-2).
    int keptBlocks() const { return wholeBlocks - 1; }
    // The block the stopped run ended at: the last whole one in the .part.
    qint16 stoppedAt() const { return qint16(startBlock + wholeBlocks - 1); }
    // What stays of the .part: the header and the blocks before k-1.
    qint64 keepBytes() const { return headerBytes + qint64(wholeBlocks - 1) * 1024; }
};

// Reads the .part of a stopped run and the record beside it. The record gives
// the range; without one, the range is startBlock, blockCount. A range given
// (`rangeGiven`) that is not the record's is refused, and so is a .part whose
// record says that it cannot be trusted. Whether it carries a KUP header is
// told by its name ("_conv.bin.part") and checked against its bytes. Reads
// without following a link or blocking.
ResumePlan planResume(const QString &partPath, qint16 startBlock, qint16 blockCount, bool rangeGiven = true);

// The .part in `folder` whose record says that it stopped over the same
// range and header option, whether or not it may be continued; the most
// recently written when there are several, empty when there is none.
QString findStoppedDump(const QString &folder, qint16 startBlock, qint16 blockCount, bool header);

} // namespace tarvik
