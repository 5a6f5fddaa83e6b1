// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/dumprun.h"

#include "dump/portloss.h"
#include "dump/protocol.h"
#include "dump/serialservice.h"
#include "dump/text.h"

namespace tarvik {

namespace {

using namespace protocol;

const QString LogStart = QStringLiteral("sending request...\r\n");
const QString LogGap = QStringLiteral("    ");
const QString LogEol = QStringLiteral("\r\n");
const QString LogCrcError = QStringLiteral("CRC Error while receiving BLOCK: ");
const QString LogTotalOk = QStringLiteral("TOTALCRC OK!\r\n");
const QString LogTotalError = QStringLiteral("TOTALCRC Error! (expected %1, received %2)\r\n");
const QString LogSuccess = QStringLiteral("Transfer succesfull!\r\n");
const QString LogContinuing = QStringLiteral("Continuing %1 from block %2\r\n");
const QString LogNotSameBox = QStringLiteral(
        "Block %1 differs from %2: not the same box, or its flash changed: start again from block %3\r\n");
const QString LogPreviousKept = QStringLiteral("The earlier dump of this name is kept as %1\r\n");
const QString LogAlreadyClosed = QStringLiteral("Serial port closed\r\n");
const QString LogUnexpected = QStringLiteral("Unexpected data while receiving ");
const QString LogTimeout = QStringLiteral("Timeout while receiving ");
const QString LogFileError = QStringLiteral("Dump file error while receiving ");
const QString LogLost = QStringLiteral("Serial port lost: ");
const QString ContinueInWindow = QStringLiteral("Open");
const QString LogWhatBlock = QStringLiteral("BLOCK: ");
const QString LogWhatTotal = QStringLiteral("TOTALCRC");

constexpr int ByteValues = 256;
const QByteArray LoneZero(1, '\0');

// What a reply wait was for, as its log lines name it.
QString whatAwaited(DumpRun::Stage stage, qint16 n)
{
    return stage == DumpRun::Stage::Total ? LogWhatTotal : LogWhatBlock + DumpRun::logNumber(n);
}

} // namespace

DumpRun::DumpRun(SerialService &port, DumpFile &file, QObject *parent)
    : QObject(parent), m_port(port), m_file(file)
{
    connect(&m_stall, &ClockTimer::timeout, this, &DumpRun::onStall);
    connect(&m_port, &SerialService::readyRead, this, &DumpRun::onReadyRead);
    connect(&m_port, &SerialService::portLost, this, &DumpRun::onPortLost);
}

DumpRun::~DumpRun() = default;

void DumpRun::setStallTimeout(int ms)
{
    m_stallMs = ms;
}

void DumpRun::setClock(Clock &clock)
{
    m_stall.setClock(clock);
}

QString DumpRun::logNumber(qint16 n)
{
    const QString digits = QStringLiteral("%1").arg(qAbs(int(n)), 4, 10, QLatin1Char('0'));
    return n < 0 ? u'-' + digits : digits;
}

void DumpRun::start(qint16 startBlock, qint16 blockCount, const OutputFolder &folder)
{
    m_continued = ContinuePlan();
    m_order.clear();
    begin(startBlock, blockCount, folder);
}

void DumpRun::continueDump(const ContinuePlan &plan)
{
    m_continued = plan;
    m_order = plan.requests();
    begin(plan.firstRequested(), plan.requestedCount(), plan.folder);
    if (active())
        emit logAppended(LogContinuing.arg(plan.partPath, logNumber(plan.firstRequested())));
}

void DumpRun::begin(qint16 startBlock, qint16 blockCount, const OutputFolder &folder)
{
    m_stall.stop();
    m_file.reset();
    m_startBlock = startBlock;
    m_blockCount = blockCount;
    m_folder = folder;

    emit logReplaced(LogStart);
    m_modelText.clear();
    m_totalSum = 0;
    setOutcome(Outcome::None);
    m_port.discardInput();

    setStage(Stage::Handshake);
    m_endedAtBlock = -1;
    m_marker = 0;
    if (!send(VersionRequest + LineEnd) || !send(FlashInfoRequest + LineEnd)
        || !send(FlashInfoRecord + LineEnd) || !send(LoneZero) || !send(FlashInfoEnd + LineEnd))
        return;
    awaitMarker();
}

bool DumpRun::active() const
{
    return m_stage == Stage::Handshake || m_stage == Stage::Blocks || m_stage == Stage::Total;
}

void DumpRun::setStage(Stage stage)
{
    if (m_stage == stage)
        return;
    if (m_stage == Stage::Blocks && stage != Stage::Total)
        m_endedAtBlock = blockNumber();
    m_stage = stage;
}

bool DumpRun::send(const QByteArray &bytes)
{
    m_port.send(bytes);
    // A failing port may end the run from inside the write.
    return active();
}

bool DumpRun::end()
{
    m_stall.stop();
    const bool notify = m_stage != Stage::Stopped;
    setStage(Stage::Idle);
    return notify;
}

void DumpRun::awaitMarker()
{
    m_receiveText.clear();
    // The marker waits look at the port before every read: a closed port ends the run.
    if (!m_port.isOpen() && end())
        emit finished();
}

void DumpRun::onReadyRead()
{
    switch (m_stage) {
    case Stage::Handshake:
        handshakeRead();
        break;
    case Stage::Blocks:
    case Stage::Total:
        checkReply();
        break;
    case Stage::Idle:
    case Stage::Stopped:
        break;
    }
}

void DumpRun::handshakeRead()
{
    if (!m_port.isOpen()) {
        if (end())
            emit finished();
        return;
    }
    m_receiveText += m_port.readText();
    const HandshakeStep &step = Handshake[m_marker];
    if (!m_receiveText.contains(step.marker)) {
        // Only the tail can still become part of the marker.
        const qsizetype keep = step.marker.size() - 1;
        if (m_receiveText.size() > keep)
            m_receiveText.remove(0, m_receiveText.size() - keep);
        return;
    }
    // Whatever came after the marker in this read goes with the receive text.
    m_receiveText.clear();
    if (!send(step.request + LineEnd))
        return;
    if (++m_marker < HandshakeSteps) {
        awaitMarker();
        return;
    }
    setStage(Stage::Blocks);
    if (m_blockCount > 0)
        requestBlock(0);
    else
        requestTotal();
}

qint16 DumpRun::blockNumber() const
{
    if (m_blockIndex < m_order.size())
        return m_order.at(m_blockIndex);
    return qint16(m_startBlock + m_blockIndex);
}

void DumpRun::requestBlock(int index)
{
    m_blockIndex = index;
    const qint16 n = blockNumber();
    if (!send(BlockRequest + QByteArray::number(n) + RequestEnd))
        return;
    emit logAppended(QString::fromLatin1(BlockRequest) + logNumber(n) + LogGap);
    m_awaited = BlockReplySize;
    watchForStall();
    checkReply();
}

void DumpRun::requestTotal()
{
    setStage(Stage::Total);
    if (!send(TotalRequest + RequestEnd))
        return;
    emit logAppended(QString::fromLatin1(TotalRequest) + LogGap);
    m_awaited = TotalReplySize;
    watchForStall();
    checkReply();
}

void DumpRun::checkReply()
{
    const int waiting = m_port.bytesWaiting();
    if (waiting < m_awaited)
        return;
    if (waiting == m_awaited) {
        m_replyBytes = m_port.readBytes();
        if (m_replyBytes.size() == m_awaited) {
            m_stall.stop();
            if (m_stage == Stage::Blocks)
                blockArrived();
            else
                totalArrived();
            return;
        }
    }
    stop(Outcome::UnexpectedData, LogUnexpected + whatAwaited(m_stage, blockNumber()) + LogEol);
}

void DumpRun::watchForStall()
{
    m_stall.start(m_stallMs);
}

// A reply is due whole within the time-out of its request: a box that trickles
// a byte now and then does not keep a run alive.
void DumpRun::onStall()
{
    if (m_stage != Stage::Blocks && m_stage != Stage::Total)
        return;
    stop(Outcome::Timeout, LogTimeout + whatAwaited(m_stage, blockNumber()) + LogEol);
}

void DumpRun::setOutcome(Outcome outcome, const QString &text)
{
    m_outcome = outcome;
    m_outcomeText = text;
    if (m_outcomeText.endsWith(LogEol))
        m_outcomeText.chop(LogEol.size());
}

void DumpRun::stop(Outcome outcome, const QString &logLine)
{
    setOutcome(outcome, logLine);
    m_stall.stop();
    emit logAppended(logLine);
    setStage(Stage::Stopped);
    emit finished();
}

void DumpRun::blockArrived()
{
    const qint16 n = blockNumber();
    const bool compared = m_continued.continues() && m_blockIndex < m_continued.comparedCount();
    if (compared) {
        if (!compareWithStoppedDump())
            return;
    } else if (m_blockIndex == 0) {
        m_modelText = DumpName::modelText(m_replyBytes);
        emit modelReported(DumpName::modelName(m_modelText));
        if (m_writeFile && !m_file.begin(m_folder, m_startBlock, m_blockCount, m_headerTicked,
                                         m_modelText, m_replyBytes)) {
            failFile();
            return;
        }
    }
    // The blocks that a continued run compares are in the .part already.
    if (m_writeFile && !compared && !m_file.appendBlock(m_replyBytes)) {
        failFile();
        return;
    }

    const QByteArray data = m_replyBytes.left(BlockSize);
    const int blockSum = checkValue(data);
    m_totalSum += blockSum;

    if (uchar(m_replyBytes.at(BlockSize)) != blockSum) {
        stop(Outcome::CheckError, LogCrcError + logNumber(n) + LogEol);
        return;
    }
    emit blockReceived(m_blockIndex, data);
    if (!active() || !send(BlockAck + QByteArray::number(n) + RequestEnd))
        return;
    emit logAppended(QString::fromLatin1(BlockAck) + logNumber(n) + LogEol);
    const int done = m_blockIndex + 1;
    emit progressed(done);
    if (done < m_blockCount)
        requestBlock(done);
    else
        requestTotal();
}

bool DumpRun::compareWithStoppedDump()
{
    if (m_blockIndex == 0) {
        m_modelText = m_continued.model;
        emit modelReported(DumpName::modelName(m_modelText));
    }
    const bool last = m_blockIndex == m_continued.comparedCount() - 1;
    const QByteArray &kept = last ? m_continued.compareBlock : m_continued.sampleData.at(m_blockIndex);
    if (m_replyBytes.left(BlockSize) != kept) {
        stop(Outcome::NotSameBox, LogNotSameBox.arg(logNumber(blockNumber()), m_continued.partPath,
                                                    QString::number(m_continued.startBlock)));
        return false;
    }
    // Every compared block held: the .part is continued once, at the last of them.
    if (!last)
        return true;
    if (m_writeFile && !m_file.continueFrom(m_continued)) {
        failFile();
        return false;
    }
    return true;
}

void DumpRun::totalArrived()
{
    m_totalSum %= ByteValues;
    const int received = uchar(m_replyBytes.at(0));
    const bool matched = received == m_totalSum;
    // No success for a dump that is no longer on disk, or never reached it.
    // Only a good dump takes its own name; any other stays as received.
    if (m_file.isOpen() && !(matched ? m_file.commit() : m_file.sync())) {
        failFile();
        return;
    }
    const QString totalLine = matched ? LogTotalOk : LogTotalError.arg(hexByte(quint8(m_totalSum)), hexByte(quint8(received)));
    setOutcome(matched ? Outcome::Success : Outcome::TotalMismatch, matched ? QString() : totalLine);
    if (matched) {
        // The dump is saved: said before the box is told, so that a port lost
        // while it is told can't hide it.
        emit logAppended(totalLine);
        emit logAppended(LogSuccess);
        if (!m_file.previousKeptAs().isEmpty())
            emit logAppended(LogPreviousKept.arg(m_file.previousKeptAs()));
        if (!send(TotalAck + RequestEnd))
            return;
    } else {
        emit logAppended(totalLine);
    }
    if (!send(Closing + LineEnd))
        return;
    end();
    if (!m_port.isOpen())
        emit logAppended(LogAlreadyClosed);
    emit finished();
}

void DumpRun::failFile()
{
    const QString message = m_file.errorMessage();
    setOutcome(Outcome::FileError, message);
    emit logAppended(LogFileError + whatAwaited(m_stage, blockNumber()) + LogEol);
    end();
    emit finished();
}

void DumpRun::portClosed()
{
    if (!active() && m_stage != Stage::Stopped)
        return;
    if (active())
        setOutcome(Outcome::PortClosed, LogAlreadyClosed);
    if (end())
        emit finished();
}

void DumpRun::onPortLost(const QString &reason, bool disconnected)
{
    if (!active() && m_stage != Stage::Stopped)
        return;
    const bool notify = end();
    // A dump saved before the box was told of it stays a good one: there is
    // nothing to continue.
    const bool saved = m_outcome == Outcome::Success;
    const QString text = LogLost
            + (disconnected && !saved
                       ? disconnectText(m_port.devicePath(), m_continueWith ? m_continueWith() : ContinueInWindow)
                       : reason);
    if (!saved)
        setOutcome(Outcome::PortLost, text);
    emit logAppended(text + LogEol);
    if (notify)
        emit finished();
}

} // namespace tarvik
