// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/runlog.h"
#include "dump/dumprun.h"
#include "dump/runresult.h"
#include "dump/session.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QString>

#include <functional>

namespace tarvik::cli {

struct Options;

// tarvik-dump's words for one box, quoted for a shell: --resume of
// `continuePart` when given, otherwise the options' own (with --restart when
// `restart`).
QString commandLine(const Options &options, const QString &device, const QString &continuePart, bool restart = false);

// One box on one port: opens the port, runs the dump (or the comparison with
// --verify), writes the protocol log, and sums up how it went.
class BoxRun : public QObject
{
    Q_OBJECT
public:
    // What the user is reminded of while the boot loader does not answer.
    static inline const QString HostModeReminder = QStringLiteral("put the box into its HOST - MODE");

    BoxRun(const Options &options, const QString &device, bool severalPorts, QObject *parent = nullptr);
    ~BoxRun() override;

    void setNameTag(DumpFile::NameTag tag) { m_session.setNameTag(std::move(tag)); }
    // Opens the --log file, if any (see RunLog). False with the reason when it
    // cannot be used.
    bool openLog(QString *error);
    // Opens the port and starts the run; false when the port did not open (finished() follows).
    void start();
    // Ends the run as the window's Close does.
    void interrupt();

    bool isDone() const { return m_done; }
    QString device() const { return m_device; }
    QString model() const { return m_model; }
    // The versions in the flash's block 0; empty when the run did not read it.
    QString hardwareVersion() const { return m_report.hardwareVersion; }
    QString softwareVersion() const { return m_report.softwareVersion; }
    // The range: of the stopped run with --resume.
    qint16 startBlock() const;
    // Not done, and the boot loader has not answered the handshake yet.
    bool waitingForLoader() const;
    // Since the run started.
    int elapsedSeconds() const { return m_clock.isValid() ? int(m_clock.elapsed() / 1000) : 0; }
    // Blocks of the range done, as the live line counts them (a continued run
    // counts on from its .part's blocks).
    int blocksDone() const { return m_blocksDone; }
    // Good blocks read by this run, its comparisons included.
    int blocksRead() const { return m_report.goodBlocks; }
    int blockCount() const;
    QString progressText() const { return m_progressText; }
    RunResult result() const { return m_result; }
    // The block a failed or interrupted run ended at (as its log numbers it);
    // -1 when it did not end among the blocks.
    qint16 endedAtBlock() const { return m_report.endedAtBlock; }
    // Why it failed, one line; empty on success.
    QString failure() const { return m_failure; }
    QString filePath() const { return m_filePath; }
    // The dump file's size and SHA-256 as it is on disk (with --verify: of the
    // blocks received); no SHA-256 when there is nothing.
    qint64 bytes() const;
    QString sha256() const;
    // The first block that a run asked for when it continued a stopped dump;
    // -1 when it did not.
    int continuedFrom() const;
    // A stopped dump's .part that the run left as it found it; empty when none.
    QString untouchedPart() const { return m_report.untouchedPart; }
    int untouchedWholeBlocks() const { return m_report.untouchedWholeBlocks; }
    // Of a continued run: the kept blocks read again and compared, and the
    // blocks of the earlier run that stay in the dump.
    int comparedBlocks() const { return m_report.comparedBlocks; }
    int keptBlocks() const { return m_report.keptBlocks; }
    // Good blocks that were all 0xFF or all 0x00, and whether there was nothing else.
    int blankBlocks() const { return m_report.blankBlocks; }
    int zeroBlocks() const { return m_report.zeroBlocks; }
    bool nothingButBlank() const { return m_report.nothingButBlank(); }
    // Where an earlier dump of the file's name went; empty when there was none.
    QString previousKeptAs() const { return m_report.previousKeptAs; }
    double seconds() const { return m_seconds; }
    QList<int> differingBlocks() const { return m_differing; }
    bool verifying() const;

    // After a run that stopped with a dump worth continuing: the command that
    // continues it; empty otherwise.
    QString continueCommand() const;
    // What to do next, from the table of results; empty when nothing is to be done.
    QString nextStep() const;
    // The command that continues the stopped dump in partPath, quoted for a shell.
    static QString continueCommand(const QString &device, const QString &partPath);
    // "700-703, 900"
    static QString blockList(const QList<int> &blocks);
    // The command that goes on after the adapter was disconnected: --resume of
    // the .part when this run has one, otherwise this run's own command again.
    QString retryCommand() const;
    // This run's own command again, starting a stopped dump's .part again.
    QString restartCommand() const;

signals:
    void progressed();
    // A line for the user, at once (waiting for the box, a failure).
    // `always`: shown also beside the live lines and with --quiet.
    void notice(const QString &line, bool always);
    void finished();

private:
    void replaceLog(const QString &text);
    void appendLog(const QString &text);
    void writeLogHeader();
    void writeLogFooter();
    void onBlock(int index, const QByteArray &data);
    void onRunEnded(const RunReport &report);
    void finish(RunResult result, const QString &failure);

    const Options &m_options;
    QString m_device;
    Session m_session;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    QElapsedTimer m_clock;
    QString m_logPath;
    RunLog m_log;
    bool m_logSection = false; // the run's header is in the log
    QString m_model;
    QString m_progressText;
    RunResult m_result = RunResult::NoResult;
    QString m_failure;
    QString m_filePath;
    QList<int> m_differing;
    RunReport m_report;
    int m_blocksDone = 0;
    double m_seconds = 0;
    bool m_interrupted = false;
    bool m_noAnswer = false;
    QTimer m_wait;
    bool m_done = false;
};

} // namespace tarvik::cli
