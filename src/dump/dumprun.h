// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock.h"
#include "dumpfile.h"

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tarvik {

class DumpHost;
class SerialService;

// The exchange with the set-top box's boot loader that reads its flash:
// handshake, block requests with their checks, the total check and the closing
// message. Event-driven: it reacts to the port's readyRead and to a stall
// timer, and never waits in a loop.
//
// Once the run has ended (closing message sent, port closed or lost, file
// error) or stopped (bad check byte, unexpected data, stall), it sends nothing
// more. A stopped run leaves the port and the dump file open until the window's
// closePort closes them.
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
    };
    Q_ENUM(Outcome)

    static constexpr int ReplySize = DumpFile::BlockSize + 1;
    static constexpr int TotalReplySize = 1;
    static constexpr int DefaultStallMs = 10000;

    explicit DumpRun(SerialService &port, DumpHost &host, QObject *parent = nullptr);
    ~DumpRun() override;

    // Starts the run once the port is open: replaces the log, resets the run's
    // fields and sends the handshake. The folder is the output folder's text.
    void start(qint16 startBlock, qint16 blockCount, const QString &folder);
    // closePort closes the dump file through this.
    void closeDumpFile();

    Stage stage() const { return m_stage; }
    QString modelText() const { return m_modelText; }
    QString dumpFileName() const { return m_file.name(); }
    QString headerText() const { return m_file.header(); }
    bool dumpFileOpen() const { return m_file.isOpen(); }
    // The run's dump file: where it is, its size and SHA-256.
    const DumpFile &dumpFile() const { return m_file; }
    int blockSum() const { return m_blockSum; }
    int totalSum() const { return m_totalSum; }
    QByteArray replyBytes() const { return m_replyBytes; }

    // Without a dump file: the blocks only go out through blockReceived().
    void setWriteFile(bool write) { m_writeFile = write; }
    void setNameTag(DumpFile::NameTag tag) { m_file.setNameTag(std::move(tag)); }
    Outcome outcome() const { return m_outcome; }
    // The log line (without its line end) or message that tells why the run
    // did not succeed; empty on success.
    QString outcomeText() const { return m_outcomeText; }

    // For tests: a shorter stall time-out than the ten seconds users get.
    void setStallTimeout(int ms);
    // For tests: the clock the stall watch goes by.
    void setClock(Clock &clock);
    // For tests: where the dump file is opened.
    void setFileOpener(DumpFile::Opener opener);

    // A block number as the log shows it: at least four digits.
    static QString logNumber(qint16 n);

signals:
    void stageChanged(tarvik::DumpRun::Stage stage);
    // The run ended: after the closing message, on a stop, or when the port
    // closed or was lost. Emitted once per run.
    void finished();
    // The data bytes of a block whose check byte held; index from 0 within the run.
    void blockReceived(int index, const QByteArray &data);

private:
    void onReadyRead();
    void onPortClosed();
    void onPortLost(const QString &reason);
    void onStall();
    void watchForStall();

    bool active() const;
    void setStage(Stage stage);
    // Sends the bytes; false when the run ended meanwhile.
    bool send(const QByteArray &bytes);
    void awaitMarker();
    void handshakeRead();
    void requestBlock(int index);
    void requestTotal();
    void checkReply();
    void blockArrived();
    void totalArrived();
    void stop(Outcome outcome, const QString &logLine);
    void setOutcome(Outcome outcome, const QString &text = QString());
    void fileFailed();
    // Leaves the run; true when finished() is still due.
    bool end();
    qint16 blockNumber() const;

    SerialService &m_port;
    DumpHost &m_host;
    DumpFile m_file;
    // The stall watch: armed at each request, the whole reply is due before it fires.
    ClockTimer m_stall;
    int m_stallMs = DefaultStallMs;
    Stage m_stage = Stage::Idle;
    qint16 m_startBlock = 0;
    qint16 m_blockCount = 0;
    QString m_folder;
    QString m_modelText;
    QByteArray m_replyBytes;
    int m_blockSum = 0;
    int m_totalSum = 0;
    bool m_writeFile = true;
    Outcome m_outcome = Outcome::None;
    QString m_outcomeText;

    int m_marker = 0;        // the handshake marker awaited
    QString m_receiveText;   // what the current marker wait has read
    int m_blockIndex = 0;    // the block awaited, from 0 within the run
    int m_awaited = 0;       // bytes of the reply awaited
};

} // namespace tarvik
