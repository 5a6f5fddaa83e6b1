// SPDX-License-Identifier: GPL-3.0-or-later
// One fuzzed conversation: a dump run against a loader that says whatever the
// input makes it say, cut into reads wherever the input cuts it, with Close
// clicks, port losses, stalls and failing files in between.
//
// Beside the run goes a plain model of what the run must do with exactly
// these reads. At the end of every run (after the user's final Close) the two
// are compared: the bytes on the wire, the log, the model label, the progress,
// the message boxes, the file's place and its bytes. On top of that the port
// itself records any send after the run finished or on a closed port.
//
// Encoding. The input starts with the parameters of a run (6 bytes), then a
// list of operations until the input ends. Missing bytes read as 0.
//
//   Parameters
//     flags     bit 0 header option ticked; bit 1 full read (start 0, 1024
//               blocks); bit 2 Close is clicked while the file error's
//               message box is up; bits 4-6 the file: 0-3 in memory, 4 cannot
//               be created, 5 no device at all, 6 fills up after `limit`
//               bytes, 7 a real folder on disk; bit 3 the run leaves a
//               stopped dump's .part alone instead of starting it afresh (as
//               the command line does); bit 7 with a real folder: the run
//               continues a stopped dump of an earlier run of the input when
//               the folder holds one (see "Continuing" below)
//     start     2 bytes, big-endian, taken modulo 32768; bit 15 when
//               continuing: the range is given, and must be the stopped run's
//     count     1 byte (the start is lowered so that the last block is 32767 at most)
//     loseAt    1 byte: the port is lost at this send of the run (0: never)
//     limit     1 byte: times 128, the bytes the file takes before it is full;
//               when continuing, low nibble: which of the stopped dumps (modulo
//               their number); high nibble: what the world does to it (see
//               "Forged" below)
//
//   Continuing. Of the .part files in the folder (each with its record), in
//   name order, the one that `limit` picks is planned with planContinue(). When
//   the plan takes it up, the run starts through Session::resume(); when the
//   plan starts afresh, a plain run over the stopped run's range; when the
//   plan refuses it, a plain run with the parameters as given.
//
//   Forged. Before it is planned, the picked dump's record is forged: 1 its
//   count 600, 2 its count 0, 3 its range past the flash's last block, 4 its
//   whole_blocks one more than the .part holds, 5 a range that its name does
//   not hold (a full read's name: 1023 blocks; any other: a KUP header),
//   6 a link to a copy outside the folder in its place, 7 a second (hard)
//   link to it outside the folder, 8 another user's (when the harness runs as
//   root; else nothing), 10 no record at all (garbage), 11 a FIFO in its
//   place, 12 a folder in its place. A plan that refuses must leave the .part,
//   the record's entry and everything outside the folder as they were; the
//   harness then puts the record back. 9: the .part is replaced by a copy of
//   itself between planning and taking up: the run must then stop when it
//   would cut it, and leave the copy and the record as they are.
//
//   Operations: one byte, kind = low nibble modulo 10, arg = high nibble.
//   Loader bytes are collected in a pending buffer until a delivery.
//     0 TEXT     arg 0: next byte n, then n bytes appended
//       KEPT     arg > 0: the reply to the block last asked for on the wire,
//                as the stopped dump being continued holds it (nothing when
//                it holds no such block): its data and check byte. arg & 2:
//                one data byte changed (next byte, times 4, says which);
//                arg & 4: wrong check byte; arg & 8: everything pending
//                arrives as one read afterwards
//     1 MARKER   the marker arg % 3 ("PC___", "0000", "1984") appended
//     2 BLOCK    next byte: seed of 1024 generated data bytes, then the
//                check byte. arg & 1: wrong check byte (next byte picks how
//                wrong); arg & 2: a model name at offset 8 (next byte m:
//                length m & 0x7F, then the name; a 0 follows unless m & 0x80);
//                arg & 4: reply length changed by the next byte (signed);
//                arg & 8: everything pending arrives as one read afterwards
//     3 TOTAL    the sum of all generated data bytes of the run; arg & 1
//                makes it wrong by 1 + (arg >> 1 & 3); arg & 8 delivers afterwards
//     4 DELIVER  next 2 bytes n (big-endian): the first n pending bytes
//                arrive in one read (0: all of them)
//     5 CHUNKS   next byte c: everything pending arrives in reads of c + 1 bytes
//     6 CLOSE    the user clicks Close
//     7 LOSE     the adapter goes away
//     8 STALL    the loader stays silent until the stall time-out has passed
//     9 RESTART  Close, then a new run in the same window with the next 6
//                bytes as its parameters
#include "conversation.h"

#include "dump/dumprun.h"
#include "dump/stoppeddump.h"
#include "dump/session.h"
#include "memoryport.h"
#include "support/faultyfile.h"
#include "support/recorder.h"
#include "support/sessionprobe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QMetaEnum>
#include <QRegularExpression>
#include <QMap>
#include <QTemporaryDir>

#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace tarvik::fuzz {

