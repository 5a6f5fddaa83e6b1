// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/boxrun.h"

#include "cli/options.h"
#include "dump/blockrange.h"
#include "dump/openfailure.h"
#include "dump/portinfo.h"
#include "dump/session.h"
#include "dump/version.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace tarvik::cli {

namespace {

// One argument as a POSIX shell reads it back.
QString shellWord(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./:=+,@%-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    return u'\'' + QString(word).replace(QStringLiteral("'"), QStringLiteral("'\\''")) + u'\'';
}

} // namespace

BoxRun::BoxRun(const Options &options, const QString &device, bool severalPorts, QObject *parent)
    : QObject(parent), m_options(options), m_device(device)
{
    if (m_options.stallMs > 0)
        m_session.setStallTimeout(m_options.stallMs);
    m_session.setWriteFile(!verifying());
    m_session.setStartAgain(m_options.restart ? DumpFile::StartAgain::Any : DumpFile::StartAgain::Never);
    m_session.setContinuation([this] { return retryCommand(); });
    m_logPath = logPathFor(m_options.logPath, m_options.nameOf(device), severalPorts);
    connect(&m_session, &Session::logReplaced, this, &BoxRun::replaceLog);
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
    connect(&m_session, &Session::blockReceived, this, &BoxRun::onBlock);
    // A stopped run keeps its port and file open in the window until Close;
    // here nobody is left to click it.
    connect(&m_session, &Session::stopped, this, [this] { m_session.close(); });
    connect(&m_session, &Session::ended, this, &BoxRun::onRunEnded);
}

BoxRun::~BoxRun() = default;

bool BoxRun::verifying() const
{
    return !m_options.verifyPath.isEmpty();
}

int BoxRun::continuedFrom() const
{
    return m_report.continued ? m_report.continuedFrom : -1;
}

