// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/boxrun.h"

#include "cli/commandline.h"
#include "cli/options.h"
#include "cli/textformat.h"
#include "dump/openfailure.h"
#include "dump/portinfo.h"
#include "dump/session.h"
#include "dump/version.h"

#include <QDir>
#include <QFileInfo>

namespace tarvik::cli {

BoxRun::BoxRun(const Options &options, const QString &device, bool severalPorts, QObject *parent)
    : QObject(parent), m_options(options), m_device(device)
{
    if (m_options.stallMs > 0)
        m_session.setStallTimeout(m_options.stallMs);
    if (verifying())
        m_compare.emplace(m_options.verifyData, m_options.startBlock);
    m_session.setWriteFile(!verifying());
    m_session.setStartAgain(m_options.restart ? DumpFile::StartAgain::Any : DumpFile::StartAgain::Never);
    m_session.setContinuation([this] { return retryCommand(); });
    m_logPath = logPathFor(m_options.logPath, m_options.nameOf(device), severalPorts);
    // The window's log pane starts afresh with each run; the file keeps every
    // run, and this one's section began with its header.
    connect(&m_session, &Session::logReplaced, this, &BoxRun::appendLog);
    connect(&m_session, &Session::logAppended, this, &BoxRun::appendLog);
    connect(&m_session, &Session::modelReported, this, [this](const QString &model) {
        m_model = model;
        emit progressed();
    });
    connect(&m_session, &Session::progressed, this, [this](int blocksDone, const QString &text) {
        m_blocksDone = blocksDone;
        m_progressText = text;
        emit progressed();
    });
    connect(&m_session, &Session::blockReceived, this, [this](int index, const QByteArray &data) {
        if (m_compare)
            m_compare->add(index, data);
    });
    // A stopped run keeps its port and file open in the window until Close;
    // here nobody is left to click it.
    connect(&m_session, &Session::stopped, this, [this] { m_session.close(); });
    connect(&m_session, &Session::ended, this, &BoxRun::onRunEnded);
    m_wait.setStillWaiting([this] { return !m_done && m_session.isWaitingForLoader(); });
    connect(&m_wait, &WaitLimit::passedUnanswered, this, [this] { m_session.close(); });
}

BoxRun::~BoxRun() = default;

bool BoxRun::verifying() const
{
    return !m_options.verifyPath.isEmpty();
}

bool BoxRun::waitingForLoader() const
{
    const DumpRun::Stage stage = m_session.stage();
    return !m_done && (stage == DumpRun::Stage::Idle || stage == DumpRun::Stage::Handshake);
}

int BoxRun::blockCount() const
{
    return m_session.progressTotal() > 0 ? m_session.progressTotal() : m_options.blockCount;
}

bool BoxRun::openLog(QString *error)
{
    if (m_logPath.isEmpty() || m_log.isOpen())
        return true;
    return m_log.open(m_logPath, error);
}

void BoxRun::start()
{
    m_began = QDateTime::currentDateTime();
    m_clock.start();
    if (QString error; !openLog(&error)) {
        finish(RunResult::FileError, error);
        return;
    }
    writeLogHeader();
    const SerialService::OpenError error = m_session.open(m_device);
    if (error != SerialService::OpenError::None) {
        const OpenFailureReport report = m_session.openFailure(error, PortName::device(m_device));
        if (report.shown == OpenFailureReport::Shown::LogLine)
            appendLog(report.text + QStringLiteral("\r\n"));
        finish(RunResult::OpenFailed, report.oneLine());
        return;
    }
    if (const QString warning = m_session.sharedPortWarning(); !warning.isEmpty())
        emit notice(warning, true);
    const ContinuePlan &plan = m_options.continuePlan;
    if (plan.continues()) {
        m_session.continueDump(plan);
    } else {
        if (m_options.continuing())
            emit notice(QStringLiteral("%1 holds fewer than %2 whole blocks, nothing worth keeping: "
                                       "starting again from block %3")
                                .arg(plan.partPath)
                                .arg(ContinuePlan::MinWholeBlocks)
                                .arg(m_options.startBlock),
                        true);
        m_session.start(m_options.startBlock, m_options.blockCount, m_options.folder, m_options.header);
    }
    // A continued run starts at the blocks that its .part holds.
    m_blocksDone = m_session.progressDone(0);
    m_progressText = m_session.progressText();
    m_wait.start(m_options.waitSeconds);
    if (m_session.isWaitingForLoader())
        emit notice(QStringLiteral("port open, waiting for the boot loader (%1)").arg(HostModeReminder), false);
}

void BoxRun::interrupt()
{
    if (m_done)
        return;
    m_interrupted = true;
    m_session.close(resultWord(RunResult::Interrupted));
    // A port that was never opened has no run to end.
    if (!m_done)
        finish(RunResult::Interrupted, resultWord(RunResult::Interrupted));
}

void BoxRun::appendLog(const QString &text)
{
    m_log.write(text);
}

void BoxRun::writeLogHeader()
{
    if (!m_log.isOpen())
        return;
    m_logSection = true;
    const auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    const auto absolute = [&orDash](const QString &path) {
        return orDash(path.isEmpty() ? path : QFileInfo(path).absoluteFilePath());
    };
    const PortDetails details = collectPortDetails({m_device}).value(0);
    m_log.writeFields({
            {QStringLiteral("begin"), RunLog::timestamp(m_began)},
            {QStringLiteral("program"), QStringLiteral("tarvik-dump ") + QString::fromLatin1(Version)},
            {QStringLiteral("device"), absolute(m_device)},
            {QStringLiteral("by_id"), orDash(details.byId)},
            {QStringLiteral("serial_number"), orDash(details.serialNumber)},
            {QStringLiteral("start"), QString::number(m_options.startBlock)},
            {QStringLiteral("count"), QString::number(m_options.blockCount)},
            {QStringLiteral("header"), m_options.header ? QStringLiteral("yes") : QStringLiteral("no")},
            {QStringLiteral("resume"), absolute(m_options.continuing() ? m_options.continuePlan.partPath : QString())},
            {QStringLiteral("verify"), absolute(m_options.verifyPath)},
    });
}

void BoxRun::onRunEnded(const RunReport &report)
{
    m_report = report;
    if (m_interrupted) {
        finish(RunResult::Interrupted, resultWord(RunResult::Interrupted));
        return;
    }
    if (m_wait.passed()) {
        finish(RunResult::NoAnswer, QStringLiteral("no answer from the boot loader in %1 s: is the box in "
                                                   "HOST - MODE?").arg(m_options.waitSeconds));
        return;
    }
    RunResult result = resultOf(report.outcome);
    if (result == RunResult::Ok && m_compare)
        result = m_compare->differing().isEmpty() ? RunResult::Identical : RunResult::Different;
    QString error = report.outcome == DumpRun::Outcome::None ? QStringLiteral("Serial port closed") : report.text;
    if (report.refusedStoppedDump) {
        result = RunResult::PartExists;
        error = QStringLiteral("%1 holds a stopped dump of %2 whole blocks").arg(report.partPath).arg(report.stoppedWholeBlocks);
    }
    finish(result, error);
}

void BoxRun::finish(RunResult result, const QString &error)
{
    BoxSummary::Run run;
    run.device = m_device;
    run.model = m_model;
    run.startBlock = m_options.startBlock;
    run.blockCount = blockCount();
    run.verify = verifying();
    if (m_compare) {
        run.blocksReceived = m_compare->received();
        run.receivedSha256 = m_compare->sha256();
        run.differingBlocks = m_compare->differing();
    }
    run.began = m_began;
    run.ended = QDateTime::currentDateTime();
    run.seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0;
    run.result = result;
    run.error = error;
    run.replySeconds = (m_options.stallMs > 0 ? m_options.stallMs : DumpRun::DefaultStallMs) / 1000.0;
    run.waitSeconds = m_options.waitSeconds;
    if (!m_report.partPath.isEmpty())
        run.continueCommand = resumeCommand(m_device, m_report.partPath);
    run.startAgainCommand = runCommand(m_options, m_device, QString(), true);
    run.runAgainCommand = runCommand(m_options, m_device, QString());
    m_summary = BoxSummary::of(m_report, run);

    if (m_logSection)
        m_log.writeFields(logFooter(m_summary));
    m_logSection = false;
    // The dump may be good, but what was asked for was not all written.
    if (const QString logError = m_log.close(); !logError.isEmpty() && !m_summary.failed()) {
        run.result = RunResult::FileError;
        run.error = logError;
        m_summary = BoxSummary::of(m_report, run);
    }
    m_done = true;
    m_wait.stop();
    // An interrupted box is said to be so by its summary line only.
    if (m_summary.failed() && m_summary.result != RunResult::Interrupted)
        emit notice(m_summary.failure, true);
    if (m_report.nothingButBlank())
        emit notice(Session::BlankWarning.trimmed(), true);
    emit finished();
}

QString BoxRun::retryCommand() const
{
    const DumpFile &file = m_session.dumpFile();
    return runCommand(m_options, m_device,
                      !verifying() && file.hasFile() && !file.partPath().isEmpty() ? file.partPath() : QString());
}

} // namespace tarvik::cli