namespace {

const QString LostReason = QStringLiteral("Input/output error");
const QString LogClosed = QStringLiteral("Serial port closed.\r\n");
const QByteArray CrLf = QByteArrayLiteral("\r\n");
constexpr int BlockSize = 1024;
constexpr int FullReadBlocks = 1024;
constexpr int MaxBlock = 32767;
constexpr int LimitUnit = 128;
constexpr int MaxNameBytes = 255;
// A dump is received as "<name>.part", with its record "<name>.part.state" beside it.
const QString PartSuffix = QStringLiteral(".part");
const QString RecordSuffix = QStringLiteral(".state");
constexpr int ReceivingBytes = 11; // ".part.state"
// A stopped dump with this many whole blocks is worth keeping.
constexpr int StoppedWorthKeeping = 2;
// A run that continues one compares at most this many of its kept blocks before block k-2.
constexpr int MostSamples = 15;

enum FileMode { InMemory = 0, CannotCreate = 4, NoDevice = 5, FillsUp = 6, RealFolder = 7 };
// What is done to a stopped dump before a run continues it.
enum Forgery {
    NotForged, Count600, CountZero, PastFlash, MoreWholeBlocks, RangeNotName, RecordLink, RecordHardLink,
    OtherOwner, ReplacePart, Garbage, Fifo, Folder
};

class Reader
{
public:
    Reader(const uint8_t *data, size_t size) : m_data(data), m_size(size) { }
    bool atEnd() const { return m_pos >= m_size; }
    quint8 byte() { return atEnd() ? 0 : m_data[m_pos++]; }
    quint16 word()
    {
        const quint16 high = byte();
        return quint16(high << 8 | byte());
    }
    QByteArray bytes(int n)
    {
        QByteArray out;
        for (int i = 0; i < n; ++i)
            out += char(byte());
        return out;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

struct RunParams {
    bool ticked = false;
    bool closeInMessage = false;
    bool keepStopped = false;
    bool resume = false;
    bool rangeGiven = false;
    int pick = 0; // of the stopped dumps, when resuming
    int forge = 0; // what is done to it first (see "Forged")
    int fileMode = InMemory;
    qint16 start = 0;
    qint16 count = 0;
    int loseAt = 0;
    qint64 limit = -1; // no limit

    bool fullRead() const { return start == 0 && count == FullReadBlocks; }
    bool headerDue() const { return fullRead() && ticked; }
};

RunParams readParams(Reader &in)
{
    const quint8 flags = in.byte();
    RunParams p;
    p.ticked = flags & 1;
    p.closeInMessage = flags & 4;
    p.keepStopped = flags & 8;
    p.fileMode = (flags >> 4) & 7;
    p.resume = flags & 0x80;
    const quint16 startWord = in.word();
    p.rangeGiven = startWord & 0x8000;
    int start = startWord & MaxBlock;
    int count = in.byte();
    if (flags & 2) {
        start = 0;
        count = FullReadBlocks;
    }
    start = qMin(start, MaxBlock + 1 - qMax(count, 1));
    p.start = qint16(start);
    p.count = qint16(count);
    p.loseAt = in.byte();
    const int limitUnits = in.byte();
    p.pick = limitUnits & 0x0F;
    p.forge = limitUnits >> 4;
    if (p.fileMode == FillsUp)
        p.limit = qint64(limitUnits) * LimitUnit;
    return p;
}

QString four(int n)
{
    return QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
}

QString hex(const QByteArray &block, int index)
{
    return QStringLiteral("%1").arg(uchar(block.at(index)), 2, 16, QLatin1Char('0')).toUpper();
}

int byteSum(const QByteArray &bytes)
{
    int sum = 0;
    for (char c : bytes)
        sum += uchar(c);
    return sum;
}

// Bytes 8 up to the first 0 of the data, or to the end of the data.
QByteArray modelBytes(const QByteArray &data)
{
    const qsizetype zero = data.indexOf('\0', 8);
    return data.mid(8, zero < 0 ? -1 : zero - 8);
}

// The model that the label shows and the name is made from: the model bytes
// when they are 1 to 64 printable ASCII characters, none otherwise.
QString shownModel(const QByteArray &data)
{
    const QByteArray bytes = modelBytes(data);
    if (bytes.isEmpty() || bytes.size() > 64)
        return {};
    for (const char c : bytes) {
        if (c < 0x20 || c > 0x7E)
            return {};
    }
    return QString::fromLatin1(bytes);
}

// Where two texts part, for a readable report.
QString firstDifference(const QByteArray &actual, const QByteArray &expected)
{
    qsizetype i = 0;
    while (i < actual.size() && i < expected.size() && actual.at(i) == expected.at(i))
        ++i;
    const qsizetype from = qMax<qsizetype>(0, i - 24);
    return QStringLiteral("sizes %1 and %2, first difference at %3: got \"%4\", want \"%5\"")
            .arg(actual.size())
            .arg(expected.size())
            .arg(i)
            .arg(QString::fromLatin1(actual.mid(from, 64).toPercentEncoding()),
                 QString::fromLatin1(expected.mid(from, 64).toPercentEncoding()));
}

// ---- What the run must do ---------------------------------------------------

// A stopped dump that a run continues, as the runs before left it.
struct Continued {
    QString path;        // of the .part
    int start = 0;       // the stopped run's range
    int count = 0;
    int headerBytes = 0;
    QByteArray bytes;    // the .part as the stopped run left it

    int wholeBlocks() const { return int(qMax<qsizetype>(0, bytes.size() - headerBytes) / BlockSize); }
    bool holds(int n) const { return n >= start && n < start + wholeBlocks(); }
    QByteArray block(int n) const { return bytes.mid(headerBytes + qsizetype(n - start) * BlockSize, BlockSize); }
};

// The dump run's rules, played on the same events: which bytes go out, what
// the log says, what reaches the file and when the run finishes.
class Expected
{
public:
    enum class State { Handshake, Blocks, Total, Stopped, Ended };

    explicit Expected(const RunParams &p) : m_p(p), m_count(p.count) { }

    // A continuing run asks first for kept blocks of the stopped dump: from
    // the range's first block, at most 15 of those before k-2 spread evenly
    // (k: whole blocks in the .part), then for k-2 and every later block of
    // the range. Each of the first ones must come back as the .part holds it.
    void continueFrom(const Continued &stopped)
    {
        continued = stopped;
        headerBytes = stopped.headerBytes;
        const int k = stopped.wholeBlocks();
        const int before = k - 2;
        const int samples = qMin(before, MostSamples);
        for (int i = 0; i < samples; ++i) {
            // The i-th of them at i * (before - 1) / (samples - 1), rounded to the nearest (halves up).
            const int index = samples == 1 ? 0 : (2 * i * (before - 1) + samples - 1) / (2 * (samples - 1));
            m_requests.push_back(stopped.start + index);
        }
        m_compared = int(m_requests.size()) + 1;
        for (int n = stopped.start + k - 2; n < stopped.start + stopped.count; ++n)
            m_requests.push_back(n);
        m_count = int(m_requests.size());
    }

    // The progress after the i-th request's good block, in blocks of the
    // range: a continuing run starts at the k-2 blocks before its first new
    // one, and its compared kept blocks before k-2 add nothing.
    int progressAfter(int i) const
    {
        if (!continued)
            return i + 1;
        const int samples = m_compared - 1;
        return continued->wholeBlocks() - 2 + qMax(0, i + 1 - samples);
    }

    // The block of the i-th request of the run.
    int requested(int i) const
    {
        if (!continued)
            return m_p.start + i;
        return i < int(m_requests.size()) ? m_requests.at(size_t(i)) : -1;
    }

    void start()
    {
        m_open = true;
        enter(State::Handshake);
        log = QStringLiteral("sending request...\r\n");
        const QByteArray handshake[] = {
            "REQUEST_V616" + CrLf,
            "BL_FLASH_INFO" + CrLf,
            QByteArray::fromHex("4B4105162127827FE07FF07FFE400E0F101112131415161718191A1B4F4E") + CrLf,
            QByteArray(1, '\0'),
            "BL_FLASH_END" + CrLf,
        };
        for (const QByteArray &request : handshake) {
            if (!send(request))
                return;
        }
        if (continued)
            log += QStringLiteral("Continuing ") + continued->path + QStringLiteral(" from block ")
                   + four(requested(m_compared - 1)) + CrLf;
    }

    void deliver(const QByteArray &bytes)
    {
        if (!m_open || m_lost || bytes.isEmpty())
            return;
        m_buffer += bytes;
        switch (state) {
        case State::Handshake:
            handshakeRead();
            break;
        case State::Blocks:
        case State::Total:
            checkReply();
            break;
        case State::Stopped:
        case State::Ended:
            break;
        }
    }

    void stall()
    {
        if (state == State::Blocks || state == State::Total)
            stop(QStringLiteral("Timeout while receiving ") + awaited() + QStringLiteral("\r\n"),
                 QStringLiteral("timeout"));
    }

    // The window's closePort, from Close or from the run.
    void close()
    {
        if (!m_open)
            return;
        m_open = false;
        m_buffer.clear();
        if (waiting()) {
            ++finished;
            outcome = QStringLiteral("port-closed");
        }
        enter(State::Ended);
        log += LogClosed;
        // A run whose good blocks were all erased flash or zeros may not have read the flash at all.
        if (m_goodBlocks > 0 && m_blankBlocks == m_goodBlocks)
            log += QStringLiteral("Warning: every block read is blank (all 0xFF) or zero (all 0x00): the box "
                                  "may not have given its flash.\r\n");
    }

    void lose()
    {
        if (!m_open || m_lost)
            return;
        m_lost = true;
        m_buffer.clear();
        const bool notify = waiting();
        if (!notify && state != State::Stopped)
            return;
        if (!saved)
            outcome = QStringLiteral("port-lost");
        enter(State::Ended);
        log += QStringLiteral("Serial port lost: ") + LostReason + QStringLiteral("\r\n");
        close();
        if (notify)
            ++finished;
    }

    // Leaving the blocks for anything but the total, the run is at the block
    // it asked for last; the report says which.
    void enter(State next)
    {
        if (next == State::Handshake)
            endedAt = -1;
        else if (state == State::Blocks && next != State::Total)
            endedAt = number();
        state = next;
    }

    State state = State::Ended;
    int endedAt = -1;
    QString hardwareVersion; // of flash block 0, when the run read it
    QString softwareVersion;
    QByteArray wire;
    QString log;
    QStringList models;
    std::vector<int> progress;
    // The run has gone to its file: a fresh one at its first block, a
    // continuing one once the stopped dump proved to be of this box.
    bool fileBegun = false;
    bool saved = false; // the dump took its own name
    bool refused = false; // a stopped dump was in the way: nothing was written
    // The .part being continued was replaced after the plan read it.
    bool partReplaced = false;
    // How the run ended, as the record beside a .part names it.
    QString outcome;
    int headerBytes = 0;
    // With a real folder, from the world around: where an earlier dump of the
    // name is kept when this one takes it (empty: nowhere), and whether a
    // stopped dump's .part is in the way of a new one with this many header bytes.
    std::function<QString()> keepEarlier;
    std::function<bool(int headerBytes)> stoppedInTheWay;
    QByteArray firstBlock; // its data bytes
    QByteArray file;
    // The stopped dump this run continues, when it does.
    std::optional<Continued> continued;
    int messages = 0;
    int finished = 0;

private:
    struct Step {
        QByteArray marker;
        QByteArray then;
    };

    bool waiting() const
    {
        return state == State::Handshake || state == State::Blocks || state == State::Total;
    }

    bool send(const QByteArray &bytes)
    {
        if (m_p.loseAt > 0 && ++m_sends == m_p.loseAt) {
            lose();
            return false;
        }
        wire += bytes;
        return true;
    }

    void handshakeRead()
    {
        static const Step steps[] = {
            {"PC___", "REQUEST_START_BLOCK"},
            {"0000", "REQUEST_BLOCK"},
            {"1984", "REQUEST_DOWNLOAD"},
        };
        const Step &step = steps[m_marker];
        m_received += std::exchange(m_buffer, QByteArray());
        if (!m_received.contains(step.marker)) {
            m_received = m_received.right(step.marker.size() - 1);
            return;
        }
        m_received.clear();
        if (!send(step.then + CrLf))
            return;
        if (++m_marker < int(std::size(steps)))
            return;
        enter(State::Blocks);
        if (m_count > 0)
            requestBlock(0);
        else
            requestTotal();
    }

    qint16 number() const { return qint16(requested(m_index)); }

    QString awaited() const
    {
        return state == State::Total ? QStringLiteral("TOTALCRC") : QStringLiteral("BLOCK: ") + four(number());
    }

    void requestBlock(int index)
    {
        m_index = index;
        if (!send("REQUEST_1024DOWN:" + QByteArray::number(number()) + '\r'))
            return;
        log += QStringLiteral("REQUEST_1024DOWN:") + four(number()) + QStringLiteral("    ");
        m_awaited = BlockSize + 1;
        checkReply();
    }

    void requestTotal()
    {
        enter(State::Total);
        if (!send(QByteArrayLiteral("REQUEST_TOTALCRC\r")))
            return;
        log += QStringLiteral("REQUEST_TOTALCRC    ");
        m_awaited = 1;
        checkReply();
    }

    void checkReply()
    {
        if (m_buffer.size() < m_awaited)
            return;
        if (m_buffer.size() > m_awaited) {
            stop(QStringLiteral("Unexpected data while receiving ") + awaited() + QStringLiteral("\r\n"),
                 QStringLiteral("unexpected-data"));
            return;
        }
        const QByteArray reply = std::exchange(m_buffer, QByteArray());
        if (state == State::Blocks)
            blockArrived(reply);
        else
            totalArrived(reply);
    }

    void stop(const QString &line, const QString &why)
    {
        log += line;
        outcome = why;
        enter(State::Stopped);
        ++finished;
    }

    void blockArrived(const QByteArray &reply)
    {
        const QByteArray data = reply.left(BlockSize);
        const bool compared = continued && m_index < m_compared;
        if (compared) {
            if (!takeUp(data))
                return;
        } else if (m_index == 0) {
            fileBegun = true;
            firstBlock = data;
            const QByteArray model = modelBytes(data);
            models << shownModel(data);
            if (m_p.fileMode == CannotCreate || m_p.fileMode == NoDevice) {
                fileFailed();
                return;
            }
            QByteArray header;
            if (m_p.headerDue()) {
                header = "KAON0008B9"
                        + (hex(data, 54) + hex(data, 53) + hex(data, 52) + hex(data, 50)
                           + hex(data, 49) + hex(data, 48)).toLatin1()
                        + "0000000000C" + model + "x";
            }
            headerBytes = int(header.size());
            if (stoppedInTheWay && stoppedInTheWay(headerBytes)) {
                refused = true;
                fileFailed();
                return;
            }
            if (!header.isEmpty()) {
                if (!write(header)) {
                    fileFailed();
                    return;
                }
            }
        }
        // A compared block is in the file already.
        if (!compared && !write(data)) {
            fileFailed();
            return;
        }
        const int sum = byteSum(data) % 256;
        m_total += sum;
        const qint16 n = number();
        if (uchar(reply.at(BlockSize)) != sum) {
            stop(QStringLiteral("CRC Error while receiving BLOCK: ") + four(n) + QStringLiteral("\r\n"),
                 QStringLiteral("check-error"));
            return;
        }
        ++m_goodBlocks;
        // Flash block 0, good: the report gives its versions, as the KUP header does.
        if (m_index == 0 && n == 0) {
            hardwareVersion = hex(data, 54) + u'.' + hex(data, 53) + u'.' + hex(data, 52);
            softwareVersion = hex(data, 50) + u'.' + hex(data, 49) + u'.' + hex(data, 48);
        }
        if (data.count('\xFF') == BlockSize || data.count('\0') == BlockSize)
            ++m_blankBlocks;
        if (!send("1024DOWN_SUCCESS:" + QByteArray::number(n) + '\r'))
            return;
        log += QStringLiteral("1024DOWN_SUCCESS:") + four(n) + QStringLiteral("\r\n");
        progress.push_back(progressAfter(m_index));
        if (m_index + 1 < m_count)
            requestBlock(m_index + 1);
        else
            requestTotal();
    }

    // A block that a continuing run compares with the stopped dump: the model
    // comes from the dump's first block; another box, or a changed flash,
    // stops the run with the .part and its record untouched. After the last
    // of them, the file is the .part without its last whole block.
    bool takeUp(const QByteArray &data)
    {
        if (m_index == 0)
            models << shownModel(continued->block(continued->start));
        const int n = number();
        if (data != continued->block(n)) {
            stop(QStringLiteral("Block ") + four(n) + QStringLiteral(" differs from ") + continued->path
                         + QStringLiteral(": not the same box, or its flash changed: start again from block ")
                         + QString::number(continued->start) + CrLf,
                 QStringLiteral("not-same-box"));
            return false;
        }
        if (m_index == m_compared - 1) {
            if (partReplaced) {
                fileBegun = true;
                refused = true;
                fileFailed();
                return false;
            }
            fileBegun = true;
            file = continued->bytes.left(continued->headerBytes
                                         + qsizetype(continued->wholeBlocks() - 1) * BlockSize);
        }
        return true;
    }

    void totalArrived(const QByteArray &reply)
    {
        const int received = uchar(reply.at(0));
        if (received == m_total % 256) {
            // The dump takes its name, and the log says so, before the box
            // hears of it: a port lost while it is told leaves a good run.
            outcome = QStringLiteral("ok");
            saved = true;
            const QString keptAs = keepEarlier ? keepEarlier() : QString();
            log += QStringLiteral("TOTALCRC OK!\r\nTransfer succesfull!\r\n");
            if (!keptAs.isEmpty())
                log += QStringLiteral("The earlier dump of this name is kept as ") + keptAs + CrLf;
            if (!send(QByteArrayLiteral("DOWN_SUCCESS\r")))
                return;
        } else {
            outcome = QStringLiteral("total-mismatch");
            log += QStringLiteral("TOTALCRC Error! (expected %1, received %2)\r\n")
                           .arg(QString::asprintf("%02X", m_total % 256), QString::asprintf("%02X", received));
        }
        if (!send("UPGRADE_SUCCESS" + CrLf))
            return;
        enter(State::Ended);
        close();
        ++finished;
    }

    // A file that fills up takes what fits, then refuses.
    bool write(const QByteArray &bytes)
    {
        if (m_p.limit < 0 || file.size() + bytes.size() <= m_p.limit) {
            file += bytes;
            return true;
        }
        file += bytes.left(m_p.limit - file.size());
        return false;
    }

    void fileFailed()
    {
        log += QStringLiteral("Dump file error while receiving BLOCK: ") + four(number())
               + QStringLiteral("\r\n");
        outcome = QStringLiteral("file-error");
        enter(State::Ended);
        ++messages;
        close();
        ++finished;
    }

    RunParams m_p;
    bool m_open = false;
    bool m_lost = false;
    int m_sends = 0;
    QByteArray m_buffer;   // arrived, not read
    QByteArray m_received; // the current marker wait's text
    int m_marker = 0;
    int m_index = 0;
    int m_awaited = 0;
    int m_total = 0;
    int m_count = 0; // blocks asked for
    int m_goodBlocks = 0;  // with a right check byte
    int m_blankBlocks = 0; // of those, all 0xFF or all 0x00
    // A continuing run's blocks, in the order asked for, and how many of the
    // first are compared with the stopped dump.
    std::vector<int> m_requests;
    int m_compared = 0;
};

// ---- The run's surroundings -------------------------------------------------

// One window with its port and run, for all runs of one input.
class World
{
public:
    World()
    {
        m_session.setStallTimeout(0); // fires at the next look at the event queue, and only then
        QObject::connect(&m_run, &DumpRun::finished, [this] {
            ++m_finished;
            m_port.seal();
        });
        m_session.setFileOpener([this](const QString &path) -> std::unique_ptr<QIODevice> {
            auto record = std::make_shared<FileRecord>();
            record->path = path;
            m_files.push_back(record);
            switch (m_params.fileMode) {
            case NoDevice:
                record->closed = true; // nothing to close
                return nullptr;
            case RealFolder:
                return std::make_unique<QFile>(path);
            default:
                return std::make_unique<FaultyMemoryFile>(
                    FileFault{m_params.limit, m_params.fileMode == CannotCreate}, record);
            }
        });
    }

    void begin(const RunParams &params)
    {
        m_params = params;
        m_files.clear();
        m_finished = 0;
        m_host.closeInMessage = params.closeInMessage;
        m_host.models.clear();
        m_host.progress.clear();
        m_host.reports.clear();
        m_host.messages.clear();
        m_port.clearWire();
        m_port.unseal();
        m_port.loseAtSend(params.loseAt);
        m_pending.clear();
        m_loaderSum = 0;

        m_folder = QStringLiteral("/tarvik-fuzz-memory/out/");
        if (params.fileMode == RealFolder) {
            // One folder for all runs of the input: a later run finds the files of the earlier ones.
            if (!m_disk) {
                m_disk = std::make_unique<QTemporaryDir>();
                if (!m_disk->isValid() || !QDir(m_disk->path()).mkdir(QStringLiteral("out")))
                    m_problems << QStringLiteral("no temporary folder for the real file");
            }
            m_folder = m_disk->path() + QStringLiteral("/out/");
        }

        m_source.reset();
        ContinuePlan plan;
        if (params.fileMode == RealFolder && params.resume && !m_records.isEmpty())
            plan = planToContinue();
        const bool continuing = plan.continues();
        m_expected.emplace(m_params);
        if (continuing)
            m_expected->continueFrom(*m_source);

        m_session.setStartAgain(params.keepStopped ? DumpFile::StartAgain::Never : DumpFile::StartAgain::Any);
        if (params.fileMode == RealFolder) {
            m_written.clear();
            for (auto it = m_onDisk.cbegin(); it != m_onDisk.cend(); ++it)
                m_written.insert(it.key(), QFileInfo(m_folder + it.key()).lastModified());
            m_keptAs.clear();
            m_expected->keepEarlier = [this] { return keepEarlier(); };
            m_expected->stoppedInTheWay = [this](int headerBytes) { return stoppedInTheWay(headerBytes); };
        }

        if (continuing && params.forge == ReplacePart)
            m_expected->partReplaced = replacePart(plan.partName);

        m_port.open();
        if (continuing)
            m_session.continueDump(plan);
        else
            m_session.start(m_params.start, m_params.count, m_folder, m_params.ticked);
        m_expected->start();
        compareStage();
    }

    // The user's last Close, then every check of the run.
    void finish()
    {
        close();
        m_port.loseAtSend(0);
        checkRun();
    }

    void play(Reader &in)
    {
        while (!in.atEnd() && m_problems.isEmpty()) {
            const quint8 op = in.byte();
            const int arg = op >> 4;
            switch ((op & 0x0F) % 10) {
            case 0:
                if (arg == 0)
                    m_pending += in.bytes(in.byte());
                else
                    appendKept(in, arg);
                break;
            case 1: {
                static const QByteArray markers[] = {"PC___", "0000", "1984"};
                m_pending += markers[arg % 3];
                break;
            }
            case 2:
                appendBlock(in, arg);
                break;
            case 3:
                m_pending += char((m_loaderSum + ((arg & 1) ? 1 + (arg >> 1 & 3) : 0)) % 256);
                if (arg & 8)
                    deliver(m_pending.size());
                break;
            case 4: {
                const int n = in.word();
                deliver(n == 0 ? m_pending.size() : n);
                break;
            }
            case 5: {
                const int chunk = in.byte() + 1;
                while (!m_pending.isEmpty())
                    deliver(chunk);
                break;
            }
            case 6:
                close();
                break;
            case 7:
                m_port.lose(LostReason);
                m_expected->lose();
                break;
            case 8:
                QCoreApplication::processEvents();
                m_expected->stall();
                break;
            case 9:
                finish();
                begin(readParams(in));
                break;
            }
            compareStage();
        }
    }

    QStringList problems() const { return m_problems; }

private:
    void appendBlock(Reader &in, int arg)
    {
        quint32 x = (quint32(in.byte()) + 1) * 0x9E3779B1u ^ quint32(++m_blocksMade) * 0x85EBCA77u;
        QByteArray data(BlockSize, '\0');
        for (qsizetype i = 0; i < data.size(); i += 4) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            std::memcpy(data.data() + i, &x, 4);
        }
        const int wrongBy = (arg & 1) ? 1 + in.byte() % 255 : 0;
        if (arg & 2) {
            const quint8 m = in.byte();
            const int length = m & 0x7F;
            data.replace(8, length, in.bytes(length));
            if (!(m & 0x80))
                data[8 + length] = '\0';
        }
        const int sum = byteSum(data);
        m_loaderSum += sum;
        QByteArray reply = data + char((sum + wrongBy) % 256);
        if (arg & 4) {
            const int change = qint8(in.byte());
            reply = change < 0 ? reply.chopped(-change) : reply + data.left(change);
        }
        m_pending += reply;
        if (arg & 8)
            deliver(m_pending.size());
    }

    // The box answers the block last asked for as the stopped dump holds it.
    void appendKept(Reader &in, int arg)
    {
        const int changeAt = (arg & 2) ? in.byte() * 4 : -1;
        static const QByteArray request = QByteArrayLiteral("REQUEST_1024DOWN:");
        const QByteArray &wire = m_port.wire();
        const qsizetype at = wire.lastIndexOf(request);
        if (at < 0 || !m_source)
            return;
        const qsizetype from = at + request.size();
        const qsizetype end = wire.indexOf('\r', from);
        bool number = false;
        const int n = wire.mid(from, end < 0 ? -1 : end - from).toInt(&number);
        if (!number || !m_source->holds(n))
            return;
        QByteArray data = m_source->block(n);
        if (changeAt >= 0)
            data[changeAt] = char(data.at(changeAt) ^ 1);
        const int sum = byteSum(data);
        m_loaderSum += sum;
        m_pending += data + char((sum + ((arg & 4) ? 1 : 0)) % 256);
        if (arg & 8)
            deliver(m_pending.size());
    }

    struct RecordWant {
        int wholeBlocks = 0;
        QString stoppedBy;
        // The range of the run that wrote the .part, and its header's bytes.
        int start = 0;
        int count = 0;
        int headerBytes = 0;
    };

    // The plan for the stopped dump that the parameters pick, checked against
    // what the runs before say of it. A record of a run that found the whole
    // transfer bad or another box is refused, and so is one of another range
    // when a range is given, one that is no range of the flash or not one
    // that the .part's name holds, and one that counts more than the .part
    // holds; fewer than two whole blocks start afresh, over the stopped run's
    // range. The record may be forged first (see "Forged").
    ContinuePlan planToContinue()
    {
        const QStringList parts = m_records.keys();
        const QString part = parts.at(m_params.pick % parts.size());
        RecordWant record = m_records.value(part);
        m_source = Continued{m_folder + part, record.start, record.count, record.headerBytes, m_onDisk.value(part)};
        const Forged forged = forgeRecord(part, record);
        const int k = m_source->wholeBlocks();
        const bool ok = forged.readable && record.stoppedBy != QStringLiteral("total-mismatch")
                        && record.stoppedBy != QStringLiteral("not-same-box")
                        && (!m_params.rangeGiven || (record.start == m_params.start && record.count == m_params.count))
                        && record.count >= 1 && record.start >= 0 && record.start + record.count <= FullReadBlocks
                        && rangeFitsName(part, record.start, record.count, forged.header)
                        && forged.header == (m_source->headerBytes > 0) && k <= record.count
                        && record.wholeBlocks <= k;
        const bool fresh = ok && k < StoppedWorthKeeping;
        ContinuePlan plan = planContinue(OutputFolder::open(m_folder), part, m_params.start, m_params.count,
                                         m_params.rangeGiven);
        if (!plan.refused() != ok || (plan.answer == ContinuePlan::Answer::StartAgain) != fresh) {
            problem(QStringLiteral("the plan for %1 (forged: %2) says ok %3, afresh %4 (%5); want %6, %7")
                            .arg(part)
                            .arg(m_params.forge)
                            .arg(!plan.refused())
                            .arg(plan.answer == ContinuePlan::Answer::StartAgain)
                            .arg(plan.error)
                            .arg(ok)
                            .arg(fresh));
            return {};
        }
        if (plan.refused() && plan.error.isEmpty())
            problem(QStringLiteral("the plan for %1 refuses it without a reason").arg(part));
        if (forged.forged) {
            if (plan.refused()) {
                plan = {}; // lets the .part go before it is looked at
                checkUntouched(part, forged);
                restoreRecord(part, forged);
                return {};
            }
            // What the forged record says is what the run carries on with.
            m_records.insert(part, record);
            m_source->count = record.count;
        }
        if (fresh) {
            m_params.start = qint16(record.start);
            m_params.count = qint16(record.count);
        }
        return plan;
    }

    // The model's rule for which ranges a .part's name holds: a read of the
    // whole flash has the model's name (with "_conv" when it has a KUP
    // header), any other range the partial read's name.
    static bool rangeFitsName(const QString &part, int start, int count, bool header)
    {
        const QString stem = QStringLiteral("FlashDump");
        const bool partialName = part.startsWith(stem)
                                 && (part.mid(stem.size(), 1) == u"_" || part.mid(stem.size()) == QStringLiteral(".bin.part"));
        const bool fullRead = start == 0 && count == FullReadBlocks;
        if (header && (!part.endsWith(QStringLiteral("_conv.bin.part")) || !fullRead))
            return false;
        return partialName || fullRead;
    }

    // What a forgery left where the record was, and beside the folder.
    struct Forged {
        bool forged = false;
        bool readable = true;  // a record of ours can still be read there
        bool header = false;   // what it says of a KUP header
        QByteArray original;   // the record's bytes before
        QByteArray entry;      // its bytes after (of what a link leads to)
        QString outside;       // a file beside the folder that the forgery made
        QByteArray outsideBytes;
        QStringList listing;   // the folder's entries after
    };

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static bool writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
    }

