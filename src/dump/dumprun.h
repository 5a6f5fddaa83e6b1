// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/clock.h"
#include "dump/dumpfile.h"
#include "dump/stoppeddump.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace tarvik {

class SerialService;

// The exchange with the set-top box's boot loader that reads its flash:
// handshake, block requests with their checks, the total check and the closing
// message (see protocol.h). Event-driven: it reacts to the port's readyRead
// and to a stall timer, and never waits in a loop. What it has to say goes out
// as signals; the Session around it closes the port and the file, and tells
// the run when it closed the port under it.
//
// Once the run has ended (closing message sent, port closed or lost, file
// error) or stopped (bad check byte, unexpected data, stall), it sends nothing
// more. A stopped run leaves the port and the dump file open until the session
// is closed.
class DumpRun : public QObject
{
    Q_OBJECT
public:
    enum class Stage { Idle, Handshake, Blocks, Total, Stopped };
    Q_ENUM(Stage)
    // How the last run ended.
    enum class Outcome {
        None,           // not ended yet
        Success,        // all blocks and the total check held
        TotalMismatch,  // all blocks held, the total check did not
        CheckError,
        UnexpectedData,
        Timeout,
        PortLost,
        PortClosed,     // closed from outside (Close) before the end
        FileError,
        NotSameBox,     // a continued run found other data than the stopped one had
    };
    Q_ENUM(Outcome)

    static constexpr int DefaultStallMs = 10000;

    // The run writes the blocks into `file`, which its owner closes.
    DumpRun(SerialService &port, DumpFile &file, QObject *parent = nullptr);
    ~DumpRun() override;

    // Starts the run once the port is open: replaces the log, resets the run's
    // fields and sends the opening requests. The dump goes into `folder`.
    void start(qint16 startBlock, qint16 blockCount, const OutputFolder &folder);
    // Lets go of the run's output folder after the run has ended.
    void releaseFolder() { m_folder = OutputFolder(); }
    // Starts a run that continues the .part of a stopped one (see ContinuePlan):
    // a partial read from the plan's first requested block whose compared
    // blocks must equal the .part's, and whose blocks then replace the .part's tail.
    void continueDump(const ContinuePlan &plan);
    // The header option, read when the first block has arrived.
    void setHeaderTicked(bool ticked) { m_headerTicked = ticked; }

    Stage stage() const { return m_stage; }
    QString modelText() const { return m_modelText; }
    QString dumpFileName() const { return m_file.name(); }
    bool dumpFileOpen() const { return m_file.isOpen(); }
    int totalSum() const { return m_totalSum; }

    // Without a dump file: the blocks only go out through blockReceived().
    void setWriteFile(bool write) { m_writeFile = write; }
    Outcome outcome() const { return m_outcome; }
    // The log line (without its line end) or message that tells why the run
    // did not succeed; empty on success.
    QString outcomeText() const { return m_outcomeText; }
    // The block the run was waiting for or checking when it ended among the
    // blocks; -1 when it ended elsewhere (handshake, total) or not yet.
    qint16 endedAtBlock() const { return m_endedAtBlock; }

    // The port was closed under the run (Close): a run still going ends as
    // closed, and a stopped one is over.
    void portClosed();

    // How the user goes on after a disconnected adapter, asked when it happens:
    // the window's Open (the default), or the command that continues the dump.
    void setContinuation(std::function<QString()> continueWith) { m_continueWith = std::move(continueWith); }

    // For tests: a shorter stall time-out than the ten seconds users get.
    void setStallTimeout(int ms);
    // For tests: the clock the stall watch goes by.
    void setClock(Clock &clock);

    // A block number as the log shows it: at least four digits.
    static QString logNumber(qint16 n);

signals:
    // The log: its whole text replaced, or a piece appended (lines end in CR LF).
    void logReplaced(const QString &text);
    void logAppended(const QString &text);
    // The model that the first block names (DumpName::modelName()); empty for none.
    void modelReported(const QString &model);
    // The number of good blocks so far.
    void progressed(int blocksDone);
    // The run ended: after the closing message, on a stop, or when the port
    // closed or was lost. Emitted once per run.
    void finished();
    // The data bytes of a block whose check byte held; index from 0 within the run.
    void blockReceived(int index, const QByteArray &data);

private:
    void onReadyRead();
    void onPortLost(const QString &reason, bool disconnected);
    void onStall();
    void watchForStall();

    bool active() const;
    void setStage(Stage stage);
    // Sends the bytes; false when the run ended meanwhile.
    bool send(const QByteArray &bytes);
    void begin(qint16 startBlock, qint16 blockCount, const OutputFolder &folder);
    // A block that a continued run compares with the .part; false when the run ended.
    bool compareWithStoppedDump();
    void awaitMarker();
    void handshakeRead();
    void requestBlock(int index);
    void requestTotal();
    void checkReply();
    void blockArrived();
    void totalArrived();
    void stop(Outcome outcome, const QString &logLine);
    void setOutcome(Outcome outcome, const QString &text = QString());
    void failFile();
    // Leaves the run; true when finished() is still due.
    bool end();
    qint16 blockNumber() const;

    SerialService &m_port;
    DumpFile &m_file;
    // The stall watch: armed at each request, the whole reply is due before it fires.
    ClockTimer m_stall;
    int m_stallMs = DefaultStallMs;
    Stage m_stage = Stage::Idle;
    qint16 m_startBlock = 0;
    qint16 m_blockCount = 0;
    OutputFolder m_folder;
    QString m_modelText;
    QByteArray m_replyBytes;
    int m_totalSum = 0;
    bool m_writeFile = true;
    ContinuePlan m_continued; // continues() while this run continues a stopped one
    QList<qint16> m_order; // the blocks asked for, when not the range in order
    bool m_headerTicked = false;
    Outcome m_outcome = Outcome::None;
    QString m_outcomeText;
    std::function<QString()> m_continueWith;

    int m_marker = 0;        // the handshake marker awaited
    QString m_receiveText;   // what the current marker wait has read
    int m_blockIndex = 0;    // the block awaited, from 0 within the run
    qint16 m_endedAtBlock = -1;
    int m_awaited = 0;       // bytes of the reply awaited
};

} // namespace tarvik
