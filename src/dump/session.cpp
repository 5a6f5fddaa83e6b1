// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump/session.h"

#include "dump/runresult.h"

#include "dump/dumpname.h"
#include "dump/portinfo.h"
#include "dump/serialport.h"

#include <QCoreApplication>

#include <algorithm>

namespace tarvik {

Session::Session(QObject *parent)
    : Session(std::make_unique<SerialPort>(), parent)
{
}

Session::Session(std::unique_ptr<SerialService> port, QObject *parent)
    : QObject(parent), m_port(std::move(port)), m_run(*m_port, m_file)
{
    applyLineSettings(*m_port);
    connectRun();
}

Session::~Session() = default;

void Session::applyLineSettings(SerialService &port)
{
    port.setLineSettings(Line);
    port.setReadBufferSize(ReceiveBufferSize);
}

void Session::setClock(Clock &clock)
{
    m_run.setClock(clock);
    m_meter.setClock(clock);
}

void Session::connectRun()
{
    connect(&m_run, &DumpRun::logReplaced, this, [this](const QString &text) {
        emit logReplaced(text);
        // Said once, at the top of the run's log.
        if (!m_sharedWarning.isEmpty())
            emit logAppended(m_sharedWarning + QStringLiteral("\r\n"));
    });
    connect(&m_run, &DumpRun::logAppended, this, &Session::logAppended);
    connect(&m_run, &DumpRun::modelReported, this, &Session::modelReported);
    connect(&m_run, &DumpRun::progressed, this, [this](int blocksDone) {
        const int done = progressDone(blocksDone);
        m_progressText = m_meter.update(done);
        emit progressed(done, m_progressText);
    });
    connect(&m_run, &DumpRun::blockReceived, this, &Session::countBlock);
    connect(&m_run, &DumpRun::blockReceived, this, &Session::blockReceived);
    connect(&m_run, &DumpRun::finished, this, &Session::onRunFinished);
    // After the run has heard of it (its connection came first).
    connect(m_port.get(), &SerialService::portLost, this, [this] { close(); });
}

void Session::onRunFinished()
{
    if (m_run.stage() == DumpRun::Stage::Stopped)
        emit stopped(m_run.outcome(), m_run.outcomeText());
    else
        close();
}

void Session::countBlock(int index, const QByteArray &data)
{
    // A run's first block is the range's first, a continued run's too (compared
    // with the .part first).
    if (index == 0 && m_startBlock == 0) {
        m_hardwareVersion = DumpName::hardwareVersion(data);
        m_softwareVersion = DumpName::softwareVersion(data);
    }
    ++m_goodBlocks;
    const auto allOf = [&data](char value) {
        return std::all_of(data.cbegin(), data.cend(), [value](char c) { return c == value; });
    };
    if (allOf('\xFF'))
        ++m_blankBlocks;
    else if (allOf('\0'))
        ++m_zeroBlocks;
}

void Session::startProgress(int total)
{
    m_progressTotal = total;
    const int done = progressDone(0);
    m_meter.start(total, done);
    m_progressText = ProgressMeter::format(done, total, -1);
}

int Session::progressDone(int blocksDone) const
{
    if (!m_continued.continues())
        return blocksDone;
    // The samples are compared, not added; block k-2 is the first to count again.
    const int kept = m_continued.firstRequested() - m_continued.startBlock;
    return kept + qMax(0, blocksDone - int(m_continued.samples.size()));
}

void Session::resetCounts()
{
    m_goodBlocks = 0;
    m_blankBlocks = 0;
    m_zeroBlocks = 0;
    m_hardwareVersion.clear();
    m_softwareVersion.clear();
}

SerialService::OpenError Session::open(const QString &devicePath)
{
    if (devicePath.isEmpty())
        return SerialService::OpenError::NotPresent;
    applyLineSettings(*m_port);
    m_port->setDevice(devicePath);
    const PortDetails details = collectPortDetails({devicePath}).value(0);
    m_file.setDevice(devicePath, !details.byId.isEmpty() ? details.byId : details.serialNumber);
    const SerialService::OpenError error = m_port->open();
    m_sharedWarning = error == SerialService::OpenError::None
            ? tarvik::sharedPortWarning(devicePath, findPortSharer(devicePath, QCoreApplication::applicationPid()))
            : QString();
    return error;
}

OpenFailureReport Session::openFailure(SerialService::OpenError error, const PortName &name) const
{
    return describeOpenFailure(*m_port, error, name);
}

void Session::start(qint16 startBlock, qint16 blockCount, const QString &folder, bool header)
{
    start(startBlock, blockCount, OutputFolder::open(folder), header);
}

void Session::start(qint16 startBlock, qint16 blockCount, const OutputFolder &folder, bool header)
{
    resetCounts();
    m_reportDue = true;
    m_requestedBlocks = blockCount;
    m_startBlock = startBlock;
    m_continued = ContinuePlan();
    startProgress(blockCount);
    m_run.setHeaderTicked(header);
    m_run.start(startBlock, blockCount, folder);
}

void Session::continueDump(const ContinuePlan &plan)
{
    resetCounts();
    m_reportDue = true;
    m_requestedBlocks = plan.requestedCount();
    m_startBlock = plan.startBlock;
    m_continued = plan;
    startProgress(plan.blockCount);
    m_run.setHeaderTicked(plan.header);
    m_run.continueDump(plan);
}

void Session::setHeaderTicked(bool ticked)
{
    m_run.setHeaderTicked(ticked);
}

bool Session::close(const QString &stoppedBy)
{
    if (!m_port->isOpen())
        return false;
    m_port->close();
    m_run.portClosed();
    m_file.close(!stoppedBy.isEmpty() ? stoppedBy : resultWord(resultOf(m_run.outcome())));
    const RunReport ending = report();
    // The report holds all that is said of the folder: it is not kept open
    // between runs.
    m_file.releaseFolder();
    m_run.releaseFolder();
    emit logAppended(ClosedLine);
    if (ending.nothingButBlank())
        emit logAppended(BlankWarning);
    if (m_reportDue) {
        m_reportDue = false;
        emit ended(ending);
    }
    return true;
}

void Session::closeUnused()
{
    if (m_reportDue)
        close();
    else if (m_port->isOpen())
        m_port->close();
}

RunReport Session::report() const
{
    RunReport r;
    r.outcome = m_run.outcome();
    r.text = m_run.outcomeText();
    if (m_file.hasFile()) {
        r.filePath = m_file.currentPath();
        r.size = m_file.size();
        r.sha256 = m_file.sha256();
    }
    r.saved = m_file.isCommitted();
    r.previousKeptAs = m_file.previousKeptAs();
    r.partPath = m_file.partPath();
    r.refusedStoppedDump = m_file.error() == DumpFile::Error::StoppedDump;
    r.stoppedMayContinue = m_file.stoppedMayContinue();
    r.nameTaken = m_file.error() == DumpFile::Error::NameTaken;
    r.stoppedWholeBlocks = m_file.stoppedWholeBlocks();
    r.mayContinue = m_file.mayContinue();
    r.continuesFrom = m_file.continuesFrom();
    if (r.refusedStoppedDump) {
        r.untouchedPart = r.partPath;
        r.untouchedWholeBlocks = r.stoppedWholeBlocks;
        r.untouchedBytes = m_file.stoppedBytes();
    } else if (m_continued.continues() && !m_file.continuedStoppedDump()
               && m_file.error() != DumpFile::Error::PartChanged) {
        r.untouchedPart = m_continued.partPath;
        r.untouchedWholeBlocks = m_continued.wholeBlocks;
        r.untouchedBytes = m_continued.partSize;
    }
    r.endedAtBlock = m_run.endedAtBlock();
    r.requestedBlocks = m_requestedBlocks;
    r.continued = m_file.continuedStoppedDump();
    if (r.continued) {
        r.continuedFrom = m_continued.firstRequested();
        r.comparedBlocks = m_continued.comparedCount();
        r.keptBlocks = m_continued.keptBlocks();
    }
    r.hardwareVersion = m_hardwareVersion;
    r.softwareVersion = m_softwareVersion;
    r.goodBlocks = m_goodBlocks;
    r.blankBlocks = m_blankBlocks;
    r.zeroBlocks = m_zeroBlocks;
    return r;
}

NextStep RunReport::nextStep(RunResult result) const
{
    const NextStep step = resultRow(result).next;
    if (nameTaken)
        return NextStep::MoveOrChooseFolder;
    if (step == NextStep::ContinueOrStartAgain && refusedStoppedDump)
        return stoppedMayContinue ? step : NextStep::StartAgain;
    if (step == NextStep::Continue && !mayContinue)
        return NextStep::None;
    return step;
}

QString Session::devicePath() const
{
    return m_port->devicePath();
}

bool Session::isOpen() const
{
    return m_port->isOpen();
}

} // namespace tarvik