    QStringList folderListing() const
    {
        QStringList names = QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
        names.sort();
        return names;
    }

    static QByteArray withValue(QByteArray text, const QByteArray &key, const QByteArray &value)
    {
        QList<QByteArray> lines = text.split('\n');
        for (QByteArray &line : lines) {
            if (line.startsWith(key + '='))
                line = key + '=' + value;
        }
        return lines.join('\n');
    }

    // Forges the record of `part` as the parameters ask, and says what a
    // plan should read from it: `record` takes the forged range.
    Forged forgeRecord(const QString &part, RecordWant &record)
    {
        Forged f;
        f.header = record.headerBytes > 0;
        const QString path = m_folder + part + RecordSuffix;
        f.original = readFile(path);
        const QString outside = m_disk->path() + QStringLiteral("/beside");
        QByteArray text = f.original;
        switch (m_params.forge) {
        case Count600:
            record.count = 600;
            text = withValue(text, "count", "600");
            break;
        case CountZero:
            record.count = 0;
            text = withValue(text, "count", "0");
            break;
        case PastFlash:
            record.count = FullReadBlocks + 1 - record.start;
            text = withValue(text, "count", QByteArray::number(record.count));
            break;
        case MoreWholeBlocks:
            record.wholeBlocks = m_source->wholeBlocks() + 1;
            text = withValue(text, "whole_blocks", QByteArray::number(record.wholeBlocks));
            break;
        case RangeNotName:
            if (record.start == 0 && record.count == FullReadBlocks) {
                record.count = FullReadBlocks - 1;
                text = withValue(text, "count", QByteArray::number(record.count));
            } else {
                f.header = true;
                text = withValue(text, "header", "yes");
            }
            break;
        case RecordLink:
            f.readable = false;
            f.outside = outside;
            f.outsideBytes = f.original;
            if (!writeFile(outside, f.original) || !QFile::remove(path) || !QFile::link(outside, path))
                problem(QStringLiteral("cannot put a link in place of the record"));
            break;
        case RecordHardLink:
            f.readable = false;
            f.outside = outside;
            f.outsideBytes = f.original;
            if (::link(QFile::encodeName(path).constData(), QFile::encodeName(outside).constData()) != 0)
                problem(QStringLiteral("cannot link the record"));
            break;
        case OtherOwner:
            if (::geteuid() != 0)
                return f;
            f.readable = false;
            if (::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
                problem(QStringLiteral("cannot give the record to another user"));
            break;
        case Garbage:
            f.readable = false;
            text = QByteArrayLiteral("start=x\n");
            break;
        case Fifo:
        case Folder:
            f.readable = false;
            if (!QFile::remove(path)
                || (m_params.forge == Fifo ? ::mkfifo(QFile::encodeName(path).constData(), 0600) != 0
                                           : !QDir().mkdir(path)))
                problem(QStringLiteral("cannot put something else in place of the record"));
            break;
        default:
            return f;
        }
        if (text != f.original && !writeFile(path, text))
            problem(QStringLiteral("cannot forge the record"));
        f.forged = true;
        f.entry = m_params.forge == Fifo || m_params.forge == Folder ? QByteArray() : readFile(path);
        f.listing = folderListing();
        return f;
    }

    // A refused plan changed nothing: not the .part, not what is at the
    // record's name, not what lies beside the folder.
    void checkUntouched(const QString &part, const Forged &f)
    {
        const QString path = m_folder + part + RecordSuffix;
        if (readFile(m_folder + part) != m_onDisk.value(part))
            problem(QStringLiteral("a refused plan changed %1").arg(part));
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
            problem(QStringLiteral("a refused plan removed the record of %1").arg(part));
        } else {
            const bool sameKind = m_params.forge == Fifo         ? S_ISFIFO(st.st_mode)
                                  : m_params.forge == Folder     ? S_ISDIR(st.st_mode)
                                  : m_params.forge == RecordLink ? S_ISLNK(st.st_mode)
                                                                 : S_ISREG(st.st_mode);
            if (!sameKind || (S_ISREG(st.st_mode) && readFile(path) != f.entry)
                || (m_params.forge == RecordLink && readFile(path) != f.entry))
                problem(QStringLiteral("a refused plan changed what is at the record of %1").arg(part));
        }
        if (!f.outside.isEmpty() && readFile(f.outside) != f.outsideBytes)
            problem(QStringLiteral("a refused plan wrote outside the folder"));
        if (folderListing() != f.listing)
            problem(QStringLiteral("a refused plan changed the folder: %1").arg(folderListing().join(u',')));
    }