qint16 BoxRun::startBlock() const
{
    return m_options.startBlock;
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

qint64 BoxRun::bytes() const
{
    if (!m_report.filePath.isEmpty())
        return m_report.size;
    if (!m_report.untouchedPart.isEmpty())
        return m_report.untouchedBytes;
    return verifying() ? qint64(m_blocksDone) * DumpFile::BlockSize : 0;
}

QString BoxRun::sha256() const
{
    if (!m_report.filePath.isEmpty())
        return QString::fromLatin1(m_report.sha256.toHex());
    if (verifying() && m_blocksDone > 0)
        return QString::fromLatin1(m_hash.resultView().toByteArray().toHex());
    return {};
}

bool BoxRun::openLog(QString *error)
{
    if (m_logPath.isEmpty() || m_log.isOpen())
        return true;
    return m_log.open(m_logPath, error);
}

void BoxRun::start()
{
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
    if (m_options.waitSeconds > 0) {
        m_wait.setSingleShot(true);
        // At least the seconds asked for: a coarse timer may fire 5 % early.
        m_wait.setTimerType(Qt::PreciseTimer);
        connect(&m_wait, &QTimer::timeout, this, [this] {
            if (m_done || !m_session.isWaitingForLoader())
                return;
            m_noAnswer = true;
            m_session.close();
        });
        m_wait.start(m_options.waitSeconds * 1000);
    }
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

// The window's log pane starts afresh with each run; the file keeps every
// run, and this one's section began with its header.
void BoxRun::replaceLog(const QString &text)
{
    appendLog(text);
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
    RunLog::Fields fields{
            {QStringLiteral("begin"), RunLog::timestamp(QDateTime::currentDateTime())},
            {QStringLiteral("program"), QStringLiteral("tarvik-dump ") + QString::fromLatin1(Version)},
            {QStringLiteral("device"), m_device},
    };
    const PortDetails details = collectPortDetails({m_device}).value(0);
    if (!details.byId.isEmpty())
        fields.append({QStringLiteral("by_id"), details.byId});
    else if (!details.serialNumber.isEmpty())
        fields.append({QStringLiteral("serial_number"), details.serialNumber});
    fields.append({QStringLiteral("start"), QString::number(m_options.startBlock)});
    fields.append({QStringLiteral("count"), QString::number(m_options.blockCount)});
    fields.append({QStringLiteral("header"), m_options.header ? QStringLiteral("yes") : QStringLiteral("no")});
    if (m_options.continuing())
        fields.append({QStringLiteral("resume"), QFileInfo(m_options.continuePlan.partPath).absoluteFilePath()});
    if (verifying())
        fields.append({QStringLiteral("verify"), QFileInfo(m_options.verifyPath).absoluteFilePath()});
    m_log.writeFields(fields);
}

void BoxRun::writeLogFooter()
{
    if (!m_logSection)
        return;
    const auto orDash = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    RunLog::Fields fields{
            {QStringLiteral("model"), orDash(m_model)},
            {QStringLiteral("hw_version"), orDash(hardwareVersion())},
            {QStringLiteral("sw_version"), orDash(softwareVersion())},
            {QStringLiteral("file"), m_filePath.isEmpty() ? QStringLiteral("-") : QFileInfo(m_filePath).absoluteFilePath()},
            {QStringLiteral("bytes"), QString::number(bytes())},
            {QStringLiteral("sha256"), orDash(sha256())},
    };
    if (!untouchedPart().isEmpty()) {
        fields.append({QStringLiteral("part"), QFileInfo(untouchedPart()).absoluteFilePath()});
        fields.append({QStringLiteral("part_untouched"), QStringLiteral("yes")});
        fields.append({QStringLiteral("part_whole_blocks"), QString::number(untouchedWholeBlocks())});
    }
    if (continuedFrom() >= 0) {
        fields.append({QStringLiteral("resumed_from"), QString::number(continuedFrom())});
        fields.append({QStringLiteral("compared_blocks"), QString::number(comparedBlocks())});
        fields.append({QStringLiteral("kept_blocks"), QString::number(keptBlocks())});
    }
    if (verifying())
        fields.append({QStringLiteral("differing_blocks"), orDash(blockList(m_differing))});
    fields.append({QStringLiteral("result"), resultWord(m_result)});
    if (!m_failure.isEmpty())
        fields.append({QStringLiteral("error"), m_failure});
    fields.append({QStringLiteral("end"), RunLog::timestamp(QDateTime::currentDateTime())});
    m_log.writeFields(fields);
    m_logSection = false;
}

void BoxRun::onBlock(int index, const QByteArray &data)
{
    m_hash.addData(data);
    if (!verifying())
        return;
    const QByteArray expected = m_options.verifyData.mid(qsizetype(index) * DumpFile::BlockSize,
                                                         DumpFile::BlockSize);
    if (expected != data)
        m_differing.append(m_options.startBlock + index);
}

void BoxRun::onRunEnded(const RunReport &report)
{
    m_report = report;
    m_filePath = report.filePath;
    if (m_interrupted) {
        finish(RunResult::Interrupted, resultWord(RunResult::Interrupted));
        return;
    }
    if (m_noAnswer) {
        finish(RunResult::NoAnswer, QStringLiteral("no answer from the boot loader in %1 s: is the box in "
                                              "HOST - MODE?").arg(m_options.waitSeconds));
        return;
    }
    RunResult result = resultOf(report.outcome);
    if (result == RunResult::Ok && verifying())
        result = m_differing.isEmpty() ? RunResult::Identical : RunResult::Different;
    QString failure = report.outcome == DumpRun::Outcome::None ? QStringLiteral("Serial port closed") : report.text;
    if (report.refusedStoppedDump) {
        result = RunResult::PartExists;
        failure = QStringLiteral("%1 holds a stopped dump of %2 whole blocks")
                          .arg(report.partPath)
                          .arg(report.stoppedWholeBlocks);
    }
    finish(result, failure);
}

void BoxRun::finish(RunResult result, const QString &failure)
{
    m_seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0;
    m_result = result;
    m_failure = resultRow(result).failed ? failure : QString();
    writeLogFooter();
    // The dump may be good, but what was asked for was not all written.
    if (const QString logError = m_log.close(); !logError.isEmpty() && m_failure.isEmpty()) {
        m_result = RunResult::FileError;
        m_failure = logError;
    }
    m_done = true;
    m_wait.stop();
    // An interrupted box is said to be so by its summary line only.
    if (!m_failure.isEmpty() && m_result != RunResult::Interrupted)
        emit notice(m_failure, true);
    if (nothingButBlank())
        emit notice(Session::BlankWarning.trimmed(), true);
    emit finished();
}

QString BoxRun::continueCommand() const
{
    if (verifying())
        return {};
    const NextStep step = m_report.nextStep(m_result);
    if (step != NextStep::Continue && step != NextStep::ContinueOrStartAgain)
        return {};
    return continueCommand(m_device, m_report.partPath);
}

QString BoxRun::nextStep() const
{
    if (verifying())
        return {};
    const NextStep step = m_report.nextStep(m_result);
    switch (step) {
    case NextStep::Continue:
    case NextStep::StartAgain:
    case NextStep::ContinueOrStartAgain:
    case NextStep::MoveOrChooseFolder:
        return nextStepText(step, FrontEnd::CommandLine, continueCommand(), restartCommand());
    default:
        return {};
    }
}

QString BoxRun::continueCommand(const QString &device, const QString &partPath)
{
    return QStringLiteral("tarvik-dump -p %1 --resume %2").arg(shellWord(device), shellWord(partPath));
}

QString BoxRun::retryCommand() const
{
    const DumpFile &file = m_session.dumpFile();
    return commandLine(m_options, m_device,
                       !verifying() && file.hasFile() && !file.partPath().isEmpty() ? file.partPath() : QString());
}

QString BoxRun::restartCommand() const
{
    return commandLine(m_options, m_device, QString(), true);
}

QString commandLine(const Options &options, const QString &device, const QString &continuePart, bool restart)
{
    QStringList words{QStringLiteral("tarvik-dump"), QStringLiteral("-p"), device};
    if (!continuePart.isEmpty()) {
        words << QStringLiteral("--resume") << QFileInfo(continuePart).absoluteFilePath();
    } else {
        words << QStringLiteral("-o") << QDir(options.outputFolder).absolutePath();
        if (!options.verifyPath.isEmpty())
            words << QStringLiteral("--verify") << QFileInfo(options.verifyPath).absoluteFilePath();
        if (options.header)
            words << QStringLiteral("--header");
        if (restart)
            words << QStringLiteral("--restart");
    }
    if (!isFullRead(options.startBlock, options.blockCount))
        words << QStringLiteral("--start") << QString::number(options.startBlock) << QStringLiteral("--count")
              << QString::number(options.blockCount);
    QStringList quoted;
    for (const QString &word : std::as_const(words))
        quoted << shellWord(word);
    return quoted.join(u' ');
}

QString BoxRun::blockList(const QList<int> &blocks)
{
    QStringList parts;
    for (qsizetype i = 0; i < blocks.size();) {
        qsizetype j = i;
        while (j + 1 < blocks.size() && blocks.at(j + 1) == blocks.at(j) + 1)
            ++j;
        parts << (j == i ? QString::number(blocks.at(i))
                         : QStringLiteral("%1-%2").arg(blocks.at(i)).arg(blocks.at(j)));
        i = j + 1;
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace tarvik::cli
