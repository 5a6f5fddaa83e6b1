// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dump/dumpfile.h"
#include "dump/dumprun.h"
#include "dump/openfailure.h"
#include "dump/progressmeter.h"
#include "dump/runresult.h"
#include "dump/serialservice.h"

#include <QObject>
#include <QString>

#include <memory>

namespace tarvik {

// How a run ended, as the session reports it once the port and the file are
// closed.
struct RunReport {
    DumpRun::Outcome outcome = DumpRun::Outcome::None;
    // Why the run did not succeed: its log line, or for a file error the
    // message that the front end shows in a box; empty on success.
    QString text;

    // The dump file as it was closed; an empty path when the run made none.
    QString filePath;
    qint64 size = 0;
    QByteArray sha256;
    bool saved = false;        // under its own name
    QString previousKeptAs;    // where an earlier dump of that name went
    // The .part that the run wrote, or (refusedStoppedDump) the stopped
    // dump's .part that it would not cut, and that one's whole blocks.
    QString partPath;
    bool refusedStoppedDump = false;
    int stoppedWholeBlocks = 0;
    // The run left a stopped dump that a later run may continue, from this block.
    bool mayContinue = false;
    qint16 continuesFrom = 0;
    // A stopped dump's .part that the run left as it found it (one it would
    // not cut, or one it was to continue and did not): what is on disk.
    QString untouchedPart;
    int untouchedWholeBlocks = 0;
    qint64 untouchedBytes = 0;
    // The block the run ended at, when it ended among the blocks (a bad
    // block, a stall, Close); -1 otherwise.
    qint16 endedAtBlock = -1;

    // The blocks asked for (samples included), and of a run that continued a
    // stopped dump: the block it went on from, the kept blocks compared again
    // and those kept.
    int requestedBlocks = 0;
    bool continued = false;
    qint16 continuedFrom = 0;
    int comparedBlocks = 0;
    int keptBlocks = 0;

    // The hardware and software versions in flash block 0, as the KUP header
    // and the file name give them ("01.02.0A"); empty when the run did not get
    // that block.
    QString hardwareVersion;
    QString softwareVersion;

    // Of the good blocks: all 0xFF (erased flash), all 0x00.
    int goodBlocks = 0;
    int blankBlocks = 0;
    int zeroBlocks = 0;
    bool nothingButBlank() const { return goodBlocks > 0 && blankBlocks + zeroBlocks == goodBlocks; }

    // What the user does next after the run ended as `result`: the table's
    // step, made exact by what is on disk (a stopped dump that cannot be
    // continued is only started again; another user's file at the dump's
    // name must go first).
    NextStep nextStep(RunResult result) const;
    // The .part that a stopped dump in the way (refusedStoppedDump) may be continued.
    bool stoppedMayContinue = false;
    bool nameTaken = false; // another user's file holds the dump's name
};

// One box on one serial port, as both front ends drive it: the port with its
// fixed line settings, the dump run, the dump file and the progress meter.
// Front ends open it on a device, start a run, show what it signals and close
// it. The session alone closes the port and the file: when the run has ended,
// when the port is lost, or when the front end asks (Close); a stopped run
// keeps them open until then. Every run ends with one ended() report.
class Session : public QObject
{
    Q_OBJECT
public:
    // 115200 baud, 8 data bits, no parity, one stop bit.
    static inline const LineSettings Line{115200, QSerialPort::NoParity, QSerialPort::Data8,
                                          QSerialPort::OneStop};
    static constexpr qint16 ReceiveBufferSize = 32000; // a 1025-byte block reply fits whole
    static inline const QString ClosedLine = QStringLiteral("Serial port closed.\r\n");
    // After the closing line, when every good block of the run was erased flash or zeros.
    static inline const QString BlankWarning = QStringLiteral(
            "Warning: every block read is blank (all 0xFF) or zero (all 0x00): the box may not "
            "have given its flash.\r\n");

    // On a serial device.
    explicit Session(QObject *parent = nullptr);
    // On another port (an in-memory one, for the fuzz target).
    explicit Session(std::unique_ptr<SerialService> port, QObject *parent = nullptr);
    ~Session() override;

    // Line settings and receive buffer, on a closed port.
    static void applyLineSettings(SerialService &port);