    void restoreRecord(const QString &part, const Forged &f)
    {
        const QString path = m_folder + part + RecordSuffix;
        if (m_params.forge == Folder)
            QDir().rmdir(path);
        else
            QFile::remove(path);
        if (!f.outside.isEmpty())
            QFile::remove(f.outside);
        if (!writeFile(path, f.original))
            problem(QStringLiteral("cannot put the record of %1 back").arg(part));
    }

    // Between the plan and the run, the .part is replaced by a copy of itself.
    bool replacePart(const QString &part)
    {
        const QString copy = m_folder + QStringLiteral("copy");
        if (!writeFile(copy, m_onDisk.value(part)) || ::rename(QFile::encodeName(copy).constData(),
                                                               QFile::encodeName(m_folder + part).constData()) != 0) {
            problem(QStringLiteral("cannot replace %1").arg(part));
            return false;
        }
        return true;
    }

    void deliver(qsizetype n)
    {
        const QByteArray bytes = m_pending.left(n);
        m_pending.remove(0, bytes.size());
        m_port.deliver(bytes);
        m_expected->deliver(bytes);
    }

    void close()
    {
        m_host.closePort();
        m_expected->close();
    }

    void problem(const QString &what) { m_problems << what; }

    static DumpRun::Stage runStage(Expected::State state)
    {
        switch (state) {
        case Expected::State::Handshake:
            return DumpRun::Stage::Handshake;
        case Expected::State::Blocks:
            return DumpRun::Stage::Blocks;
        case Expected::State::Total:
            return DumpRun::Stage::Total;
        case Expected::State::Stopped:
            return DumpRun::Stage::Stopped;
        case Expected::State::Ended:
            break;
        }
        return DumpRun::Stage::Idle;
    }

