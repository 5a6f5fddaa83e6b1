// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "dumpfile.h"
#include "dumprun.h"
#include "openfailure.h"
#include "progressmeter.h"
#include "serialservice.h"

#include <QObject>
#include <QString>

#include <memory>

namespace tarvik {

// One box on one serial port, as both front ends drive it: the port with its
// fixed line settings, the dump run, the dump file and the progress meter.
// Front ends open it on a device, start a run, show what it signals and close it;
// a run that ends by itself closes it too.
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
    void start(qint16 startBlock, qint16 blockCount, const QString &folder, bool header);
    // Starts a run that takes up the .part of a stopped one (see ResumePlan).
    void resume(const ResumePlan &plan, const QString &folder);
    // The header option changed while the port is open: a run reads it at its first block.
    void setHeaderTicked(bool ticked);
    // When the port is open: closes it and the run's dump file and logs the
    // closing line. True when it did so; nothing happens when it is closed already.
    // `stoppedBy` goes into a stopped dump's record; by default, how the run ended.
    bool close(const QString &stoppedBy = QString());
    // Whether a new run leaves a stopped dump's .part alone (see DumpFile).
    void setKeepStopped(bool keep) { m_file.setKeepStopped(keep); }
    void setStartAgain(const QString &partPath) { m_file.setStartAgain(partPath); }
    bool isOpen() const;

    SerialService &port() { return *m_port; }
    const SerialService &port() const { return *m_port; }
    DumpRun &run() { return m_run; }
    const DumpRun &run() const { return m_run; }
    const DumpFile &dumpFile() const { return m_file; }
    // The progress text of the last block, as the meter gives it.
    QString progressText() const { return m_progressText; }
    // Of the run's good blocks: all 0xFF (erased flash), all 0x00, and whether
    // every one of them (at least one) is either.
    int blankBlocks() const { return m_blankBlocks; }
    int zeroBlocks() const { return m_zeroBlocks; }
    bool nothingButBlank() const { return m_goodBlocks > 0 && m_blankBlocks + m_zeroBlocks == m_goodBlocks; }

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
    // Good blocks so far, and the progress text with speed and time left.
    void progressed(int blocksDone, const QString &text);
    // A box with only OK: the dump file failed, shown before the run ends.
    void message(const QString &text, const QString &title);
    // The data of each good block; index from 0 within the run.
    void blockReceived(int index, const QByteArray &data);
    // The run ended, once per run: how, and the line or message that says why
    // when it did not succeed.
    void finished(tarvik::DumpRun::Outcome outcome, const QString &text);
    // The port and the file were closed (after the closing log line).
    void closed();
    // The run's dump file as it was closed: where it is, its size and SHA-256.
    void fileClosed(const QString &path, qint64 size, const QByteArray &sha256);

private:
    void connectRun();
    void countBlock(const QByteArray &data);
    void resetCounts();

    std::unique_ptr<SerialService> m_port;
    DumpFile m_file;
    DumpRun m_run;
    ProgressMeter m_meter;
    QString m_progressText;
    int m_goodBlocks = 0;
    int m_blankBlocks = 0;
    int m_zeroBlocks = 0;
};

} // namespace tarvik