    // Opens the device at `devicePath` (a /dev node or a link to one); an
    // empty path means that there is no such device.
    SerialService::OpenError open(const QString &devicePath);
    // What the user is told of the last failed open, the port named as the user knows it.
    OpenFailureReport openFailure(SerialService::OpenError error, const PortName &name) const;
    // Starts a run on the open port; `header` is the header option.
    void start(qint16 startBlock, qint16 blockCount, const OutputFolder &folder, bool header);
    // The same, the folder opened now by its path.
    void start(qint16 startBlock, qint16 blockCount, const QString &folder, bool header);
    // Starts a run that continues the .part of a stopped one (see ContinuePlan).
    void continueDump(const ContinuePlan &plan);
    // The header option changed while the port is open: a run reads it at its first block.
    void setHeaderTicked(bool ticked);
    // When the port is open: closes it and the run's dump file, logs the
    // closing line and reports how the run ended. True when it did so;
    // nothing happens when it is closed already. `stoppedBy` goes into a
    // stopped dump's record; by default, how the run ended.
    bool close(const QString &stoppedBy = QString());
    // Closes a port on which no run was started (the user turned back at a
    // question) without a word in the log; a started run's is close()'s.
    void closeUnused();
    // Whether a new run may start a stopped dump's .part again (see DumpFile).
    void setStartAgain(DumpFile::StartAgain which, const QString &partName = QString())
    {
        m_file.setStartAgain(which, partName);
    }
    bool isOpen() const;
    // After an open: who else has the port open, as a warning; empty when nobody.
    QString sharedPortWarning() const { return m_sharedWarning; }
    // The device of the last open; empty when none was tried.
    QString devicePath() const;

    DumpRun::Stage stage() const { return m_run.stage(); }
    // The block the run was at when it left the blocks other than for the
    // total; -1 when it did not.
    qint16 endedAtBlock() const { return m_run.endedAtBlock(); }
    // The port is open and the run waits for the boot loader's first answer.
    bool isWaitingForLoader() const { return m_run.stage() == DumpRun::Stage::Handshake; }
    // The run's dump file, while it runs.
    const DumpFile &dumpFile() const { return m_file; }
    // The progress text of the last block, as the meter gives it.
    QString progressText() const { return m_progressText; }
    // Progress goes in the blocks of the range: a continued run starts at the
    // blocks its .part already holds and counts on from there once its
    // comparisons are done (899 / 1024), so that a whole flash reads as whole.
    int progressTotal() const { return m_progressTotal; }
    int progressDone(int blocksDone) const;

    // Without a dump file: the blocks only go out through blockReceived().
    void setWriteFile(bool write) { m_run.setWriteFile(write); }
    void setNameTag(DumpFile::NameTag tag) { m_file.setNameTag(std::move(tag)); }
    // How the user goes on after a disconnected adapter (see DumpRun::setContinuation).
    void setContinuation(std::function<QString()> continueWith) { m_run.setContinuation(std::move(continueWith)); }
    // For tests: where the dump file is opened, and a shorter stall time-out.
    void setFileOpener(DumpFile::Opener opener) { m_file.setOpener(std::move(opener)); }
    void setStallTimeout(int ms) { m_run.setStallTimeout(ms); }
    // For tests: the clock of the stall watch and the progress meter.
    void setClock(Clock &clock);

signals:
    // The log: its whole text replaced, or a piece appended (lines end in CR LF).
    void logReplaced(const QString &text);
    void logAppended(const QString &text);
    void modelReported(const QString &model);
    // Blocks of the range done so far (see progressDone()), and the progress
    // text with speed and time left.
    void progressed(int blocksDone, const QString &text);
    // The data of each good block; index from 0 within the run.
    void blockReceived(int index, const QByteArray &data);
    // The run stopped (a bad block, a stall, unexpected data): the port and
    // the file stay open until close().
    void stopped(tarvik::DumpRun::Outcome outcome, const QString &text);
    // The run is over, once per run, after the port and the file were closed
    // and the closing line logged.
    void ended(const tarvik::RunReport &report);

private:
    friend class SessionProbe; // for tests: the run and the port inside

    void connectRun();
    void onRunFinished();
    RunReport report() const;
    void countBlock(int index, const QByteArray &data);
    void resetCounts();
    void startProgress(int total);

    std::unique_ptr<SerialService> m_port;
    DumpFile m_file;
    DumpRun m_run;
    ProgressMeter m_meter;
    QString m_progressText;
    QString m_sharedWarning;
    bool m_reportDue = false; // a run started and its end was not reported yet
    int m_requestedBlocks = 0;
    qint16 m_startBlock = 0;  // of the range
    int m_progressTotal = 0;
    ContinuePlan m_continued; // of a run that continues a stopped dump
    int m_goodBlocks = 0;
    int m_blankBlocks = 0;
    int m_zeroBlocks = 0;
    QString m_hardwareVersion;
    QString m_softwareVersion;
};

} // namespace tarvik