    void compareStage()
    {
        const DumpRun::Stage want = runStage(m_expected->state);
        if (m_run.stage() != want) {
            const QMetaEnum names = QMetaEnum::fromType<DumpRun::Stage>();
            problem(QStringLiteral("the run is in stage %1, it should be in %2")
                            .arg(QLatin1String(names.valueToKey(int(m_run.stage()))),
                                 QLatin1String(names.valueToKey(int(want)))));
        }
        // A stopped run keeps its file open for the user to close.
        if (want == DumpRun::Stage::Stopped && m_expected->fileBegun && !m_run.dumpFileOpen())
            problem(QStringLiteral("a stopped run closed its file"));
    }

    void checkRun()
    {
        const Expected &want = *m_expected;
        for (const QString &fault : m_port.faults())
            problem(QStringLiteral("port: ") + fault);
        m_port.clearFaults();

        if (m_port.wire() != want.wire)
            problem(QStringLiteral("wire: ") + firstDifference(m_port.wire(), want.wire));
        if (m_host.log != want.log)
            problem(QStringLiteral("log: ") + firstDifference(m_host.log.toLatin1(), want.log.toLatin1()));
        checkBlockNumbers();
        if (m_host.models != want.models)
            problem(QStringLiteral("model label: got %1 captions, want %2")
                            .arg(m_host.models.size())
                            .arg(want.models.size()));
        if (std::vector<int>(m_host.progress.cbegin(), m_host.progress.cend()) != want.progress)
            problem(QStringLiteral("progress: got %1 steps, want %2")
                            .arg(m_host.progress.size())
                            .arg(want.progress.size()));
        if (!m_host.reports.isEmpty()
            && (m_host.reports.constLast().hardwareVersion != want.hardwareVersion
                || m_host.reports.constLast().softwareVersion != want.softwareVersion))
            problem(QStringLiteral("report: versions %1 %2, want %3 %4")
                            .arg(m_host.reports.constLast().hardwareVersion, m_host.reports.constLast().softwareVersion,
                                 want.hardwareVersion, want.softwareVersion));
        if (!m_host.reports.isEmpty() && m_host.reports.constLast().endedAtBlock != want.endedAt)
            problem(QStringLiteral("report: ended at block %1, want %2")
                            .arg(m_host.reports.constLast().endedAtBlock)
                            .arg(want.endedAt));
        if (m_host.messages.size() != want.messages)
            problem(QStringLiteral("message boxes: got %1 (%2), want %3")
                            .arg(m_host.messages.size())
                            .arg(m_host.messages.join(QStringLiteral(" | ")))
                            .arg(want.messages));
        if (m_finished != want.finished)
            problem(QStringLiteral("finished() emitted %1 times, want %2").arg(m_finished).arg(want.finished));
        if (m_port.isOpen() || m_run.stage() != DumpRun::Stage::Idle || m_run.dumpFileOpen())
            problem(QStringLiteral("after Close the port, the run or the file is still open"));
        checkFile();
    }

