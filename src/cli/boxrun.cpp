// SPDX-License-Identifier: GPL-3.0-or-later
#include "boxrun.h"

#include "openfailure.h"
#include "options.h"
#include "session.h"

namespace tarvik::cli {

namespace {

QString resultOf(DumpRun::Outcome outcome)
{
    switch (outcome) {
    case DumpRun::Outcome::Success:
        return BoxRun::ResultOk;
    case DumpRun::Outcome::TotalMismatch:
        return QStringLiteral("total-mismatch");
    case DumpRun::Outcome::CheckError:
        return QStringLiteral("check-error");
    case DumpRun::Outcome::UnexpectedData:
        return QStringLiteral("unexpected-data");
    case DumpRun::Outcome::Timeout:
        return QStringLiteral("timeout");
    case DumpRun::Outcome::FileError:
        return QStringLiteral("file-error");
    case DumpRun::Outcome::None:
    case DumpRun::Outcome::PortClosed:
    case DumpRun::Outcome::PortLost:
        break;
    }
    return QStringLiteral("port-lost");
}

} // namespace

BoxRun::BoxRun(const Options &options, const QString &device, bool severalPorts, QObject *parent)
    : QObject(parent), m_options(options), m_device(device)
{
    if (m_options.stallMs > 0)
        m_run.setStallTimeout(m_options.stallMs);
    m_run.setWriteFile(!verifying());
    m_log.setFileName(logPathFor(m_options.logPath, m_options.nameOf(device), severalPorts));
    connect(&m_run, &DumpRun::blockReceived, this, &BoxRun::onBlock);
    // Not from inside the closing of the port: its log line comes first.
    connect(&m_run, &DumpRun::finished, this, &BoxRun::onRunFinished, Qt::QueuedConnection);
}

BoxRun::~BoxRun() = default;

bool BoxRun::verifying() const
{
    return !m_options.verifyPath.isEmpty();
}

int BoxRun::blockCount() const
{
    return m_options.blockCount;
}

qint64 BoxRun::bytes() const
{
    if (m_run.dumpFile().hasFile())
        return m_run.dumpFile().size();
    return verifying() ? qint64(m_blocksDone) * DumpFile::BlockSize : 0;
}

QString BoxRun::sha256() const
{
    if (m_run.dumpFile().hasFile())
        return QString::fromLatin1(m_run.dumpFile().sha256().toHex());
    if (verifying() && m_blocksDone > 0)
        return QString::fromLatin1(m_hash.resultView().toByteArray().toHex());
    return {};
}

void BoxRun::start()
{
    m_clock.start();
    if (!m_options.logPath.isEmpty() && !m_log.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        finish(QStringLiteral("file-error"),
               QStringLiteral("Cannot write the log %1: %2").arg(m_log.fileName(), m_log.errorString()));
        return;
    }
    const SerialService::OpenError error = Session::openDevice(m_port, m_device);
    if (error != SerialService::OpenError::None) {
        const OpenFailureReport report = describeOpenFailure(m_port, error, PortName::device(m_device));
        if (report.shown == OpenFailureReport::Shown::LogLine)
            appendLog(report.text + QStringLiteral("\r\n"));
        finish(ResultOpenFailed, report.oneLine());
        return;
    }
    m_meter.start(m_options.blockCount);
    m_progressText = ProgressMeter::format(0, m_options.blockCount, -1);
    m_run.start(m_options.startBlock, m_options.blockCount, m_options.outputFolder);
    if (m_run.stage() == DumpRun::Stage::Handshake)
        emit notice(QStringLiteral("port open, waiting for the boot loader (put the box into its HOST - MODE)"));
}

void BoxRun::interrupt()
{
    if (m_done)
        return;
    m_interrupted = true;
    closePort();
    // A port that was never opened has no run to end.
    if (!m_done)
        onRunFinished();
}

void BoxRun::replaceLog(const QString &text)
{
    if (!m_log.isOpen())
        return;
    m_log.resize(0);
    m_log.seek(0);
    appendLog(text);
}

void BoxRun::appendLog(const QString &text)
{
    if (!m_log.isOpen())
        return;
    m_log.write(text.toLatin1());
    m_log.flush();
}

void BoxRun::showModel(const QString &model)
{
    m_model = model;
    emit progressed();
}

void BoxRun::showProgress(int blocksDone)
{
    m_blocksDone = blocksDone;
    m_progressText = m_meter.update(blocksDone);
    emit progressed();
}

bool BoxRun::headerTicked()
{
    return m_options.header;
}

void BoxRun::showMessage(const QString &text, const QString &)
{
    m_fileMessage = text;
}

void BoxRun::closePort()
{
    const QString path = m_run.dumpFile().currentPath();
    if (!path.isEmpty())
        m_filePath = path;
    Session::end(m_port, m_run, *this);
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

void BoxRun::onRunFinished()
{
    if (m_done)
        return;
    // A stopped run keeps its port and file open in the window until Close; here
    // nobody is left to click it.
    closePort();
    if (m_interrupted) {
        finish(ResultInterrupted, QStringLiteral("interrupted"));
        return;
    }
    const DumpRun::Outcome outcome = m_run.outcome();
    QString result = resultOf(outcome);
    if (outcome == DumpRun::Outcome::Success && verifying())
        result = m_differing.isEmpty() ? ResultIdentical : ResultDifferent;
    QString failure = outcome == DumpRun::Outcome::FileError ? m_fileMessage : m_run.outcomeText();
    if (outcome == DumpRun::Outcome::None)
        failure = QStringLiteral("Serial port closed");
    finish(result, failure);
}

void BoxRun::finish(const QString &result, const QString &failure)
{
    m_seconds = m_clock.isValid() ? double(m_clock.nsecsElapsed()) / 1e9 : 0;
    m_result = result;
    m_failure = result == ResultOk || result == ResultIdentical || result == ResultDifferent ? QString()
                                                                                              : failure;
    m_log.close();
    m_done = true;
    if (!m_failure.isEmpty())
        emit notice(m_failure);
    emit finished();
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
