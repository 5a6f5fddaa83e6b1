// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "cli/boxsummary.h"
#include "cli/runlog.h"
#include "cli/verifycompare.h"
#include "cli/waitlimit.h"
#include "dump/dumprun.h"
#include "dump/runresult.h"
#include "dump/session.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <optional>

namespace tarvik::cli {

struct Options;

// One box on one port: opens the port, drives the session's run (the dump,
// or with --verify the comparison), writes the --log section around the
// protocol lines, and once it has ended sums the run up (summary()).
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
    // Opens the port and starts the run; when the port does not open, finished() follows at once.
    void start();
    // Ends the run as the window's Close does.
    void interrupt();

    bool isDone() const { return m_done; }
    QString device() const { return m_device; }
    QString model() const { return m_model; }
    // Not done, and the boot loader has not answered the handshake yet.
    bool waitingForLoader() const;
    // Since the run started.
    int elapsedSeconds() const { return m_clock.isValid() ? int(m_clock.elapsed() / 1000) : 0; }
    // Blocks of the range done, as the live line counts them (a continued run
    // counts on from its .part's blocks).
    int blocksDone() const { return m_blocksDone; }
    int blockCount() const;
    QString progressText() const { return m_progressText; }
    RunResult result() const { return m_summary.result; }
    bool failed() const { return m_done && m_summary.failed(); }
    // The block a failed or interrupted run ended at (as its log numbers it);
    // -1 when it did not end among the blocks.
    int endedAtBlock() const { return m_summary.failedBlock; }
    // All that is told of the run once it is done.
    const BoxSummary &summary() const { return m_summary; }

signals:
    void progressed();
    // A line for the user, at once (waiting for the box, a failure).
    // `always`: shown also beside the live lines and with --quiet.
    void notice(const QString &line, bool always);
    void finished();

private:
    bool verifying() const;
    void appendLog(const QString &text);
    void writeLogHeader();
    void onRunEnded(const RunReport &report);
    void finish(RunResult result, const QString &error);
    // The command that goes on after the adapter was disconnected: --resume of
    // the .part when this run has one, otherwise this run's own command again.
    QString retryCommand() const;

    const Options &m_options;
    QString m_device;
    Session m_session;
    std::optional<VerifyCompare> m_compare;
    WaitLimit m_wait;
    QDateTime m_began;
    QElapsedTimer m_clock;
    QString m_logPath;
    RunLog m_log;
    bool m_logSection = false; // the run's header is in the log
    QString m_model;
    QString m_progressText;
    RunReport m_report;
    BoxSummary m_summary;
    int m_blocksDone = 0;
    bool m_interrupted = false;
    bool m_done = false;
};

} // namespace tarvik::cli