    // Every block number that the log names is the one that went out on the wire.
    void checkBlockNumbers()
    {
        static const QRegularExpression wireRequests(QStringLiteral("REQUEST_1024DOWN:(\\d+)\r"));
        static const QRegularExpression logRequests(QStringLiteral("REQUEST_1024DOWN:(\\d{4,})    "));
        static const QRegularExpression wireAcks(QStringLiteral("1024DOWN_SUCCESS:(\\d+)\r"));
        static const QRegularExpression logAcks(QStringLiteral("1024DOWN_SUCCESS:(\\d{4,})\r\n"));
        const auto numbers = [](const QRegularExpression &re, const QString &text) {
            std::vector<int> out;
            for (const QRegularExpressionMatch &m : re.globalMatch(text))
                out.push_back(m.captured(1).toInt());
            return out;
        };
        const QString wire = QString::fromLatin1(m_port.wire());
        const std::vector<int> requests = numbers(wireRequests, wire);
        if (numbers(logRequests, m_host.log) != requests)
            problem(QStringLiteral("the log's block requests differ from the wire's"));
        if (numbers(logAcks, m_host.log) != numbers(wireAcks, wire))
            problem(QStringLiteral("the log's acknowledgements differ from the wire's"));
        for (size_t i = 0; i < requests.size(); ++i) {
            if (requests.at(i) != m_expected->requested(int(i))) {
                problem(QStringLiteral("request %1 asked for block %2").arg(i).arg(requests.at(i)));
                break;
            }
        }
    }

    void checkFile()
    {
        const Expected &want = *m_expected;
        if (!want.fileBegun) {
            if (!m_files.empty())
                problem(QStringLiteral("a file was opened before the first block arrived, or before the "
                                       "stopped dump proved to be of this box"));
            if (m_params.fileMode == RealFolder)
                checkFolder();
            return;
        }
        if (m_files.size() != 1) {
            problem(QStringLiteral("%1 files were opened for one run").arg(m_files.size()));
            return;
        }
        const FileRecord &file = *m_files.front();
        const QString name = m_run.dumpFileName();
        const QString part = name + QStringLiteral(".part");
        if (file.path != m_folder + part)
            problem(QStringLiteral("the file went to \"%1\", not into the folder").arg(file.path));
        checkName(name);
        if (m_params.fileMode == RealFolder) {
            // Only a good dump takes its own name, and its record goes; any
            // other stays as received, with a record of how far its run got
            // and why it ended. A stopped dump that was in the way stays as it was.
            if (want.saved) {
                if (!m_keptAs.isEmpty())
                    m_onDisk.insert(m_keptAs, m_onDisk.value(name));
                m_onDisk.insert(name, want.file);
                m_onDisk.remove(part);
                m_records.remove(part);
            } else if (!want.refused) {
                // A continued dump's record carries on; a fresh one is of this run.
                RecordWant record = want.continued ? m_records.value(part)
                                                   : RecordWant{0, QString(), m_params.start, m_params.count,
                                                                want.headerBytes};
                record.wholeBlocks = int(qMax<qsizetype>(0, want.file.size() - want.headerBytes) / BlockSize);
                record.stoppedBy = want.outcome;
                m_onDisk.insert(part, want.file);
                m_records.insert(part, record);
            }
            checkFolder();
            return;
        }
        if (!file.closed)
            problem(QStringLiteral("the file is still open after Close"));
        if (file.data != want.file)
            problem(QStringLiteral("file: ") + firstDifference(file.data, want.file));
        if (!m_host.messages.isEmpty() && !m_host.messages.front().contains(file.path))
            problem(QStringLiteral("the error message does not name the path: ") + m_host.messages.front());
    }

    // The file's name: the read's own, from the model with nothing that leaves
    // the folder, whole unless the folder's entry cannot hold it.
    void checkName(const QString &name)
    {
        // A continued dump keeps the name of its .part.
        if (const auto &continued = m_expected->continued) {
            if (m_folder + name + PartSuffix != continued->path)
                problem(QStringLiteral("the run continued %1 as \"%2\"").arg(continued->path, name));
            return;
        }
        if (!m_params.fullRead()) {
            if (name != QStringLiteral("FlashDump.bin"))
                problem(QStringLiteral("a partial read wrote \"%1\"").arg(name));
            return;
        }
        const QByteArray &first = m_expected->firstBlock;
        QString suffix = QStringLiteral(".bin");
        if (m_params.ticked) {
            suffix = QStringLiteral("_HW%1.%2.%3_SW%4.%5.%6_conv.bin")
                             .arg(hex(first, 54), hex(first, 53), hex(first, 52), hex(first, 50),
                                  hex(first, 49), hex(first, 48));
        }
        const QString model = shownModel(first);
        const QString part = name.chopped(qMin(name.size(), suffix.size()));
        bool fromModel = name.endsWith(suffix) && part.size() <= model.size();
        for (qsizetype i = 0; fromModel && i < part.size(); ++i)
            fromModel = part.at(i) == model.at(i) || part.at(i) == u'_';
        if (model.isEmpty())
            fromModel = part == QStringLiteral("FlashDump");
        if (!fromModel)
            problem(QStringLiteral("the name \"%1\" is not made from the model").arg(name));
        for (QChar c : name) {
            if (c == u'/' || c.unicode() < 0x20)
                problem(QStringLiteral("the name \"%1\" holds U+%2").arg(name).arg(c.unicode(), 4, 16));
        }
        if (name.startsWith(u'.'))
            problem(QStringLiteral("the name \"%1\" is hidden").arg(name));
        // The file is received under the name with ".part" after it, and its record beside it.
        if (QFile::encodeName(name).size() + ReceivingBytes > MaxNameBytes)
            problem(QStringLiteral("the name is longer than a folder entry can hold"));
        if (!model.isEmpty() && QFile::encodeName(model + suffix).size() + ReceivingBytes <= MaxNameBytes
            && part.size() != model.size())
            problem(QStringLiteral("the name \"%1\" was cut though it fits").arg(name));
    }

    // On disk, the folder holds the dump files of the runs so far, byte for
    // byte, a record beside each .part and nothing else; its parent holds
    // nothing else either.
    void checkFolder()
    {
        const QStringList around = QDir(m_disk->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        if (around != QStringList{QStringLiteral("out")})
            problem(QStringLiteral("next to the folder: ") + around.join(u','));
        QStringList inside = QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        QStringList want = m_onDisk.keys();
        for (auto it = m_records.cbegin(); it != m_records.cend(); ++it)
            want << it.key() + RecordSuffix;
        inside.sort();
        want.sort();
        if (inside != want) {
            problem(QStringLiteral("in the folder: %1; want %2").arg(inside.join(u','), want.join(u',')));
            return;
        }
        for (auto it = m_onDisk.cbegin(); it != m_onDisk.cend(); ++it) {
            QFile disk(m_folder + it.key());
            if (!disk.open(QIODevice::ReadOnly))
                problem(QStringLiteral("%1 cannot be read: %2").arg(it.key(), disk.errorString()));
            else if (const QByteArray bytes = disk.readAll(); bytes != it.value())
                problem(QStringLiteral("%1 on disk: %2").arg(it.key(), firstDifference(bytes, it.value())));
        }
        for (auto it = m_records.cbegin(); it != m_records.cend(); ++it)
            checkRecord(it.key(), it.value());
    }


    // The record beside a .part: its range, whether it has a header, its
    // whole blocks and why its run ended.
    void checkRecord(const QString &part, const RecordWant &want)
    {
        QFile disk(m_folder + part + RecordSuffix);
        if (!disk.open(QIODevice::ReadOnly)) {
            problem(QStringLiteral("the record of %1 cannot be read: %2").arg(part, disk.errorString()));
            return;
        }
        QMap<QString, QString> values;
        for (const QByteArray &line : disk.readAll().split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (!line.startsWith('#') && eq > 0)
                values.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
        }
        const QString whole = QString::number(want.wholeBlocks);
        if (values.value(QStringLiteral("whole_blocks")) != whole || values.value(QStringLiteral("stopped_by")) != want.stoppedBy)
            problem(QStringLiteral("the record of %1 says %2 whole blocks, stopped by \"%3\"; want %4, \"%5\"")
                            .arg(part, values.value(QStringLiteral("whole_blocks")),
                                 values.value(QStringLiteral("stopped_by")), whole, want.stoppedBy));
        const QString range = QStringLiteral("%1 %2 %3").arg(want.start).arg(want.count).arg(
                want.headerBytes > 0 ? QStringLiteral("yes") : QStringLiteral("no"));
        const QString recorded = QStringList{values.value(QStringLiteral("start")), values.value(QStringLiteral("count")),
                                             values.value(QStringLiteral("header"))}.join(u' ');
        if (recorded != range)
            problem(QStringLiteral("the record of %1 gives start, count and header \"%2\"; want \"%3\"")
                            .arg(part, recorded, range));
    }

    // A good dump whose name holds other bytes keeps them under a name that
    // says when they were written: "<stem>.<date>[-n].bin", the stem cut to
    // fit a folder entry. Same bytes are simply replaced. The full path, or
    // empty when nothing is kept.
    QString keepEarlier()
    {
        const QString name = m_run.dumpFileName();
        const auto earlier = m_onDisk.constFind(name);
        if (earlier == m_onDisk.cend() || *earlier == m_expected->file)
            return {};
        const QString plain = QStringLiteral(".bin");
        const bool binary = name.endsWith(plain);
        const QString stem = binary ? name.chopped(plain.size()) : name;
        const QString suffix = binary ? plain : QString();
        const QString date = m_written.value(name).toString(QStringLiteral("yyyy-MM-dd_HHmmss"));
        for (int attempt = 1;; ++attempt) {
            const QString mark = u'.' + date + (attempt > 1 ? u'-' + QString::number(attempt) : QString());
            QString cut = stem;
            while (!cut.isEmpty() && QFile::encodeName(cut + mark + suffix).size() > MaxNameBytes)
                cut.chop(1);
            if (!m_onDisk.contains(cut + mark + suffix)) {
                m_keptAs = cut + mark + suffix;
                return m_folder + m_keptAs;
            }
        }
    }

    // With a stopped dump kept, a new run does not cut a .part of at least
    // two whole blocks (after the header that the new run would write).
    bool stoppedInTheWay(int headerBytes) const
    {
        if (!m_params.keepStopped)
            return false;
        const auto part = m_onDisk.constFind(m_run.dumpFileName() + PartSuffix);
        return part != m_onDisk.cend()
               && qMax<qsizetype>(0, part->size() - headerBytes) / BlockSize >= StoppedWorthKeeping;
    }

    Session m_session{std::make_unique<MemoryPort>()};
    MemoryPort &m_port = static_cast<MemoryPort &>(portOf(m_session));
    DumpRun &m_run = runOf(m_session);
    // The window around the run.
    Recorder m_host{m_session};
    RunParams m_params;
    std::optional<Expected> m_expected;
    std::vector<std::shared_ptr<FileRecord>> m_files;
    std::unique_ptr<QTemporaryDir> m_disk;
    // What the real folder holds: each file's bytes, and the record due beside each .part.
    QMap<QString, QByteArray> m_onDisk;
    QMap<QString, RecordWant> m_records;
    // When each file of the folder was last written, as a run began.
    QMap<QString, QDateTime> m_written;
    // The stopped dump that this run was to continue, as it was before the run.
    std::optional<Continued> m_source;
    // Where this run's good dump keeps an earlier one of its name.
    QString m_keptAs;
    QString m_folder;
    int m_finished = 0;
    QByteArray m_pending;
    int m_loaderSum = 0;
    quint32 m_blocksMade = 0;
    QStringList m_problems;
};

} // namespace

QStringList playConversation(const uint8_t *data, size_t size)
{
    Reader in(data, size);
    World world;
    world.begin(readParams(in));
    world.play(in);
    world.finish();
    return world.problems();
}

} // namespace tarvik::fuzz
